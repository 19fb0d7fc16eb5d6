"""Between formats: GPX to TCX and back, and what the writers produce against the schemas."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import CORPUS, POINT_FIELDS, activity_values  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from test_roundtrip import characters, floats, kinds, times  # noqa: E402

import tramlix  # noqa: E402
from tramlix import Activity, ActivityFile, Segment, TrackPoint  # noqa: E402

SETTINGS = settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
names = st.text(characters | st.sampled_from("\t\n<>&'\""), max_size=20)


def files(point: st.SearchStrategy, sport: st.SearchStrategy) -> st.SearchStrategy:
    """Files of one to three named activities with distinct start times."""
    segment = st.lists(point, min_size=1, max_size=4).map(Segment)
    activity = st.builds(Activity, name=names, sport=sport, start_time=times,
                         segments=st.lists(segment, min_size=1, max_size=3))  # fmt: skip
    activities = st.lists(activity, min_size=1, max_size=3, unique_by=lambda a: a.start_time)
    return st.builds(ActivityFile, activities)


# Both formats carry all ten point fields, so any value survives GPX -> TCX -> GPX.
any_points = st.builds(TrackPoint, **{n: st.none() | kinds.get(n, floats) for n in POINT_FIELDS})
# Sports come back from TCX normalised: only these survive unchanged.
tcx_sports = st.sampled_from(["running", "cycling", "other"])


@SETTINGS
@given(files(any_points, tcx_sports))
def test_gpx_to_tcx_to_gpx_keeps_names_segments_and_every_point_field(file):
    via_tcx = tramlix.loads(tramlix.loads(file.to_gpx()).to_tcx())
    back = tramlix.loads(via_tcx.to_gpx())
    assert [*map(activity_values, back.activities)] == [*map(activity_values, file.activities)]


def test_corpus_tcx_converts_to_gpx_and_back(tmp_path):
    if not CORPUS.is_dir():
        pytest.skip(f"the shared corpus is not at {CORPUS} (a clone without it)")
    for source in sorted((CORPUS / "tcx").glob("*.tcx")):
        tramlix.convert(source, tmp_path / "a.gpx")
        tramlix.convert(tmp_path / "a.gpx", tmp_path / "b.TCX")
        original, again = tramlix.load(source), tramlix.load(tmp_path / "b.TCX")
        assert again.point_count == original.point_count > 0, source.name
        assert [*map(activity_values, again.activities)] == [
            *map(activity_values, original.activities)
        ], source.name


def tcx_laps(laps: list[list[float]]) -> bytes:
    """A run whose laps hold one track each, with these recorded distances, a second apart."""
    seconds = iter(range(100))
    tracks = (
        "<Lap><Track>"
        + "".join(f"<Trackpoint><Time>2024-05-01T08:00:{next(seconds):02d}Z</Time>"
                  f"<DistanceMeters>{d}</DistanceMeters></Trackpoint>" for d in lap)
        + "</Track></Lap>"
        for lap in laps
    )  # fmt: skip
    return (
        '<?xml version="1.0"?><TrainingCenterDatabase '
        'xmlns="http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2"><Activities>'
        '<Activity Sport="Running"><Id>2024-05-01T08:00:00Z</Id>' + "".join(tracks) +
        "</Activity></Activities></TrainingCenterDatabase>"
    ).encode()  # fmt: skip


@pytest.mark.parametrize(
    ("laps", "distance"),
    [
        ([[0, 2500, 5000], [0, 2600, 5200]], 10200),  # every lap restarts at 0
        ([[0, 2500], [2500, 5000]], 5000),  # counting up through the laps
        ([[42000, 42350], [42350, 42700]], 700),  # cut from a longer recording
    ],
)
def test_distance_from_recorded_distances_reaches_every_writer(laps, distance):
    file = tramlix.loads(tcx_laps(laps))
    assert file.activities[0].distance_meters == distance
    assert f"<DistanceMeters>{distance}.0</DistanceMeters><Calories>" in file.to_tcx().decode()
    assert tramlix.loads(file.to_fit()).activities[0].summary.total_distance_meters == distance
    assert tramlix.loads(file.to_gpx()).activities[0].distance_meters == distance


# What the schemas accept: positions inside their ranges on every point, a time on every
# point (TCX requires it), heart rate 1-255 and cadence up to 254 (TCX). GPX coordinates and
# elevations are xsd:decimal, which xmllint holds to 24 digits: that leaves out values within
# 1e-7 of zero written with all their digits, and elevations beyond 1e15 m. Recorded distances
# stay far enough inside the double range that the lap distance, a sum of their rises, does too.
def decimals(low: float, high: float, **kwargs) -> st.SearchStrategy:
    return st.floats(low, high, **kwargs).filter(lambda x: x == 0 or abs(x) >= 1e-7)


latitudes = decimals(-90, 90)
longitudes = decimals(-180, 180, exclude_max=True)
valid_points = st.builds(
    TrackPoint, time=times, latitude=latitudes, longitude=longitudes,
    elevation_m=st.none() | decimals(-1e15, 1e15), distance_m=st.none() | st.floats(-1e300, 1e300),
    heart_rate_bpm=st.none() | st.integers(1, 255), cadence_rpm=st.none() | st.integers(0, 254),
    speed_mps=st.none() | floats, power_watts=st.none() | kinds["power_watts"],
    temperature_c=st.none() | kinds["temperature_c"],
)  # fmt: skip
any_sport = st.none() | names.filter(lambda s: s.strip().lower() != "multisport")


def schema(name: str):
    path = CORPUS / "xsd" / name
    if not path.is_file() or shutil.which("xmllint") is None:
        pytest.skip("schema validation needs the corpus schemas and xmllint (libxml2-utils)")
    return path


@SETTINGS
@given(file=files(valid_points, any_sport))
def test_written_documents_are_schema_valid(tmp_path_factory, file):
    folder = tmp_path_factory.mktemp("schema")
    for document, xsd in ((file.to_gpx(), "gpx-1.1.xsd"), (file.to_tcx(), "TrainingCenterDatabasev2.xsd")):
        path = folder / "doc.xml"
        path.write_bytes(document)
        check = subprocess.run(["xmllint", "--noout", "--schema", str(schema(xsd)), str(path)],
                               capture_output=True, text=True)  # fmt: skip
        assert check.returncode == 0, check.stderr


def test_committed_examples_are_what_the_script_makes(tmp_path):
    """The bundled files come from examples/make_example.py and nothing else."""
    examples = Path(__file__).resolve().parents[2] / "examples"
    outputs = [tmp_path / f"run.{ext}" for ext in ("gpx", "tcx", "fit")]
    subprocess.run([sys.executable, str(examples / "make_example.py"),
                    *(arg for out in outputs for arg in ("--out", str(out)))],
                   check=True, capture_output=True)  # fmt: skip
    for out in outputs:
        assert out.read_bytes() == (examples / out.name).read_bytes(), out.name
