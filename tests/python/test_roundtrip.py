"""Random models through GPX and back keep every value GPX carries."""

from __future__ import annotations

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import activity_values, point_values  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import tramlix  # noqa: E402
from tramlix import Activity, ActivityFile, Segment, TrackPoint  # noqa: E402

floats = st.floats(allow_nan=False, allow_infinity=False)
u16 = st.integers(0, 65535)
i16 = st.integers(-32768, 32767)


@st.composite
def times(draw: st.DrawFn) -> str:
    day = draw(st.dates())
    clock = draw(st.times())
    nanos = draw(
        st.one_of(
            st.just(0),
            st.integers(0, 999).map(lambda ms: ms * 1_000_000),
            st.integers(0, 999_999).map(lambda us: us * 1000),
            st.integers(0, 999_999_999),
        )
    )
    offset = draw(st.sampled_from(["Z", "z", "+00:00", "-00:00"]))
    return f"{day.isoformat()}T{clock:%H:%M:%S}.{nanos:09d}{offset}"


def expected_time(text: str) -> str:
    """The library's text form of a UTC time written with a nine-digit fraction."""
    stem, fraction = text[:19], text[20:29]
    nanos = int(fraction)
    if nanos == 0:
        return stem + "+00:00"
    if nanos % 1_000_000 == 0:
        return f"{stem}.{fraction[:3]}+00:00"
    if nanos % 1000 == 0:
        return f"{stem}.{fraction[:6]}+00:00"
    return f"{stem}.{fraction}+00:00"


def optional(strategy: st.SearchStrategy) -> st.SearchStrategy:
    return st.none() | strategy


points = st.builds(
    TrackPoint,
    time=optional(times()),
    latitude=optional(floats),
    longitude=optional(floats),
    elevation_m=optional(floats),
    distance_m=optional(floats),
    heart_rate_bpm=optional(u16),
    cadence_rpm=optional(u16),
    speed_mps=optional(floats),
    power_watts=optional(u16),
    temperature_c=optional(i16),
)

# XML 1.0 cannot carry most control characters, and a parser turns CR into LF.
xml_text = st.text(
    st.characters(blacklist_categories=("Cs", "Cc"), blacklist_characters="\ufffe\uffff")
    | st.sampled_from("\t\n<>&'\""),
    max_size=20,
)
# The reader trims the sport.
sports = xml_text.filter(lambda s: s == s.strip())

segments = st.lists(points, max_size=5).map(Segment)
activities = st.builds(
    Activity,
    name=optional(xml_text),
    sport=optional(sports),
    segments=st.lists(segments, max_size=3),
)
files = st.builds(
    ActivityFile,
    st.lists(activities, min_size=1, max_size=3).filter(lambda acts: any(a.segments for a in acts)),
    creator=optional(xml_text),
)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(files)
def test_gpx_round_trip(file):
    again = tramlix.loads(file.to_gpx())
    assert again.creator == "tramlix"
    assert again.device_info is None
    assert [activity_values(a) for a in again.activities] == [
        activity_values(a) for a in file.activities
    ]
    # The reader takes each track's start time from its first timed point.
    for before, after in zip(file.activities, again.activities):
        first = next((p.time for s in before.segments for p in s.points if p.time), None)
        assert after.start_time == first


@settings(max_examples=300, deadline=None)
@given(times())
def test_time_text_form(text):
    point = TrackPoint(time=text)
    assert point.time == expected_time(text)
    assert point_values(TrackPoint(time=point.time)) == point_values(point)
