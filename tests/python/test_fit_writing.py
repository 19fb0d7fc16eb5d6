"""FIT files we write: read back within FIT's resolution, and judged by two peers."""

import datetime as dt
import shutil
import subprocess
from decimal import ROUND_HALF_UP, Decimal

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import CORPUS, RUN_GPX  # noqa: E402
from fit_peer import SEMICIRCLES_PER_DEGREE as SC  # noqa: E402
from fit_peer import SUMMARY, Decoder, our_view, peer_view  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import tramlix  # noqa: E402
from tramlix import Activity, ActivityFile, ActivitySummary, Segment, TrackPoint  # noqa: E402
from tramlix.cli import main  # noqa: E402

U8, U16, U32 = 2**8 - 2, 2**16 - 2, 2**32 - 2  # the largest raw values that are not invalid
# Scale, offset and raw range of the FIT field each value goes to: point fields, then session
# fields, where an ascent or descent of 0 is not written.
RESOLUTION = {
    "latitude": (SC, 90, 0, 2**31), "longitude": (SC, 180, 0, U32), "elevation_m": (5, 500, 0, U16),
    "distance_m": (100, 0, 0, U32), "heart_rate_bpm": (1, 0, 0, U8), "cadence_rpm": (1, 0, 0, U8),
    "speed_mps": (1000, 0, 0, U16), "power_watts": (1, 0, 0, U16), "temperature_c": (1, 128, 0, U8),
    "total_elapsed_seconds": (1000, 0, 0, U32), "total_timer_seconds": (1000, 0, 0, U32),
    "total_moving_seconds": (1000, 0, 0, U32), "total_distance_meters": (100, 0, 0, U32),
    "average_speed_mps": (1000, 0, 0, U32), "average_heart_rate_bpm": (1, 0, 0, U8),
    "total_ascent_meters": (1, 0, 1, U16), "total_descent_meters": (1, 0, 1, U16),
}  # fmt: skip
POINT_NAMES = list(RESOLUTION)[:9]


def in_range(name: str, beyond: float = 1.0) -> st.SearchStrategy:
    """None, or values FIT can hold (up to `beyond` times the largest)."""
    scale, offset, low, high = RESOLUTION[name]
    if scale == 1 and name in POINT_NAMES:
        return st.none() | st.integers(low - offset, high - offset)
    return st.none() | st.floats(low / scale - offset, (high / scale - offset) * beyond)


# The session's average heart rate, ascent and descent are clamped to their field's range.
CLAMPED = {"average_heart_rate_bpm", "total_ascent_meters", "total_descent_meters"}


def assert_kept(back, original, names) -> None:
    """Values come back within FIT's resolution, or absent when out of their field's range."""
    for name in names:
        value, got = getattr(original, name), getattr(back, name)
        scale, offset, low, high = RESOLUTION[name]
        raw = value is not None and Decimal((value + offset) * scale).to_integral(ROUND_HALF_UP)
        if value is not None and name in CLAMPED and raw > high:
            assert got == high / scale - offset, name
        elif value is not None and low <= raw <= high:
            assert abs(got - value) <= 0.5 / scale + 1e-9 * abs(value), name
        else:
            assert got is None, name


def whole_seconds(time: str | None) -> str | None:
    return time and dt.datetime.fromisoformat(time).replace(microsecond=0).isoformat()


# Times after the FIT epoch; session totals also beyond their fields' ranges.
times = st.none() | st.datetimes(
    dt.datetime(1999, 1, 1), dt.datetime(2100, 1, 1), timezones=st.just(dt.UTC)
)
points = st.builds(TrackPoint, time=times, **{n: in_range(n) for n in POINT_NAMES})
summaries = st.builds(ActivitySummary, **{n: in_range(n, beyond=1.2) for n in SUMMARY})
names = st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\0"), max_size=20)


