"""Constructing value objects: argument conversion, times, getters and derived figures."""

from __future__ import annotations

import datetime as dt
import fractions
import math

import pytest

import tramlix
from tramlix import (
    Activity,
    ActivityFile,
    ActivitySummary,
    DeviceInfo,
    Segment,
    TrackPoint,
    TramlixError,
)

OUT_OF_RANGE = "^out of range integral type conversion attempted$"


class Index:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


class Points:
    """A sequence that is neither list nor tuple."""

    def __init__(self, *items: object) -> None:
        self.items = items

    def __len__(self) -> int:
        return len(self.items)

    def __getitem__(self, index: int) -> object:
        return self.items[index]


@pytest.mark.parametrize(
    ("make", "field", "expected"),
    [
        (lambda: TrackPoint(latitude=52), "latitude", 52.0),
        (lambda: TrackPoint(longitude=fractions.Fraction(1, 4)), "longitude", 0.25),
        (lambda: TrackPoint(elevation_m=Index(7)), "elevation_m", 7.0),
        (lambda: TrackPoint(heart_rate_bpm=0), "heart_rate_bpm", 0),
        (lambda: TrackPoint(heart_rate_bpm=300), "heart_rate_bpm", 300),
        (lambda: TrackPoint(cadence_rpm=65535), "cadence_rpm", 65535),
        (lambda: TrackPoint(power_watts=Index(250)), "power_watts", 250),
        (lambda: TrackPoint(temperature_c=-40), "temperature_c", -40),
        (lambda: TrackPoint(temperature_c=-32768), "temperature_c", -32768),
        (lambda: TrackPoint(speed_mps=None), "speed_mps", None),
        (lambda: DeviceInfo(serial_number=4294967295), "serial_number", 4294967295),
        (lambda: DeviceInfo(device_index=255), "device_index", 255),
        (lambda: DeviceInfo(manufacturer_id=0), "manufacturer_id", 0),
        (lambda: DeviceInfo(software_version=12), "software_version", 12.0),
        (lambda: DeviceInfo(product_name="Edge ✓"), "product_name", "Edge ✓"),
        (lambda: ActivitySummary(total_ascent_meters=5), "total_ascent_meters", 5.0),
        (lambda: ActivityFile(creator=""), "creator", ""),
    ],
)
def test_accepted_arguments(make, field, expected):
    value = getattr(make(), field)
    assert value == expected
    assert type(value) is type(expected)


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        # unsigned and signed integers
        (lambda: TrackPoint(heart_rate_bpm=70000), OverflowError, OUT_OF_RANGE),
        (lambda: TrackPoint(heart_rate_bpm=-1), OverflowError, OUT_OF_RANGE),
        (lambda: TrackPoint(cadence_rpm=65536), OverflowError, OUT_OF_RANGE),
        (lambda: TrackPoint(temperature_c=32768), OverflowError, OUT_OF_RANGE),
        (lambda: TrackPoint(temperature_c=-32769), OverflowError, OUT_OF_RANGE),
        (lambda: DeviceInfo(serial_number=2**32), OverflowError, OUT_OF_RANGE),
        (lambda: DeviceInfo(device_index=256), OverflowError, OUT_OF_RANGE),
        (lambda: DeviceInfo(product_id=Index(-5)), OverflowError, OUT_OF_RANGE),
        (lambda: TrackPoint(power_watts=2**64), OverflowError, "."),
        (lambda: TrackPoint(heart_rate_bpm=70.5), TypeError, "^argument 'heart_rate_bpm': "),
        (lambda: TrackPoint(power_watts="7"), TypeError, "^argument 'power_watts': "),
        (lambda: DeviceInfo(device_index=1.0), TypeError, "^argument 'device_index': "),
        # floats
        (lambda: TrackPoint(latitude="52"), TypeError, "^argument 'latitude': "),
        (lambda: TrackPoint(speed_mps=b"1"), TypeError, "^argument 'speed_mps': "),
        (
            lambda: ActivitySummary(average_speed_mps=[]),
            TypeError,
            "^argument 'average_speed_mps': ",
        ),
        (lambda: TrackPoint(elevation_m=10**400), OverflowError, "."),
        # texts
        (lambda: DeviceInfo(manufacturer=b"Garmin"), TypeError, "^argument 'manufacturer': "),
        (lambda: Activity(sport=1), TypeError, "^argument 'sport': "),
        (lambda: ActivityFile(creator=["x"]), TypeError, "^argument 'creator': "),
        # lists and records
        (lambda: Segment("abc"), TypeError, "^argument 'points': Can't extract `str` to `Vec`"),
        (lambda: Segment({TrackPoint()}), TypeError, "^argument 'points': "),
        (lambda: Segment(TrackPoint() for _ in range(2)), TypeError, "^argument 'points': "),
        (lambda: Segment([TrackPoint(), 1]), TypeError, "^argument 'points': "),
        (lambda: Segment([Segment()]), TypeError, "^argument 'points': "),
        (lambda: Segment(None), TypeError, "^argument 'points': "),
        (lambda: Activity(segments=None), TypeError, "^argument 'segments': "),
        (lambda: Activity(segments=[TrackPoint()]), TypeError, "^argument 'segments': "),
        (lambda: ActivityFile(None), TypeError, "^argument 'activities': "),
        (lambda: ActivityFile({"a": Activity()}), TypeError, "^argument 'activities': "),
        (lambda: Activity(summary={}), TypeError, "^argument 'summary': "),
        (
            lambda: ActivityFile(device_info=ActivitySummary()),
            TypeError,
            "^argument 'device_info': ",
        ),
        (lambda: ActivityFile().with_device_info(None), TypeError, "^argument 'device_info': "),
        # methods with numeric defaults: None is not "use the default"
        (lambda: Activity().moving_data(None), TypeError, "^argument 'stopped_speed_kph': "),
        (lambda: Activity().simplified("5"), TypeError, "^argument 'max_distance_m': "),
        (lambda: ActivityFile().simplified(None), TypeError, "^argument 'max_distance_m': "),
        (lambda: ActivityFile().to_bytes(None), TypeError, "^argument 'format': "),
        (lambda: ActivityFile().to_bytes(b"gpx"), TypeError, "^argument 'format': "),
        # call shapes
        (lambda: TrackPoint(1.0), TypeError, "positional"),
        (lambda: TrackPoint(lat=1.0), TypeError, "lat"),
        (lambda: ActivityFile([], None), TypeError, "positional"),
        (lambda: Segment([], points=[]), TypeError, "argument"),
        (lambda: ActivityFile().to_bytes(), TypeError, "format"),
    ],
)
def test_rejected_arguments(call, error, message):
    with pytest.raises(error, match=message) as caught:
        call()
    assert type(caught.value) is error


