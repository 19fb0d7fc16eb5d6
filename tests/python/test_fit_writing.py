"""FIT files we write: read back within FIT's resolution, and judged by two peers."""

import datetime as dt
import shutil
import subprocess
from decimal import ROUND_HALF_UP, Decimal

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import CORPUS, RUN_GPX  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from test_fit import SEMICIRCLES_PER_DEGREE, SUMMARY, Decoder, close, peer_view  # noqa: E402

import tramlix  # noqa: E402
from tramlix import Activity, ActivityFile, ActivitySummary, Segment, TrackPoint  # noqa: E402
from tramlix.cli import main  # noqa: E402

U32 = 2**32 - 2  # the largest raw value that is not the invalid marker
SPORTS = {"run": "running", "running": "running", "bike": "cycling", "biking": "cycling",
          "cycling": "cycling", "walk": "walking", "walking": "walking", "hike": "hiking",
          "hiking": "hiking", "swim": "swimming", "swimming": "swimming", "other": "generic",
          "generic": "generic", "rowing": "rowing", "multisport": "multisport"}  # fmt: skip
SUB_SPORTS = ("road", "trail", "generic")  # profile names; anything else comes back absent


def corpus_activities() -> list:
    if not CORPUS.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"no corpus at {CORPUS}"))]
    found = []
    for path in sorted([*CORPUS.glob("fit/**/*"), *CORPUS.glob("gpx/*"), *CORPUS.glob("tcx/*")]):
        try:
            if path.is_file() and tramlix.load(path).point_count:
                found.append(pytest.param(path, id=str(path.relative_to(CORPUS))))
        except tramlix.TramlixError:
            pass  # not an activity, or broken on purpose
    return found


def through_fit(value, scale: float, offset: float = 0.0, max_raw: int = U32):
    """What FIT keeps of `value` in an integer field: itself, or None outside the raw range."""
    if value is None:
        return None
    raw = Decimal((value + offset) * scale).to_integral_value(rounding=ROUND_HALF_UP)
    return value if 0 <= raw <= max_raw else None


def near(back, value, scale: float) -> bool:
    if value is None or back is None:
        return back is value
    return abs(back - value) <= 0.5 / scale + 1e-9 * abs(value)


def whole_seconds(time: str | None) -> str | None:
    if time is None:
        return None
    return dt.datetime.fromisoformat(time).replace(microsecond=0).isoformat()


def rounded(value, cap: int):
    """Rounded half away from zero and capped; the cap is the field's invalid marker."""
    if value is None or value <= 0:
        return None
    n = min(int(Decimal(value).to_integral_value(rounding=ROUND_HALF_UP)), cap)
    return None if n == cap else float(n)


def assert_point(back: TrackPoint, point: TrackPoint) -> None:
    assert back.time == whole_seconds(point.time)
    for name in ("latitude", "longitude"):
        assert near(getattr(back, name), getattr(point, name), SEMICIRCLES_PER_DEGREE), name
    for name, scale, offset, max_raw in (("elevation_m", 5, 500, 65534),
                                         ("distance_m", 100, 0, U32),
                                         ("speed_mps", 1000, 0, 65534)):  # fmt: skip
        value = through_fit(getattr(point, name), scale, offset, max_raw)
        assert near(getattr(back, name), value, scale), name
    for name in ("heart_rate_bpm", "cadence_rpm", "power_watts", "temperature_c"):
        assert getattr(back, name) == getattr(point, name), name


