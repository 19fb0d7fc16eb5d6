"""The analyses through Python: arguments, results, GeoJSON for GIS libraries, pictures."""

import json
import math
from pathlib import Path

import pytest

import tramlix
from tramlix import Activity, ActivityFile, Segment, TrackPoint

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "run.fit"
CHANNELS = ("heart_rate", "cadence", "power", "speed", "temperature", "elevation")
FIELDS = {"heart_rate": "heart_rate_bpm", "cadence": "cadence_rpm", "power": "power_watts",
          "speed": "speed_mps", "temperature": "temperature_c",
          "elevation": "elevation_m"}  # fmt: skip


@pytest.fixture(scope="module")
def example() -> Activity:
    return tramlix.load(EXAMPLE).activities[0]


def ride(watts: list[int], start: int = 0, **fields) -> list[TrackPoint]:
    """A 1 Hz recording of power from `start` seconds after 08:00."""
    return [
        TrackPoint(
            time=f"2024-05-01T08:{(start + i) // 60:02d}:{(start + i) % 60:02d}Z",
            power_watts=w,
            **fields,
        )  # fmt: skip
        for i, w in enumerate(watts)
    ]


def test_figures_come_back_as_python_values():
    watts = [200] * 60 + [350] * 300 + [200] * 60
    activity = Activity(segments=[Segment(ride(watts))])
    assert activity.mean_max("power", [300, 1, 421, 420]) == [350.0, 350.0, None, 129000 / 420]
    assert activity.mean_max("power", (300,), gap_limit_seconds=math.inf) == [350.0]
    assert activity.time_in_zones("power", [250]) == [119.0, 300.0]  # the last point weighs 0
    stats = activity.stats()
    assert type(stats) is tramlix.ActivityStats and type(stats.power) is tramlix.ChannelStats
    power = stats.power
    assert (power.count, power.min, power.max, power.time_weighted) == (420, 200.0, 350.0, True)
    assert power.average == pytest.approx((200 * 119 + 350 * 300) / 419)
    assert stats.heart_rate.count == 0 and stats.heart_rate.average is None
    gain = Activity(segments=[Segment([TrackPoint(elevation_m=e) for e in (0, 4, 1, 9)])])
    filtered = gain.filtered_elevation_gain()
    assert type(filtered) is tramlix.ElevationGain
    assert (filtered.uphill_meters, filtered.downhill_meters) == (9.0, 0.0)
    assert gain.filtered_elevation_gain(threshold_m=0).uphill_meters == 12.0


@pytest.mark.parametrize("cls", [tramlix.ActivityStats, tramlix.ChannelStats])
def test_result_classes_are_made_only_by_the_library(cls):
    with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
        cls()
    stats = Activity().stats()
    obj = stats if cls is tramlix.ActivityStats else stats.power
    assert (cls.__module__, type(obj)) == ("tramlix", cls)
    with pytest.raises(AttributeError):
        obj.count = 3
    assert type(Activity().stats().power.time_weighted) is bool


ACTIVITY = Activity(segments=[Segment(ride([100, 200]))])
BAD_ARGUMENTS = [
    (lambda: ACTIVITY.mean_max("watts", [1]), ValueError, "unknown channel 'watts': one of heart_"),
    (lambda: ACTIVITY.mean_max(None, [1]), TypeError, "channel"),
    (lambda: ACTIVITY.mean_max("power", [0]), ValueError, "whole seconds greater than 0"),
    (lambda: ACTIVITY.mean_max("power", [-60]), ValueError, "whole seconds greater than 0"),
    (lambda: ACTIVITY.mean_max("power", [1.5]), TypeError, "durations"),
    (lambda: ACTIVITY.mean_max("power", 60), TypeError, "durations"),
    (lambda: ACTIVITY.mean_max("power", [60], 0), ValueError, "gap_limit_seconds"),
    (lambda: ACTIVITY.stats(gap_limit_seconds=math.nan), ValueError, "gap_limit_seconds"),
    (lambda: ACTIVITY.stats(None), TypeError, "gap_limit_seconds"),
    (lambda: ACTIVITY.time_in_zones("power", [200, 100]), ValueError, "ascending"),
    (lambda: ACTIVITY.time_in_zones("power", [100, 100]), ValueError, "ascending"),
    (lambda: ACTIVITY.time_in_zones("power", [math.nan]), ValueError, "ascending"),
    (lambda: ACTIVITY.time_in_zones("power", "120"), TypeError, "bounds"),
    (lambda: ACTIVITY.time_in_zones("power", ["120"]), TypeError, "bounds"),
    (lambda: ACTIVITY.best_efforts([0]), ValueError, "greater than 0"),
    (lambda: ACTIVITY.best_efforts([math.inf]), ValueError, "greater than 0"),
    (lambda: ACTIVITY.best_efforts({1000}), TypeError, "distances_m"),
    (lambda: ACTIVITY.filtered_elevation_gain(-1), ValueError, "threshold_m"),
    (lambda: ACTIVITY.filtered_elevation_gain(math.nan), ValueError, "threshold_m"),
]


