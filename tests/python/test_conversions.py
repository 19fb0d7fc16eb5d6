"""Between formats: GPX to TCX and back, and the bundled examples."""

import subprocess
import sys
from pathlib import Path

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import CORPUS, POINT_FIELDS, activity_values, gpx_values, tcx_values  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import characters, floats, kinds, times  # noqa: E402

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


# Both formats carry all ten point fields, so any value survives GPX -> TCX -> GPX, on the points
# both keep and where TCX has room for it. Most points have a position and a time.
in_range = {"latitude": st.floats(-90, 90), "longitude": st.floats(-180, 180), "time": times}


def maybe(name: str) -> st.SearchStrategy:
    return in_range.get(name, st.none()) | st.none() | kinds.get(name, floats)


any_points = st.builds(TrackPoint, **{n: maybe(n) for n in POINT_FIELDS})
# Sports come back from TCX normalised: only these survive unchanged.
tcx_sports = st.sampled_from(["running", "cycling", "other"])


@SETTINGS
@given(files(any_points, tcx_sports))
def test_gpx_to_tcx_to_gpx_keeps_names_segments_and_every_point_field(file):
    via_tcx = tramlix.loads(tramlix.loads(file.to_gpx()).to_tcx())
    # A TCX Track needs a Trackpoint: segments left without points are gone.
    kept = [activity_values(a, tcx_values) for a in file.activities]
    expected = [(name, sport, [s for s in segments if s]) for name, sport, segments in kept]
    if not any(segments for _, _, segments in expected):
        with pytest.raises(tramlix.TramlixError, match="no track segments found"):
            tramlix.loads(via_tcx.to_gpx())
        return
    back = tramlix.loads(via_tcx.to_gpx())
    assert [*map(activity_values, back.activities)] == expected


def test_corpus_tcx_converts_to_gpx_and_back(tmp_path):
    """Every point with a position comes back with all its values (GPX needs the position)."""
    if not CORPUS.is_dir():
        pytest.skip(f"the shared corpus is not at {CORPUS} (a clone without it)")
    for source in sorted((CORPUS / "tcx").glob("*.tcx")):
        tramlix.convert(source, tmp_path / "a.gpx")
        tramlix.convert(tmp_path / "a.gpx", tmp_path / "b.TCX")
        original, again = tramlix.load(source), tramlix.load(tmp_path / "b.TCX")
        expected = [activity_values(a, gpx_values) for a in original.activities]
        assert sum(len(s) for _, _, segments in expected for s in segments) > 0, source.name
        assert [*map(activity_values, again.activities)] == expected, source.name


def tcx_laps(laps: list[list[float]]) -> bytes:
    """A run whose laps hold one track each, with these recorded distances, a second apart
    (standing still: only the recorded distances can tell how far it went)."""
    seconds = iter(range(100))
    tracks = (
        "<Lap><Track>"
        + "".join(f"<Trackpoint><Time>2024-05-01T08:00:{next(seconds):02d}Z</Time>"
                  "<Position><LatitudeDegrees>46</LatitudeDegrees><LongitudeDegrees>14</LongitudeDegrees>"
                  f"</Position><DistanceMeters>{d}</DistanceMeters></Trackpoint>" for d in lap)
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


# One model with something for each format to leave out: a point without a time and with a lone
# latitude, one without a position, a heart rate above 255, a NaN and an infinity, a sport FIT
# has no code for and a name longer than FIT's 254 bytes.
LOSSY = ActivityFile([Activity(name="x" * 300, sport="Road Cycling", segments=[Segment([
    TrackPoint(time="2024-05-01T00:00:00Z", latitude=45, longitude=7, heart_rate_bpm=300,
               elevation_m=float("nan")),
    TrackPoint(latitude=45.1),
    TrackPoint(time="2024-05-01T00:00:09Z", speed_mps=float("inf")),
])])])  # fmt: skip


@pytest.mark.parametrize(
    ("format", "omitted"),
    [
        (" .GPX", {"points_without_position": 2, "values_not_finite": 1}),
        ("tcx", {"points_without_time": 1, "values_not_finite": 2, "values_out_of_range": 1}),
        ("fit", {"values_not_finite": 2, "values_out_of_range": 1, "names_unknown": 1,
                 "texts_shortened": 1}),
    ],
)  # fmt: skip
def test_omissions_count_what_each_format_leaves_out(tmp_path, format, omitted):
    assert LOSSY.omissions(format) == omitted
    assert LOSSY.omissions(format=format) == omitted
    path = tmp_path / f"out.{format.strip(' .')}"
    assert LOSSY.save_with_omissions(path) == omitted
    assert path.read_bytes() == LOSSY.to_bytes(format)
    # Of what a format keeps, nothing more is lost on the way back out.
    again = tramlix.loads(LOSSY.to_bytes(format), format)
    assert again.omissions(format) == {}


def test_omissions_of_an_unknown_format_is_the_format_error():
    message = "^unsupported or unrecognized activity format: kml$"
    with pytest.raises(tramlix.TramlixError, match=message):
        LOSSY.omissions("kml")
    with pytest.raises(TypeError):
        LOSSY.omissions()


def test_committed_examples_are_what_the_script_makes(tmp_path):
    """The bundled files come from examples/make_example.py and nothing else."""
    examples = Path(__file__).resolve().parents[2] / "examples"
    outputs = [tmp_path / f"run.{ext}" for ext in ("gpx", "tcx", "fit")]
    subprocess.run([sys.executable, str(examples / "make_example.py"),
                    *(arg for out in outputs for arg in ("--out", str(out)))],
                   check=True, capture_output=True)  # fmt: skip
    for out in outputs:
        assert out.read_bytes() == (examples / out.name).read_bytes(), out.name