def assert_activity(back: Activity, activity: Activity) -> None:
    """Session values as the writer derives them from the model, within FIT's resolution."""
    points = [p for s in activity.segments for p in s.points]
    start = activity.start_time or next(p.time for p in points if p.time)
    assert back.start_time == whole_seconds(start)
    sport = SPORTS.get(activity.sport.strip().lower()) if activity.sport else None
    sub_sport = activity.sub_sport if activity.sub_sport in SUB_SPORTS else None
    assert (back.name, back.sport, back.sub_sport) == (activity.name or None, sport, sub_sport)
    summary = activity.summary
    elapsed = summary.total_elapsed_seconds
    elapsed = activity.duration_seconds if elapsed is None else elapsed
    timer = elapsed if summary.total_timer_seconds is None else summary.total_timer_seconds
    distance = activity.distance_meters
    speed = summary.average_speed_mps
    if speed is None and timer > 0:
        speed = distance / timer
    gain = activity.elevation_gain
    got = back.summary
    for value, scale, name in ((elapsed, 1000, "total_elapsed_seconds"),
                               (timer, 1000, "total_timer_seconds"),
                               (summary.total_moving_seconds, 1000, "total_moving_seconds"),
                               (distance, 100, "total_distance_meters"),
                               (speed, 1000, "average_speed_mps")):  # fmt: skip
        assert near(getattr(got, name), through_fit(value, scale), scale), name
    # A heart rate of 0 is a value; ascent and descent of 0 are not written.
    heart_rate = activity.average_heart_rate_bpm
    assert got.average_heart_rate_bpm == (0.0 if heart_rate == 0 else rounded(heart_rate, 255))
    assert got.total_ascent_meters == rounded(gain.uphill_meters, 65535)
    assert got.total_descent_meters == rounded(gain.downhill_meters, 65535)


# Values inside the ranges of the FIT fields they go to, times after the FIT epoch.
def maybe(values: st.SearchStrategy) -> st.SearchStrategy:
    return st.none() | values


utc = st.just(dt.UTC)
times = st.datetimes(dt.datetime(1999, 1, 1), dt.datetime(2100, 1, 1), timezones=utc)
points = st.builds(
    TrackPoint, time=maybe(times), latitude=maybe(st.floats(-90, 90)),
    longitude=maybe(st.floats(-180, 179.9999998)),  # 2^31 - 1 semicircles: invalid
    elevation_m=maybe(st.floats(-500, 12606)), distance_m=maybe(st.floats(0, 4e7)),
    heart_rate_bpm=maybe(st.integers(0, 254)), cadence_rpm=maybe(st.integers(0, 254)),
    speed_mps=maybe(st.floats(0, 65.5)), power_watts=maybe(st.integers(0, 65534)),
    temperature_c=maybe(st.integers(-128, 126)),
)  # fmt: skip
seconds = maybe(st.floats(0, 4e6))
summaries = st.builds(
    ActivitySummary, total_elapsed_seconds=seconds, total_timer_seconds=seconds,
    total_moving_seconds=seconds, total_distance_meters=maybe(st.floats(0, 4e7)),
    average_speed_mps=maybe(st.floats(0, 4e6)), average_heart_rate_bpm=maybe(st.floats(0, 300)),
    total_ascent_meters=maybe(st.floats(0, 7e4)), total_descent_meters=maybe(st.floats(0, 7e4)),
)  # fmt: skip
sport_texts = st.builds("{}{}{}".format, st.sampled_from(["", " ", "\t"]),
                        st.sampled_from([*SPORTS, "Road Cycling", ""]).map(str.title),
                        st.sampled_from(["", " \n"]))  # fmt: skip
names = st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\0"), max_size=20)


def has_session(activity: Activity) -> bool:
    """Points, a start and an end: records of an activity without them join the next one."""
    timed = any(p.time for s in activity.segments for p in s.points)
    return bool(activity.point_count and activity.end_time and (activity.start_time or timed))


activities = st.builds(
    Activity, name=maybe(names), sport=maybe(sport_texts),
    sub_sport=maybe(st.sampled_from([*SUB_SPORTS, "Road", ""])), start_time=maybe(times),
    summary=summaries, segments=st.lists(st.lists(points, max_size=4).map(Segment), max_size=3),
).filter(has_session)  # fmt: skip
files = st.builds(ActivityFile, st.lists(activities, min_size=1, max_size=3))
SETTINGS = settings(
    deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much]
)


