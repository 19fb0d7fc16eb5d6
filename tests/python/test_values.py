"""Constructing value objects: argument conversion, times, copies and what the getters reach."""

import collections
import datetime as dt
import re
from fractions import Fraction
from types import SimpleNamespace as Iso

import pytest
from conftest import point_values

from tramlix import Activity as A
from tramlix import ActivityFile as F
from tramlix import ActivitySummary as Summary
from tramlix import DeviceInfo as D
from tramlix import Segment as S
from tramlix import TrackPoint as P
from tramlix import TramlixError

OUT = "^out of range integral type conversion attempted$"
arg = "^argument '{}': ".format  # the start of a TypeError naming the argument
Seven = type("Seven", (), {"__index__": lambda self: 7})  # an integer only through __index__


def test_accepted_arguments():
    point = P(latitude=52, longitude=Fraction(1, 4), elevation_m=Seven(), heart_rate_bpm=0,
              cadence_rpm=65535, power_watts=Seven(), temperature_c=-32768)  # fmt: skip
    assert point_values(point)[1:] == ("52.0", "0.25", "7.0", None, 0, 65535, None, 7, -32768)
    info = D(serial_number=2**32 - 1, device_index=255, software_version=12, product_name="E ✓")
    values = (info.serial_number, info.device_index, info.software_version, info.product_name)
    assert list(map(repr, values)) == ["4294967295", "255", "12.0", "'E ✓'"]


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: P(heart_rate_bpm=70000), OverflowError, OUT),
        (lambda: P(heart_rate_bpm=-1), OverflowError, OUT),
        (lambda: P(temperature_c=32768), OverflowError, OUT),
        (lambda: D(serial_number=2**32), OverflowError, OUT),
        (lambda: D(device_index=256), OverflowError, OUT),
        (lambda: P(power_watts=2**64), OverflowError, "."),  # the interpreter's own message
        (lambda: P(heart_rate_bpm=70.5), TypeError, arg("heart_rate_bpm")),
        (lambda: P(latitude="52"), TypeError, arg("latitude")),
        (lambda: D(manufacturer=b"Garmin"), TypeError, arg("manufacturer")),
        (lambda: S("abc"), TypeError, arg("points") + "Can't extract `str` to `Vec`"),
        (lambda: S(P() for _ in range(2)), TypeError, arg("points")),
        (lambda: S([P(), S()]), TypeError, arg("points")),
        (lambda: F(device_info=Summary()), TypeError, arg("device_info")),
        (lambda: F().with_device_info(None), TypeError, arg("device_info")),
        (lambda: A().moving_data(None), TypeError, arg("stopped_speed_kph")),  # None is no default
        (lambda: P(1.0), TypeError, "positional"),
        (lambda: F([], None), TypeError, "positional"),
        (lambda: F().to_bytes(), TypeError, "format"),
        # The first failing conversion wins: declared order, but times last.
        (lambda: P(latitude="x", longitude="y"), TypeError, arg("latitude")),
        (lambda: P(time=5, temperature_c="x"), TypeError, arg("temperature_c")),
        (lambda: A(start_time=5, segments=None), TypeError, arg("segments")),
    ],
)
def test_rejected_arguments(call, error, message):
    with pytest.raises(error, match=message) as caught:
        call()
    assert type(caught.value) is error


@pytest.mark.parametrize(
    ("value", "text"),
    [
        ("2024-05-01T00:30:00+01:00", "2024-04-30T23:30:00"),
        ("2024-05-01T10:00:00.5", "2024-05-01T10:00:00.500"),  # naive means UTC
        (dt.datetime(2024, 5, 1, 10, 0, 0, 123456), "2024-05-01T10:00:00.123456"),
        (dt.datetime(1, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=-5))), "0001-01-01T05:00:00"),
        (Iso(isoformat=lambda: "2024-05-01T10:00:00Z"), "2024-05-01T10:00:00"),
    ],
)
def test_times_in_and_out(value, text):
    assert P(time=value).time == A(start_time=value).start_time == text + "+00:00"
    assert P(time=None).time is A(start_time=None).start_time is None


NOT_A_TIME = "time must be an RFC 3339 string or datetime"


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (5, NOT_A_TIME),
        (Iso(isoformat=lambda: 12), NOT_A_TIME),
        (Iso(isoformat=lambda: 1 / 0), NOT_A_TIME),
        ("2024-05-01 10:00:00", '"2024-05-01 10:00:00": input contains invalid characters'),
        (dt.date(2024, 5, 1), '"2024-05-01": premature end of input'),
        (dt.datetime(1, 1, 1, tzinfo=dt.timezone(dt.timedelta(seconds=9))), ':09": trailing input'),
        # A field beyond its range is the reason, whatever follows it.
        ("2024-13-01T10:00:00Z", '"2024-13-01T10:00:00Z": input is out of range'),
        ("2024-05-32T10:00:00+02:00", '"2024-05-32T10:00:00+02:00": input is out of range'),
        ('a"b\\c\n', r'"a\"b\\c\n": '),  # quoted and escaped
    ],
)
def test_unusable_times(value, message):
    if message != NOT_A_TIME:
        message = "invalid RFC 3339 time .*" + re.escape(message)
    for make in (lambda: P(time=value), lambda: A(start_time=value)):
        with pytest.raises(ValueError, match=f"^{message}") as caught:
            make()
        # Exactly ValueError, and whatever isoformat() raised is not carried along.
        assert type(caught.value) is ValueError and caught.value.__context__ is None