# Without points, or without an end, an activity has no session: its records join the next one.
activities = st.builds(
    Activity, name=st.none() | names, sport=st.none() | st.sampled_from(["running", "rowing"]),
    sub_sport=st.none() | st.sampled_from(["road", "trail"]), start_time=times,
    summary=summaries, segments=st.lists(st.lists(points, max_size=4).map(Segment), max_size=3),
).filter(lambda a: a.point_count and a.end_time)  # fmt: skip
files = st.builds(ActivityFile, st.lists(activities, min_size=1, max_size=3))
SETTINGS = settings(deadline=None, suppress_health_check=list(HealthCheck))


@settings(SETTINGS, max_examples=300)
@given(files)
def test_random_models_round_trip_within_fit_resolution(file):
    back = tramlix.loads(file.to_fit())
    for again, activity in zip(back.activities, file.activities, strict=True):
        originals = [p for s in activity.segments for p in s.points]
        start = activity.start_time or next(p.time for p in originals if p.time)
        assert (again.name, again.sport, again.sub_sport, again.start_time) == (
            activity.name or None,
            activity.sport,
            activity.sub_sport,
            whole_seconds(start),
        )
        recorded = [n for n in SUMMARY if getattr(activity.summary, n) is not None]  # or derived
        assert_kept(again.summary, activity.summary, recorded)
        (segment,) = again.segments
        assert [p.time for p in segment.points] == [whole_seconds(p.time) for p in originals]
        for point, original in zip(segment.points, originals, strict=True):
            assert_kept(point, original, POINT_NAMES)


def assert_peers_accept(data: bytes, path) -> None:
    """GPSBabel finds every positioned record; garmin-fit-sdk, CRC checked, sees what we read."""
    if shutil.which("gpsbabel") is None:
        pytest.skip("gpsbabel is not installed (Debian package gpsbabel)")
    path.write_bytes(data)
    ours = our_view(tramlix.loads(data))
    command = ["gpsbabel", "-t", "-i", "garmin_fit", "-f", str(path), "-o", "unicsv", "-F", "-"]
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (0, "")
    positioned = sum(None not in point[1:3] for _, points in ours for point in points)
    assert max(len(result.stdout.splitlines()) - 1, 0) == positioned  # a header line first
    if Decoder is None:
        pytest.skip("garmin-fit-sdk is not installed (pip install garmin-fit-sdk==21.200.0)")
    activities, _, errors = peer_view(path)
    assert (activities, errors) == (ours, [])


def has_points(path) -> bool:
    try:
        return tramlix.load(path).point_count > 0
    except tramlix.TramlixError:
        return False  # not an activity, or broken on purpose


CORPUS_FILES = sorted(p for p in CORPUS.rglob("*") if p.suffix.lower() in (".fit", ".gpx", ".tcx"))


@pytest.mark.parametrize("path", [p for p in CORPUS_FILES if has_points(p)], ids=lambda p: p.name)
def test_peers_accept_corpus_activities_written_as_fit(path, tmp_path):
    assert_peers_accept(tramlix.load(path).to_fit(), tmp_path / "out.fit")


@settings(SETTINGS, max_examples=25)
@given(files)
def test_peers_accept_random_models_written_as_fit(tmp_path_factory, file):
    assert_peers_accept(file.to_fit(), tmp_path_factory.mktemp("peer") / "out.fit")


@pytest.mark.parametrize("source", ["fit", "gpx", "tcx"])
def test_all_nine_conversions_from_python_and_the_cli(tmp_path, run_gpx, source):
    origin = tmp_path / f"start.{source}"
    tramlix.convert(run_gpx, origin)
    fixes = lambda f: [(p.time[:19], round(p.latitude, 7), p.heart_rate_bpm)  # noqa: E731
                       for a in f.activities for s in a.segments for p in s.points]  # fmt: skip
    for target in ("fit", "gpx", "tcx"):
        tramlix.convert(origin, tmp_path / f"py.{target.upper()}")
        assert main(["convert", str(origin), str(tmp_path / f"cli.{target}")]) == 0
        for out in (tmp_path / f"py.{target.upper()}", tmp_path / f"cli.{target}"):
            assert fixes(tramlix.load(out)) == fixes(tramlix.loads(RUN_GPX)), out.name
    assert tramlix.load(origin).to_bytes("FIT") == tramlix.load(origin).to_fit()
