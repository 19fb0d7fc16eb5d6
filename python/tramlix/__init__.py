"""Fast FIT, GPX and TCX activity files: read, analyse, convert."""

from ._many import load_many, points, summaries
from ._tramlix import (
    Activity,
    ActivityFile,
    ActivitySummary,
    Bounds,
    DeviceInfo,
    ElevationGain,
    MovingData,
    Segment,
    Table,
    TrackPoint,
    TramlixError,
    __version__,
    convert,
    load,
    loads,
    recover,
)

__all__ = [
    "__version__",
    "TramlixError",
    "TrackPoint",
    "Segment",
    "ActivitySummary",
    "DeviceInfo",
    "ElevationGain",
    "MovingData",
    "Bounds",
    "Activity",
    "ActivityFile",
    "load",
    "loads",
    "convert",
    "recover",
    "Table",
    "load_many",
    "summaries",
    "points",
]
