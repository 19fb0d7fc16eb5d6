"""tramlix splits: each activity cut into equal distances, with time, pace and heart rate."""

from __future__ import annotations

import re

from .. import load
from . import _tables
from ._common import ANY_FORMAT

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from collections.abc import Callable
    from typing import Any

NAME = "splits"
HELP = "print distance splits (every km, mile, ...) of each activity"
DESCRIPTION = f"""\
Cut each activity of a {ANY_FORMAT} file (gzip-compressed or not) into
equal distances along its track and print each completed split: when it
started, how long it took, the pace, the average heart rate and the change
in elevation. Distances come from the recorded distances where the points
have them, else from the positions. --json and --csv print every column in
SI units (needs pyarrow: pip install 'tramlix[pandas]')."""

EPILOG = """\
examples:
  tramlix splits run.fit
  tramlix splits --every 1mi run.gpx
  tramlix splits --every 500m --csv swim.fit > splits.csv"""

_UNITS = {"m": 1.0, "km": 1000.0, "mi": 1609.344}


def split_length(text: str) -> float:
    """'1km', '1mi', '500m', '400' (metres) as metres."""
    import argparse

    match = re.fullmatch(r"\s*([0-9]*\.?[0-9]+)\s*(m|km|mi)?\s*", text.lower())
    metres = float(match[1]) * _UNITS[match[2] or "m"] if match else 0.0
    if metres <= 0:
        raise argparse.ArgumentTypeError(f"not a distance: {text!r} (use e.g. 1km, 1mi, 500m)")
    return metres


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help=f"a {ANY_FORMAT} file")
    parser.add_argument(
        "--every",
        metavar="DISTANCE",
        type=split_length,
        default=1000.0,
        help="the length of a split: 1km (the default), 1mi, 500m, ...",
    )
    _tables.add_format_arguments(parser, "splits")


def run(args: argparse.Namespace) -> int:
    try:
        file = load(args.file)
        tables = [activity.splits(args.every) for activity in file.activities]
        read = [_tables.rows(table) for table in tables]
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        return _tables.fail(args.file, error)
    columns = ["activity", *(read[0][0] if read else [])]
    records = [
        {"activity": number, **record}
        for number, (_, activity_records) in enumerate(read)
        for record in activity_records
    ]
    unit = "/mi" if abs(args.every - 1609.344) < 1e-9 else "/km"
    factor = 1.609344 if unit == "/mi" else 1.0
    shown: list[tuple[str, str, Callable[[Any], str]]] = [
        ("activity", "activity", _tables.cell),
        ("split", "split", _tables.cell),
        ("end_distance_m", "km", _tables.scaled(0.001, 2)),
        ("start_time", "start", _tables.cell),
        ("elapsed_seconds", "time", _tables.clock),
        ("pace_seconds_per_km", "pace" + unit, lambda v: _tables.clock(_pace(v, factor))),
        ("average_heart_rate_bpm", "avg hr", _tables.scaled(1, 0)),
        ("elevation_change_m", "elev m", _tables.scaled(1, 1)),
    ]
    _tables.write_records(args, columns, records, shown, "no completed splits")
    return 0


def _pace(seconds_per_km: float | None, factor: float) -> float | None:
    return None if seconds_per_km is None else seconds_per_km * factor