@pytest.mark.parametrize("call, error, message", BAD_ARGUMENTS)
def test_bad_arguments_are_refused_before_anything_is_computed(call, error, message):
    with pytest.raises(error, match=message):
        call()


# ---- against pandas, rolling means on a 1 Hz frame ----


def pandas_mean_max(frame, column: str, seconds: int, gap: float = 10.0) -> float | None:
    """Runs split where the next value comes more than `gap` later, each resampled at 1 Hz with
    every value held to the next, and a rolling mean over each."""
    import pandas as pd

    values = frame.dropna(subset=[column]).set_index("time")[column].astype(float)
    run = (values.index.to_series().diff() > pd.Timedelta(seconds=gap)).cumsum()
    best = None
    for _, part in values.groupby(run.to_numpy()):
        means = part.resample("1s").ffill().rolling(seconds).mean()
        if means.notna().any():
            best = max(best or -math.inf, means.max())
    return best


def pandas_stats(frame, column: str, gap: float = 10.0) -> tuple[int, float, float, float]:
    values = frame[column].astype(float)
    weight = frame.groupby("segment")["time"].diff(-1).dt.total_seconds().mul(-1)
    weight = weight.clip(upper=gap).fillna(0.0)
    present = values.notna()
    mean = (values[present] * weight[present]).sum() / weight[present].sum()
    return int(present.sum()), values.min(), mean, values.max()


def test_mean_max_and_stats_agree_with_pandas(example):
    pytest.importorskip("pandas", reason="pandas is not installed (pip install tramlix[pandas])")
    frame = example.to_arrow().to_pandas()
    durations = [1, 5, 60, 300, 1200, 2400, 3600]
    for channel in ("power", "heart_rate", "speed"):
        expected = [pandas_mean_max(frame, FIELDS[channel], d) for d in durations]
        # The pause of two minutes ends a run: an hour does not fit in either side of it.
        assert expected[-1] is None
        found = example.mean_max(channel, durations)
        assert found[:-1] == pytest.approx(expected[:-1], rel=1e-12) and found[-1] is None
    stats = example.stats()
    for channel in CHANNELS:
        figures = getattr(stats, channel)
        expected = pandas_stats(frame, FIELDS[channel])
        assert (figures.count, figures.min, figures.average, figures.max) == pytest.approx(expected)


# ---- GeoJSON ----


def walk(positions: list[tuple[float, float, float | None]]) -> Segment:
    return Segment([TrackPoint(latitude=a, longitude=o, elevation_m=e) for a, o, e in positions])


def test_geojson_is_the_same_as_text_and_as_objects(example):
    odd = Activity(
        name='"Quoted" \\ name\n',
        segments=[walk([(46, 14, 300), (46.1, 14.1, None), (math.nan, 14, 1)]),
                  walk([(91, 14, 0), (45, 181, 0), (45, 13, 0)])],  # one position left: no line
    )  # fmt: skip
    empty = Activity(sport="running")
    file = ActivityFile([example, odd, empty])
    collection = file.__geo_interface__
    reject = lambda name: pytest.fail(f"{name} in GeoJSON")  # noqa: E731
    assert json.loads(file.to_geojson(), parse_constant=reject) == collection
    assert collection["type"] == "FeatureCollection"
    features = collection["features"]
    assert [json.loads(a.to_geojson()) for a in (example, odd, empty)] == features
    assert [a.__geo_interface__ for a in (example, odd, empty)] == features
    assert features[1]["geometry"] == {
        "type": "MultiLineString", "coordinates": [[[14.0, 46.0], [14.1, 46.1]]]}  # fmt: skip
    assert features[1]["properties"]["name"] == '"Quoted" \\ name\n'
    assert features[2] == {
        "type": "Feature", "geometry": None,
        "properties": {"name": None, "sport": "running", "start_time": None, "end_time": None,
                       "distance_meters": 0.0},
    }  # fmt: skip
    properties = features[0]["properties"]
    assert properties == {
        "name": "Morning hill loop", "sport": "running", "start_time": "2024-05-01T06:30:00Z",
        "end_time": "2024-05-01T07:31:58Z", "distance_meters": example.distance_meters}  # fmt: skip


def test_shapely_reads_activities_directly(example):
    shapely = pytest.importorskip("shapely", reason="shapely is not installed")
    from shapely.geometry import shape

    line = shape(example)
    assert line.geom_type == "MultiLineString" and line.has_z and line.is_valid
    bounds = example.bounds
    # x is the longitude and y the latitude.
    assert line.bounds == (bounds.min_longitude, bounds.min_latitude, bounds.max_longitude,
                           bounds.max_latitude)  # fmt: skip
    assert len(line.geoms) == len(example.segments)
    file = ActivityFile([example, Activity(segments=[walk([(0, 0, None), (0, 1, None)])])])
    flat = shape(file.__geo_interface__["features"][1]["geometry"])
    assert not flat.has_z and flat.length == pytest.approx(1.0)
    assert isinstance(shapely.from_geojson(file.to_geojson()), shapely.GeometryCollection)
