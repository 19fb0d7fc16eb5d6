from __future__ import annotations

from pathlib import Path

import pytest

import tramlix

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT.parent / "shared" / "corpus"

GPX_HEAD = (
    '<?xml version="1.0" encoding="UTF-8"?>'
    '<gpx version="1.1" creator="elsewhere" xmlns="http://www.topografix.com/GPX/1/1" '
    'xmlns:gpxtpx="http://www.garmin.com/xmlschemas/TrackPointExtension/v2">'
)

# Three fixes an hour apart in all, climbing 6 m and dropping 2 m, heart rate 140/150/160.
RUN_GPX = (
    GPX_HEAD
    + "<trk><name>Morning Run</name><type>running</type><trkseg>"
    + "".join(
        f'<trkpt lat="{lat}" lon="{lon}"><ele>{ele}</ele><time>{time}</time>'
        "<extensions><gpxtpx:TrackPointExtension>"
        f"<gpxtpx:hr>{hr}</gpxtpx:hr>"
        "</gpxtpx:TrackPointExtension></extensions></trkpt>"
        for lat, lon, ele, time, hr in [
            (52.5, 13.4, 34.0, "2024-05-01T06:30:00Z", 140),
            (52.51, 13.4, 40.0, "2024-05-01T06:35:00Z", 150),
            (52.52, 13.41, 38.0, "2024-05-01T07:30:00Z", 160),
        ]
    )
    + "</trkseg></trk></gpx>"
).encode()


def big_gpx(points: int) -> bytes:
    """A one-track document with `points` fixes, every field GPX carries filled in."""
    body = "".join(
        f'<trkpt lat="{45 + i * 1e-5:.6f}" lon="{13 + i * 1e-5:.6f}"><ele>{100 + i % 50}.5</ele>'
        f"<time>2024-05-01T{i // 3600 % 24:02d}:{i // 60 % 60:02d}:{i % 60:02d}.125Z</time>"
        "<extensions><gpxtpx:TrackPointExtension>"
        f"<gpxtpx:atemp>{i % 40 - 10}</gpxtpx:atemp><gpxtpx:hr>{100 + i % 80}</gpxtpx:hr>"
        f"<gpxtpx:cad>{i % 120}</gpxtpx:cad><gpxtpx:speed>{i % 7}.25</gpxtpx:speed>"
        f"<gpxtpx:power>{i % 400}</gpxtpx:power><gpxtpx:distance>{i * 1.5}</gpxtpx:distance>"
        "</gpxtpx:TrackPointExtension></extensions></trkpt>"
        for i in range(points)
    )
    return (GPX_HEAD + "<trk><name>big</name><trkseg>" + body + "</trkseg></trk></gpx>").encode()


def point_values(point: tramlix.TrackPoint) -> tuple[object, ...]:
    """Every field of a point, floats by repr so that -0.0 and NaN compare exactly."""
    values = (
        point.time,
        point.latitude,
        point.longitude,
        point.elevation_m,
        point.distance_m,
        point.heart_rate_bpm,
        point.cadence_rpm,
        point.speed_mps,
        point.power_watts,
        point.temperature_c,
    )
    return tuple(repr(v) if isinstance(v, float) else v for v in values)


def activity_values(activity: tramlix.Activity) -> tuple[object, ...]:
    return (
        activity.name,
        activity.sport,
        [[point_values(p) for p in segment.points] for segment in activity.segments],
    )


@pytest.fixture
def run_gpx(tmp_path: Path) -> Path:
    path = tmp_path / "run.gpx"
    path.write_bytes(RUN_GPX)
    return path


@pytest.fixture(scope="session")
def corpus() -> Path:
    if not CORPUS.is_dir():
        pytest.skip(f"the shared corpus is not at {CORPUS} (a clone without it)")
    return CORPUS