@pytest.mark.parametrize(
    ("call", "error", "named"),
    [
        # TrackPoint converts its time last, Activity its start_time last.
        (lambda: TrackPoint(time=5, temperature_c="x"), TypeError, "temperature_c"),
        (lambda: TrackPoint(time="bad", heart_rate_bpm=-1), OverflowError, None),
        (lambda: TrackPoint(latitude="x", longitude="y"), TypeError, "latitude"),
        (lambda: Activity(start_time=5, segments=None), TypeError, "segments"),
        (lambda: Activity(sub_sport=1, summary=1), TypeError, "sub_sport"),
        (lambda: Activity(summary=1, segments=1), TypeError, "summary"),
        (lambda: ActivityFile(activities=1, creator=1), TypeError, "activities"),
        (lambda: DeviceInfo(source_type=1, manufacturer=1), TypeError, "manufacturer"),
    ],
)
def test_first_failing_conversion_wins(call, error, named):
    with pytest.raises(error) as caught:
        call()
    assert type(caught.value) is error
    if named:
        assert str(caught.value).startswith(f"argument '{named}': ")


def test_sequences_of_any_kind_are_copied():
    point = TrackPoint(latitude=1.0)
    for points in ([point, point], (point, point), Points(point, point)):
        segment = Segment(points)
        assert len(segment) == 2
        assert [p.latitude for p in segment.points] == [1.0, 1.0]
    items = [point]
    segment = Segment(items)
    items.append(point)
    assert len(segment) == 1


# Times in: RFC 3339 first, then the naive ISO form read as UTC.
UTC = dt.timezone.utc