@settings(SETTINGS, max_examples=300)
@given(files)
def test_random_models_round_trip_within_fit_resolution(file):
    back = tramlix.loads(file.to_fit())
    assert len(back.activities) == len(file.activities)
    for again, activity in zip(back.activities, file.activities, strict=True):
        assert_activity(again, activity)
        (segment,) = again.segments
        originals = [p for s in activity.segments for p in s.points]
        assert len(segment.points) == len(originals)
        for point, original in zip(segment.points, originals, strict=True):
            assert_point(point, original)


def gpsbabel_track_points(path) -> int:
    if shutil.which("gpsbabel") is None:
        pytest.skip("gpsbabel is not installed (Debian package gpsbabel)")
    command = ["gpsbabel", "-t", "-i", "garmin_fit", "-f", str(path), "-o", "unicsv", "-F", "-"]
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (0, "")
    lines = result.stdout.splitlines()
    return max(len(lines) - 1, 0)  # a header line when there is anything


def assert_peers_accept(data: bytes, path) -> None:
    """garmin-fit-sdk decodes the file, CRC checked, into what we read; GPSBabel finds every
    positioned record."""
    path.write_bytes(data)
    ours = tramlix.loads(data)
    positioned = sum(p.latitude is not None and p.longitude is not None
                     for a in ours.activities for s in a.segments for p in s.points)  # fmt: skip
    assert gpsbabel_track_points(path) == positioned
    if Decoder is None:
        pytest.skip("garmin-fit-sdk is not installed (pip install garmin-fit-sdk==21.200.0)")
    activities, _, errors = peer_view(path)
    assert errors == []
    assert len(activities) == len(ours.activities)
    for activity, theirs in zip(ours.activities, activities, strict=True):
        assert (activity.sport, activity.sub_sport, activity.name) == (
            theirs.get("sport"), theirs.get("sub_sport"), theirs.get("name"))
        assert activity.start_time == theirs.get("start_time")
        for name in SUMMARY:
            assert close(getattr(activity.summary, name), theirs.get(name)), name
        speed = activity.summary.average_speed_mps
        assert any(close(speed, s) for s in theirs.get("average_speed_mps", [None]))
        (segment,) = activity.segments
        assert len(segment.points) == len(theirs["points"])
        for index, point in enumerate(segment.points):
            for name, value in theirs["points"][index].items():
                assert close(getattr(point, name), value), f"point {index} {name}"


@pytest.mark.parametrize("path", corpus_activities())
def test_peers_accept_corpus_activities_written_as_fit(path, tmp_path):
    assert_peers_accept(tramlix.load(path).to_fit(), tmp_path / "out.fit")


@settings(SETTINGS, max_examples=25)
@given(files)
def test_peers_accept_random_models_written_as_fit(tmp_path_factory, file):
    assert_peers_accept(file.to_fit(), tmp_path_factory.mktemp("peer") / "out.fit")


FORMATS = ("fit", "gpx", "tcx")


def fixes(file: ActivityFile) -> list[tuple]:
    return [(p.time[:19], round(p.latitude, 7), p.heart_rate_bpm)
            for a in file.activities for s in a.segments for p in s.points]  # fmt: skip


@pytest.mark.parametrize("source", FORMATS)
def test_all_nine_conversions_from_python_and_the_cli(tmp_path, source):
    (tmp_path / "run.gpx").write_bytes(RUN_GPX)
    origin = tmp_path / f"start.{source}"
    tramlix.convert(tmp_path / "run.gpx", origin)
    expected = fixes(tramlix.loads(RUN_GPX))
    for target in FORMATS:
        tramlix.convert(origin, tmp_path / f"py.{target.upper()}")
        assert main(["convert", str(origin), str(tmp_path / f"cli.{target}")]) == 0
        for out in (tmp_path / f"py.{target.upper()}", tmp_path / f"cli.{target}"):
            assert fixes(tramlix.load(out)) == expected, out.name
    assert tramlix.load(origin).to_bytes("FIT") == tramlix.load(origin).to_fit()
