import datetime as dt
import os
from pathlib import Path

import pytest

import tramlix

try:
    from hypothesis import settings
except ImportError:  # the property tests skip themselves
    pass
else:
    # In CI the property tests draw the same examples on every run: a failure there is a fault
    # to reproduce, never a roll of the dice. Elsewhere they explore afresh each time.
    settings.register_profile("ci", derandomize=True, database=None)
    if os.environ.get("CI"):
        settings.load_profile("ci")

CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"
POINT_FIELDS = ("time latitude longitude elevation_m distance_m heart_rate_bpm cadence_rpm "
                "speed_mps power_watts temperature_c").split()  # fmt: skip
START = dt.datetime(2024, 5, 1)
GPX_HEAD = (
    '<?xml version="1.0" encoding="UTF-8"?><gpx version="1.1" creator="elsewhere" '
    'xmlns="http://www.topografix.com/GPX/1/1" '
    'xmlns:gpxtpx="http://www.garmin.com/xmlschemas/TrackPointExtension/v2">'
)


# One track of `points` fixes `step` degrees and `seconds` apart.
def gpx(points: int, name: str = "big", step: float = 1e-5, seconds: int = 1) -> bytes:
    body = "".join(
        f'<trkpt lat="{45 + i * step:.6f}" lon="{13 + i * step:.6f}"><ele>{100 + i * 5 % 7}</ele>'
        f"<time>{START + dt.timedelta(seconds=i * seconds):%Y-%m-%dT%H:%M:%S}.125Z</time>"
        "<extensions><gpxtpx:TrackPointExtension>"
        f"<gpxtpx:hr>{140 + i % 80}</gpxtpx:hr><gpxtpx:distance>{i * 1500.5}</gpxtpx:distance>"
        "</gpxtpx:TrackPointExtension></extensions></trkpt>"
        for i in range(points)
    )
    track = f"<trk><name>{name}</name><type>running</type><trkseg>{body}</trkseg></trk>"
    return (GPX_HEAD + track + "</gpx>").encode()


# Three fixes 30 minutes apart, 3001 m in all, up 5 m then down 2 m, heart rate 140 to 142.
RUN_GPX = gpx(3, "Morning Run", step=0.01, seconds=1800)


def point_values(point: tramlix.TrackPoint) -> tuple[object, ...]:
    # Floats by repr: -0.0 is not 0.0, and 52.0 is not 52.
    values = (getattr(point, name) for name in POINT_FIELDS)
    return tuple(repr(v) if isinstance(v, float) else v for v in values)


def activity_values(activity: tramlix.Activity) -> tuple[object, ...]:
    segments = [[point_values(p) for p in s.points] for s in activity.segments]
    return activity.name, activity.sport, segments


@pytest.fixture
def run_gpx(tmp_path: Path) -> Path:
    (tmp_path / "run.gpx").write_bytes(RUN_GPX)
    return tmp_path / "run.gpx"