@pytest.mark.parametrize(
    ("value", "text"),
    [
        ("2024-05-01T10:00:00+02:00", "2024-05-01T08:00:00+00:00"),
        ("2024-05-01T10:00:00Z", "2024-05-01T10:00:00+00:00"),
        ("2024-05-01t10:00:00z", "2024-05-01T10:00:00+00:00"),
        ("2024-05-01 10:00:00Z", "2024-05-01T10:00:00+00:00"),
        ("2024-05-01T10:00:00", "2024-05-01T10:00:00+00:00"),
        ("2024-05-01T10:00:00.5", "2024-05-01T10:00:00.500+00:00"),
        ("2024-05-01T00:30:00+01:00", "2024-04-30T23:30:00+00:00"),
        ("2024-05-01T10:00:00.123456789Z", "2024-05-01T10:00:00.123456789+00:00"),
        ("2024-05-01T10:00:00.0000010Z", "2024-05-01T10:00:00.000001+00:00"),
        (dt.datetime(2024, 5, 1, 10, 0, 0, 250000), "2024-05-01T10:00:00.250+00:00"),
        (dt.datetime(2024, 5, 1, 10, 0, 0, 123456), "2024-05-01T10:00:00.123456+00:00"),
        (
            dt.datetime(2024, 5, 1, 10, tzinfo=dt.timezone(dt.timedelta(hours=-5, minutes=-30))),
            "2024-05-01T15:30:00+00:00",
        ),
        (dt.datetime(2024, 5, 1, 10, tzinfo=UTC), "2024-05-01T10:00:00+00:00"),
        (dt.datetime(1, 1, 1), "0001-01-01T00:00:00+00:00"),
        (dt.datetime(9999, 12, 31, 23, 59, 59, 999999), "9999-12-31T23:59:59.999999+00:00"),
        (None, None),
    ],
)
def test_times_in(value, text):
    assert TrackPoint(time=value).time == text
    assert Activity(start_time=value).start_time == text


class IsoFormat:
    def __init__(self, result: object) -> None:
        self.result = result

    def isoformat(self) -> object:
        if isinstance(self.result, Exception):
            raise self.result
        return self.result


NOT_A_TIME = "^time must be an RFC 3339 string or datetime$"


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (5, NOT_A_TIME),
        (b"2024-05-01T10:00:00Z", NOT_A_TIME),
        (IsoFormat(12), NOT_A_TIME),
        (IsoFormat(RuntimeError("boom")), NOT_A_TIME),
        (IsoFormat("2024-05-01T10:00:00Z"), None),
        (
            "2024-05-01 10:00:00",
            '^invalid RFC 3339 time "2024-05-01 10:00:00": input contains invalid characters$',
        ),
        (dt.date(2024, 5, 1), '^invalid RFC 3339 time "2024-05-01": premature end of input$'),
        (
            dt.datetime(2024, 5, 1, 10, tzinfo=dt.timezone(dt.timedelta(hours=5, seconds=15))),
            '^invalid RFC 3339 time "2024-05-01T10:00:00\\+05:00:15": trailing input$',
        ),
        ("2024-02-30T10:00:00Z", '^invalid RFC 3339 time "2024-02-30T10:00:00Z": '),
        ("", '^invalid RFC 3339 time "": premature end of input$'),
        ('a"b\\c\n', r'^invalid RFC 3339 time "a\\"b\\\\c\\n": '),
    ],
)
def test_unusable_times(value, message):
    if message is None:
        assert TrackPoint(time=value).time == "2024-05-01T10:00:00+00:00"
        return
    for make in (lambda: TrackPoint(time=value), lambda: Activity(start_time=value)):
        with pytest.raises(ValueError, match=message) as caught:
            make()
        assert type(caught.value) is ValueError
        # Whatever isoformat() raised is not carried along.
        assert caught.value.__context__ is None


@pytest.mark.parametrize(
    ("point", "text"),
    [
        (TrackPoint(), "TrackPoint(time=None, latitude=None, longitude=None)"),
        (TrackPoint(latitude=52.5), "TrackPoint(time=None, latitude=Some(52.5), longitude=None)"),
        (
            TrackPoint(time="2024-05-01T08:00:00.25Z", latitude=52, longitude=-0.0),
            'TrackPoint(time=Some("2024-05-01T08:00:00.250+00:00"), latitude=Some(52.0), '
            "longitude=Some(-0.0))",
        ),
        (
            TrackPoint(latitude=1e16, longitude=0.00001),
            "TrackPoint(time=None, latitude=Some(1e16), longitude=Some(1e-5))",
        ),
        (
            TrackPoint(latitude=float("nan"), longitude=float("-inf")),
            "TrackPoint(time=None, latitude=Some(NaN), longitude=Some(-inf))",
        ),
    ],
)
def test_track_point_repr(point, text):
    assert repr(point) == text