def test_track_point_repr():
    assert repr(P()) == "TrackPoint(time=None, latitude=None, longitude=None)"
    assert repr(P(time="2024-05-01T08:00:00.25Z", latitude=float("nan"), longitude=-0.0)) == (
        'TrackPoint(time=Some("2024-05-01T08:00:00.250+00:00"), latitude=Some(NaN), '
        "longitude=Some(-0.0))"
    )


def test_values_are_copied_in_and_out():
    point = P(latitude=1.0)
    items = [point, point]
    segment, single = S(items), S(collections.UserList(items[:1]))
    items.pop()
    activity = A(name="a", segments=(segment,), summary=Summary(total_timer_seconds=5))
    file = F([activity], creator="", device_info=D(manufacturer="x"))
    segment.points.clear()
    file.activities.pop()
    point.__init__(latitude=2.0)
    assert (len(segment), len(single), len(file), point.latitude) == (2, 1, 1, 1.0)
    assert segment.points[0] is not segment.points[0] and segment.points[0] is not point
    for get in (lambda: activity.summary, lambda: activity.segments[0], lambda: file.device_info):
        assert get() is not get()
    new = file.with_device_info(D(product="edge"))
    assert (new.device_info.manufacturer, new.creator, new.activities[0].name) == (None, "", "a")
    assert (activity.summary.total_timer_seconds, file.device_info.manufacturer) == (5.0, "x")


def test_activity_getters_reach_their_computations():
    fixes = [("00", 0, 0, 100, 90), ("05", 1, -3, 110, 91)]
    points = [P(time=f"2024-05-01T10:00:{s}Z", latitude=la, longitude=lo, elevation_m=e,
                heart_rate_bpm=hr) for s, la, lo, e, hr in fixes]  # fmt: skip
    activity, empty = A(segments=[S([*points, P(elevation_m=105)])]), A(start_time=points[0].time)
    assert (activity.end_time, activity.duration_seconds) == ("2024-05-01T10:00:05+00:00", 5.0)
    assert activity.distance_meters == pytest.approx(351613.647631837, rel=1e-12)
    up, down = activity.elevation_gain.uphill_meters, activity.elevation_gain.downhill_meters
    b = activity.bounds
    assert (up, down, activity.average_heart_rate_bpm) == (10, 5, 90.5)
    assert (b.min_latitude, b.max_latitude, b.min_longitude, b.max_longitude) == (0, 1, -3, 0)
    assert (empty.end_time, empty.duration_seconds, empty.bounds, empty.average_heart_rate_bpm,
            empty.summary.total_distance_meters) == (None,) * 5  # fmt: skip
    # len() counts an activity's points across segments and a file's activities; bool() follows.
    five = A(segments=[S([P()] * 2), S(), S([P()] * 3)])
    lengths = len(five), five.point_count, len(F([five, empty])), F([five, empty, five]).point_count
    assert lengths == (5, 5, 2, 10)
    assert [bool(x) for x in (S(), S([P()]), A(segments=[S()]), F(), F([empty]))] == [0, 1, 0, 0, 1]


def test_moving_data_and_simplified_defaults():
    # 2.5 m in 10 s is 0.9 km/h: stopped at the default 1 km/h, moving at 0.5 km/h.
    fixes = [("2024-05-01T10:00:00Z", 0.0), ("2024-05-01T10:00:10Z", 2.5 / 111195.08)]
    activity = A(segments=[S([P(time=t, latitude=lat, longitude=0.0) for t, lat in fixes])])
    for data, moving in [(activity.moving_data(), 0), (activity.moving_data(Seven()), 0),
                         (activity.moving_data(stopped_speed_kph=0.5), 10)]:  # fmt: skip
        assert (data.moving_time_seconds, data.stopped_time_seconds) == (moving, 10 - moving)
        moved = data.moving_distance_meters + data.stopped_distance_meters
        assert (moved, data.max_speed_mps) == pytest.approx((2.5, 0.25), rel=1e-3)
    # The middle point lies about 5 m off the chord: dropped at the default 10 m.
    track = [P(latitude=lat, longitude=lon) for lat, lon in [(0, 0), (5 / 111320, 1e-3), (0, 2e-3)]]
    activity = A(name="keep me", segments=[S(track)])
    assert [len(activity.simplified(*a)) for a in [(), (1,), (100.0,)]] == [2, 3, 2]
    thin = F([activity], creator="c").simplified(max_distance_m=Seven())
    assert (len(thin.activities[0]), thin.creator) == (2, "c")
    assert activity.simplified().name == "keep me"


def test_json_format_names_and_surrogates():
    assert F().to_json() == '{"activities":[],"creator":null,"device_info":null}'
    assert F().to_bytes(" .GPX ") == F().to_gpx()
    with pytest.raises(TramlixError, match="^unsupported or unrecognized activity format: kml$"):
        F().to_bytes("KML")
    with pytest.raises(UnicodeEncodeError):
        A(name="\ud800")
    with pytest.raises(ValueError):
        P(time="2024-05-01T10:00:00\udc80Z")
