"""Random models through GPX and back keep every value GPX carries; points without a position
in range are left out."""

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import POINT_FIELDS, activity_values, gpx_values  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import characters, floats, kinds  # noqa: E402

import tramlix  # noqa: E402
from tramlix import Activity, ActivityFile, Segment, TrackPoint  # noqa: E402

points = st.builds(TrackPoint, **{n: st.none() | kinds.get(n, floats) for n in POINT_FIELDS})
texts = st.none() | st.text(characters | st.sampled_from("\t\n<>&'\""), max_size=20)
sports = texts.filter(lambda s: s is None or s == s.strip())  # the reader trims the sport
segments = st.lists(points, max_size=5).map(Segment)
activities = st.builds(Activity, name=texts, sport=sports, segments=st.lists(segments, max_size=3))
tracks = st.lists(activities, min_size=1, max_size=3).filter(lambda a: any(x.segments for x in a))
files = st.builds(ActivityFile, tracks, creator=texts)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(files)
def test_gpx_round_trip(file):
    again = tramlix.loads(file.to_gpx())
    assert (again.creator, again.device_info) == ("tramlix", None)
    expected = [activity_values(a, gpx_values) for a in file.activities]
    assert [*map(activity_values, again.activities)] == expected