def test_getters_return_fresh_copies():
    point = TrackPoint(latitude=1.0)
    segment = Segment([point, point])
    activity = Activity(segments=[segment], summary=ActivitySummary(total_timer_seconds=5))
    file = ActivityFile([activity], device_info=DeviceInfo(manufacturer="x"))

    points = segment.points
    points.append(point)
    points.clear()
    assert len(segment) == 2
    assert segment.points is not segment.points
    assert segment.points[0] is not segment.points[0]
    assert segment.points[0] is not point
    assert activity.summary is not activity.summary
    assert activity.summary.total_timer_seconds == 5.0
    assert activity.segments[0] is not activity.segments[0]
    assert file.activities[0] is not file.activities[0]
    assert file.device_info is not file.device_info
    assert file.device_info.manufacturer == "x"
    file.activities.pop()
    assert len(file) == 1


@pytest.mark.parametrize(
    ("value", "length"),
    [
        (Segment(), 0),
        (Activity(), 0),
        (ActivityFile(), 0),
        (Activity(segments=[Segment(), Segment()]), 0),
        (Segment([TrackPoint()] * 3), 3),
        (Activity(segments=[Segment([TrackPoint()] * 2), Segment([TrackPoint()] * 3)]), 5),
        (Activity(segments=[Segment([TrackPoint()] * 3), Segment()]), 3),
        (ActivityFile([Activity(), Activity()]), 2),
    ],
)
def test_lengths_and_truth(value, length):
    assert len(value) == length
    assert bool(value) is (length > 0)


def test_point_counts_span_all_segments_and_activities():
    activity = Activity(segments=[Segment([TrackPoint()] * 2), Segment([TrackPoint()] * 3)])
    assert activity.point_count == 5
    assert ActivityFile([activity, Activity(), activity]).point_count == 10


def test_default_summary_is_all_absent():
    summary = Activity().summary
    names = [n for n in dir(summary) if n.startswith(("total_", "average_"))]
    assert len(names) == 8
    assert [getattr(summary, n) for n in names] == [None] * 8


def test_with_device_info_replaces_and_leaves_the_original():
    old = DeviceInfo(manufacturer="garmin", serial_number=7)
    file = ActivityFile([Activity(name="a")], creator="me", device_info=old)
    new = file.with_device_info(DeviceInfo(product="edge"))
    assert new.device_info.product == "edge"
    assert new.device_info.manufacturer is None
    assert new.device_info.serial_number is None
    assert new.creator == "me"
    assert new.activities[0].name == "a"
    assert file.device_info.manufacturer == "garmin"


# The getters and methods of Activity reach the right computation with the right arguments.


def _fixes(*points: tuple[str, float, float]) -> Activity:
    return Activity(
        segments=[
            Segment([TrackPoint(time=t, latitude=lat, longitude=lon) for t, lat, lon in points])
        ]
    )


def _haversine(a: tuple[float, float], b: tuple[float, float]) -> float:
    (lat1, lon1), (lat2, lon2) = map(math.radians, a), map(math.radians, b)
    h = (
        math.sin((lat2 - lat1) / 2) ** 2
        + math.cos(lat1) * math.cos(lat2) * math.sin((lon2 - lon1) / 2) ** 2
    )
    return math.asin(math.sqrt(h)) * 12742017.6


