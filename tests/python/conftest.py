import datetime as dt
import os
import re
from pathlib import Path

import pytest

import tramlix
from tramlix.cli import main

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


def activity_values(activity: tramlix.Activity, kept=point_values) -> tuple[object, ...]:
    """Name, sport and the point values by segment; `kept` gives a point's values, or None for a
    point left out."""
    segments = [[v for p in s.points if (v := kept(p)) is not None] for s in activity.segments]
    return activity.name, activity.sport, segments


def gpx_values(point: tramlix.TrackPoint) -> tuple[object, ...] | None:
    """What GPX keeps of a point: nothing without both coordinates in range; longitude 180 is
    the meridian of -180 and comes back so."""
    lat, lon = point.latitude, point.longitude
    if lat is None or lon is None or not (-90 <= lat <= 90 and -180 <= lon <= 180):
        return None
    values = point_values(point)
    return values[:2] + (repr(-180.0),) + values[3:] if lon == 180 else values


def tcx_values(point: tramlix.TrackPoint) -> tuple[object, ...] | None:
    """What TCX keeps of a point with its position: nothing without a time; a heart rate only
    from 1 to 255 and a cadence up to 254."""
    values = gpx_values(point)
    if values is None or point.time is None:
        return None
    fields = dict(zip(POINT_FIELDS, values, strict=True))
    if fields["heart_rate_bpm"] is not None and not 1 <= fields["heart_rate_bpm"] <= 255:
        fields["heart_rate_bpm"] = None
    if fields["cadence_rpm"] is not None and fields["cadence_rpm"] > 254:
        fields["cadence_rpm"] = None
    return tuple(fields.values())


def run(capsys, *argv: object) -> tuple[int, str, str]:
    """The command line's exit code, output and error output for `argv`."""
    code = main([str(a) for a in argv])
    return (code, *capsys.readouterr())


def blames(err: str, path: object, message: str) -> bool:
    # One line naming the file, then the message.
    line = re.escape(f"tramlix: error: {path}: ") + ".*" + re.escape(message) + ".*\n"
    return bool(re.fullmatch(line, err))


@pytest.fixture
def run_gpx(tmp_path: Path) -> Path:
    (tmp_path / "run.gpx").write_bytes(RUN_GPX)
    return tmp_path / "run.gpx"