def test_activity_getters_reach_their_computations():
    timed = _fixes(("2024-05-01T10:00:00Z", 0.0, 0.0), ("2024-05-01T10:00:05Z", 1.0, 0.0))
    assert timed.start_time == "2024-05-01T10:00:00+00:00"
    assert timed.end_time == "2024-05-01T10:00:05+00:00"
    assert timed.duration_seconds == 5.0
    assert timed.distance_meters == pytest.approx(_haversine((0, 0), (1, 0)), rel=1e-12)

    points = [
        TrackPoint(latitude=0, longitude=0, elevation_m=100, heart_rate_bpm=100),
        TrackPoint(elevation_m=110),
        TrackPoint(latitude=1, longitude=0, elevation_m=105, heart_rate_bpm=101),
        TrackPoint(latitude=2, longitude=-3, elevation_m=120),
    ]
    measured = Activity(segments=[Segment(points)])
    assert measured.average_heart_rate_bpm == 100.5
    gain = measured.elevation_gain
    assert (gain.uphill_meters, gain.downhill_meters) == (25.0, 5.0)
    bounds = measured.bounds
    assert (bounds.min_latitude, bounds.max_latitude) == (0.0, 2.0)
    assert (bounds.min_longitude, bounds.max_longitude) == (-3.0, 0.0)
    # The unpositioned point is not bridged: only the last pair counts.
    assert measured.distance_meters == pytest.approx(_haversine((1, 0), (2, -3)), rel=1e-12)

    # Recorded totals win over the points.
    recorded = Activity(
        start_time="2024-05-01T09:00:00Z",
        summary=ActivitySummary(
            total_elapsed_seconds=3600,
            total_distance_meters=1234.5,
            average_heart_rate_bpm=0,
            total_ascent_meters=50,
        ),
        segments=[Segment(points)],
    )
    assert recorded.start_time == "2024-05-01T09:00:00+00:00"
    assert recorded.end_time == "2024-05-01T10:00:00+00:00"
    assert recorded.duration_seconds == 3600.0
    assert recorded.distance_meters == 1234.5
    assert recorded.average_heart_rate_bpm == 0.0
    gain = recorded.elevation_gain
    assert (gain.uphill_meters, gain.downhill_meters) == (50.0, 0.0)

    empty = Activity(start_time="2024-05-01T09:00:00Z")
    assert (empty.end_time, empty.duration_seconds, empty.bounds) == (None, None, None)
    assert empty.average_heart_rate_bpm is None
    assert math.copysign(1, empty.distance_meters) == -1


def test_moving_data_defaults_to_one_kph():
    # 2.5 m in 10 s is 0.9 km/h: stopped at the default threshold, moving at 0.5 km/h.
    step = 2.5 / 111195.08
    activity = _fixes(("2024-05-01T10:00:00Z", 0.0, 0.0), ("2024-05-01T10:00:10Z", step, 0.0))
    default = activity.moving_data()
    assert (default.moving_time_seconds, default.stopped_time_seconds) == (0.0, 10.0)
    assert default.stopped_distance_meters == pytest.approx(2.5, rel=1e-3)
    assert default.max_speed_mps == pytest.approx(0.25, rel=1e-3)
    low = activity.moving_data(0.5)
    assert (low.moving_time_seconds, low.stopped_time_seconds) == (10.0, 0.0)
    assert low.moving_distance_meters == pytest.approx(2.5, rel=1e-3)
    assert activity.moving_data(stopped_speed_kph=Index(1)).stopped_time_seconds == 10.0
    nothing = Activity().moving_data()
    assert [
        nothing.moving_time_seconds,
        nothing.stopped_time_seconds,
        nothing.moving_distance_meters,
        nothing.stopped_distance_meters,
        nothing.max_speed_mps,
    ] == [0.0] * 5


def test_simplified_defaults_to_ten_metres():
    # The middle point lies about 5 m off the chord between its neighbours.
    off = 5 / 111320.0
    points = [(0.0, 0.0), (off, 0.001), (0.0, 0.002)]
    activity = Activity(
        name="keep me",
        summary=ActivitySummary(total_distance_meters=7),
        segments=[Segment([TrackPoint(latitude=a, longitude=b) for a, b in points])],
    )
    assert len(activity.simplified()) == 2
    assert len(activity.simplified(1)) == 3
    assert len(activity.simplified(max_distance_m=100.0)) == 2
    simpler = activity.simplified()
    assert simpler.name == "keep me"
    assert simpler.summary.total_distance_meters == 7.0
    assert len(activity) == 3
    file = ActivityFile([activity, activity], creator="c", device_info=DeviceInfo(product="p"))
    thin = file.simplified()
    assert [len(a) for a in thin.activities] == [2, 2]
    assert (thin.creator, thin.device_info.product) == ("c", "p")
    assert [len(a) for a in file.simplified(0).activities] == [3, 3]


def test_to_json_of_a_default_file():
    assert ActivityFile().to_json() == '{"activities":[],"creator":null,"device_info":null}'


def test_format_names_are_parsed_before_encoding():
    file = ActivityFile()
    with pytest.raises(TramlixError, match="^unsupported or unrecognized activity format: kml$"):
        file.to_bytes("KML")
    with pytest.raises(TramlixError, match="^unsupported or unrecognized activity format: $"):
        file.to_bytes(" ... ")
    assert file.to_bytes(" .GPX ") == file.to_gpx()


def test_unpaired_surrogates_are_refused():
    with pytest.raises(UnicodeEncodeError):
        Activity(name="\ud800")
    with pytest.raises(ValueError):
        TrackPoint(time="2024-05-01T10:00:00\udc80Z")
