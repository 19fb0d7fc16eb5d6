"""Laps from FIT and TCX against the laps' own totals, splits on tracks with known answers, and
the fit, laps and splits commands."""

import datetime as dt
import json
import struct
import xml.etree.ElementTree as ET

import pytest
from conftest import CORPUS, RUN_GPX, run
from fit_bytes import ENUM, UINT32, Records

import tramlix

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (pip install tramlix[pandas])")

UTC = dt.UTC
T0 = 1_000_000_000  # seconds since the FIT epoch
FIT_EPOCH = 631065600


def at(seconds: int) -> dt.datetime:
    return dt.datetime.fromtimestamp(FIT_EPOCH + T0 + seconds, UTC)


def lap_rows(source) -> list[dict]:
    return pa.table(tramlix.laps(source)).to_pylist()


def corpus(*parts: str):
    path = CORPUS.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"no corpus file at {path}")
    return path


def multisport(laps_before_sessions: bool) -> bytes:
    """Ten records a second apart, two laps (0-4 s, 5-9 s) and two sessions starting at 0 and
    5 s, written after all the records as multisport watches do, or each after its own."""
    r = Records().define(0, 20, [(253, 4, UINT32)])
    r.define(1, 19, [(253, 4, UINT32), (2, 4, UINT32), (7, 4, UINT32), (24, 1, ENUM)])
    r.define(2, 18, [(253, 4, UINT32), (2, 4, UINT32), (5, 1, ENUM)])

    def lap(start: int, trigger: int) -> None:
        r.message(1, struct.pack("<IIIB", T0 + start + 4, T0 + start, 4000, trigger))

    def session(start: int, sport: int) -> None:
        r.message(2, struct.pack("<IIB", T0 + start + 4, T0 + start, sport))

    if laps_before_sessions:
        for second in range(10):
            r.message(0, struct.pack("<I", T0 + second))
        lap(0, 0), lap(5, 1), session(0, 1), session(5, 2)
    else:
        for part, sport in ((0, 1), (5, 2)):
            for second in range(part, part + 5):
                r.message(0, struct.pack("<I", T0 + second))
            lap(part, 0), session(part, sport)
    return r.file()


@pytest.mark.parametrize("after_all_records", [True, False])
def test_fit_laps_belong_to_the_activities_their_records_make(after_all_records):
    data = multisport(after_all_records)
    activities = tramlix.loads(data).activities
    assert [a.sport for a in activities] == ["running", "cycling"]
    rows = lap_rows(data)
    assert [(r["activity"], r["lap"], r["start_time"], r["end_time"]) for r in rows] == [
        (0, 0, at(0), at(4)),
        (1, 0, at(5), at(9)),
    ]
    assert rows[0]["total_elapsed_seconds"] == 4.0
    assert rows[0]["trigger"] == "manual"
    assert rows[1]["trigger"] == ("time" if after_all_records else "manual")


def test_gpx_has_no_laps_and_broken_files_fail():
    assert tramlix.laps(RUN_GPX).num_rows == 0
    assert pa.table(tramlix.laps(RUN_GPX)).schema.names[:4] == [
        "activity", "lap", "start_time", "end_time"]  # fmt: skip
    for broken in (b"<gpx><trk>", multisport(True)[:-3], b"nothing"):
        with pytest.raises(tramlix.TramlixError):
            tramlix.laps(broken)


FIT_TOTALS = {  # lap table column: the lap message's field
    "start_time": "start_time", "end_time": "timestamp",
    "total_elapsed_seconds": "total_elapsed_time", "total_timer_seconds": "total_timer_time",
    "distance_meters": "total_distance", "average_heart_rate_bpm": "avg_heart_rate",
    "max_heart_rate_bpm": "max_heart_rate", "calories": "total_calories",
    "total_ascent_meters": "total_ascent", "total_descent_meters": "total_descent",
    "average_power_watts": "avg_power", "trigger": "lap_trigger", "intensity": "intensity",
}  # fmt: skip


LAP_FILES = [
    "activity-large-fenxi2-multisport.fit",
    "sample_mulitple_header.fit",
    "garmin-edge-500-activity.fit",
    "event_timestamp.fit",
    "Edge810-Vector-2013-08-16-15-35-10.fit",
]


@pytest.mark.parametrize("name", LAP_FILES)
def test_fit_lap_tables_hold_the_lap_messages_totals(name):
    path = corpus("fit", name)
    messages = [f for n, f in tramlix.fit.iter_messages(path) if n == "lap"]
    rows = lap_rows(path)
    assert len(rows) == len(messages) > 0
    activities = tramlix.load(path).activities
    for row, message in zip(rows, messages, strict=True):
        for column, field in FIT_TOTALS.items():
            expected = message.get(field)
            assert row[column] == expected, (column, row[column], expected)
        # Each lap sits within the activity it is given to.
        activity = activities[row["activity"]]
        times = [dt.datetime.fromisoformat(p.time) for s in activity.segments for p in s.points]
        assert min(times) - dt.timedelta(seconds=60) <= row["start_time"] <= max(times)
    # Laps count from 0 in each activity.
    for activity in {r["activity"] for r in rows}:
        assert [r["lap"] for r in rows if r["activity"] == activity] == list(
            range(sum(r["activity"] == activity for r in rows))
        )


def test_tcx_lap_tables_hold_the_lap_elements_totals():
    path = corpus("tcx", "no_hr.tcx")
    ns = {"t": "http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2"}
    laps = ET.parse(path).getroot().findall(".//t:Lap", ns)
    rows = lap_rows(path)
    assert len(rows) == len(laps) == 3
    for row, lap in zip(rows, laps, strict=True):
        start = dt.datetime.fromisoformat(lap.get("StartTime"))
        seconds = float(lap.find("t:TotalTimeSeconds", ns).text)
        assert row["start_time"] == start
        assert row["end_time"] == start + dt.timedelta(seconds=seconds)
        assert row["total_timer_seconds"] == seconds
        assert row["distance_meters"] == float(lap.find("t:DistanceMeters", ns).text)
        assert row["max_speed_mps"] == float(lap.find("t:MaximumSpeed", ns).text)
        assert row["calories"] == float(lap.find("t:Calories", ns).text)
        assert row["intensity"] == lap.find("t:Intensity", ns).text.lower()
        assert row["trigger"] == lap.find("t:TriggerMethod", ns).text.lower()


def test_tcx_lap_values_come_from_the_lap_not_its_track():
    doc = b"""<TrainingCenterDatabase xmlns="http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2">
<Activities><Activity Sport="Biking"><Id>2024-05-01T08:00:00Z</Id>
<Lap StartTime="2024-05-01T08:00:00Z"><TotalTimeSeconds>60</TotalTimeSeconds>
<AverageHeartRateBpm><Value>140</Value></AverageHeartRateBpm>
<MaximumHeartRateBpm><Value>150</Value></MaximumHeartRateBpm><Cadence>88</Cadence>
<Track><Trackpoint><Time>2024-05-01T08:00:00Z</Time><DistanceMeters>5</DistanceMeters>
<HeartRateBpm><Value>99</Value></HeartRateBpm><Cadence>60</Cadence></Trackpoint></Track>
<Extensions><LX xmlns="http://www.garmin.com/xmlschemas/ActivityExtension/v2"><AvgSpeed>7.5</AvgSpeed>
<AvgWatts>210</AvgWatts></LX></Extensions></Lap>
<Lap StartTime="2024-05-01T08:01:00Z"/></Activity></Activities></TrainingCenterDatabase>"""
    first, second = lap_rows(doc)
    assert (first["average_heart_rate_bpm"], first["max_heart_rate_bpm"]) == (140, 150)
    assert (first["average_cadence_rpm"], first["distance_meters"]) == (88, None)
    assert (first["average_speed_mps"], first["average_power_watts"]) == (7.5, 210)
    assert second["lap"] == 1 and second["total_timer_seconds"] is None


# ---- Splits ----


def track(distances, seconds=60, heart_rates=None, elevations=None, segments=1):
    """One activity whose points carry recorded distances, `seconds` apart."""
    start = dt.datetime(2024, 5, 1, 8, tzinfo=UTC)
    points = [
        tramlix.TrackPoint(
            time=start + dt.timedelta(seconds=i * seconds),
            distance_m=d,
            heart_rate_bpm=None if heart_rates is None else heart_rates[i],
            elevation_m=None if elevations is None else elevations[i],
        )
        for i, d in enumerate(distances)
    ]
    size = max(1, -(-len(points) // segments))
    parts = [points[i : i + size] for i in range(0, len(points), size)]
    return tramlix.Activity(segments=[tramlix.Segment(p) for p in parts])


def split_rows(activity, every_m):
    return pa.table(activity.splits(every_m)).to_pylist()


def test_splits_have_known_answers():
    # A point every 250 m and minute, 1 m higher and 1 bpm more each time: 2250 m in all.
    n = 10
    activity = track([250.0 * i for i in range(n)], heart_rates=[100 + i for i in range(n)],
                     elevations=[float(i) for i in range(n)])  # fmt: skip
    rows = split_rows(activity, 1000.0)
    assert [(r["split"], r["start_distance_m"], r["end_distance_m"]) for r in rows] == [
        (0, 0.0, 1000.0),
        (1, 1000.0, 2000.0),
    ]  # fmt: skip  (the last 250 m make no split)
    assert [r["elapsed_seconds"] for r in rows] == [240.0, 240.0]
    assert [r["pace_seconds_per_km"] for r in rows] == [240.0, 240.0]
    assert [r["elevation_change_m"] for r in rows] == [4.0, 4.0]
    # The point on a boundary counts into the split it ends.
    assert [r["average_heart_rate_bpm"] for r in rows] == [102.0, 106.5]
    # Boundaries between points are interpolated: 600 m lies 2/5 of the way from 500 to 750.
    first = split_rows(activity, 600.0)[0]
    assert first["elapsed_seconds"] == pytest.approx(144.0)
    assert first["pace_seconds_per_km"] == pytest.approx(240.0)
    assert first["elevation_change_m"] == pytest.approx(2.4)
    assert first["end_time"] == dt.datetime(2024, 5, 1, 8, 2, 24, tzinfo=UTC)
    # Module function and method agree; a tramlix.Table either way.
    assert tramlix.splits(activity, every_m=600.0).num_rows == 3
    assert tramlix.splits(activity).num_rows == 2


def test_splits_follow_distances_that_restart_and_positions_within_segments():
    # TCX laps restart the recorded distance at 0: the runs add up (0, 500, 1000, then 1000 +).
    restarted = track([0.0, 500.0, 1000.0, 0.0, 500.0, 1000.0])
    assert [r["end_distance_m"] for r in split_rows(restarted, 1000.0)] == [1000.0, 2000.0]
    # Without distances, positions: 0.009 degrees of latitude are about 1000.8 m; the jump
    # between two segments (a pause) adds nothing.
    start = dt.datetime(2024, 5, 1, 8, tzinfo=UTC)
    points = [
        tramlix.TrackPoint(time=start + dt.timedelta(minutes=i), latitude=46 + 0.009 * k,
                           longitude=14.0)
        for i, k in enumerate([0, 1, 5, 6])
    ]  # fmt: skip
    activity = tramlix.Activity(segments=[tramlix.Segment(points[:2]), tramlix.Segment(points[2:])])
    rows = split_rows(activity, 1000.0)
    assert len(rows) == 2
    assert rows[0]["elapsed_seconds"] == pytest.approx(60.0, abs=0.1)
    assert rows[1]["elapsed_seconds"] == pytest.approx(120.0, abs=0.2)
    assert track([0.0, 10.0]).splits(5.0).num_rows == 2
    assert track([]).splits(5.0).num_rows == 0
    for bad in (0.0, -1.0, float("nan"), float("inf")):
        with pytest.raises(ValueError, match="every_m"):
            restarted.splits(bad)
    # A length far too short for the activity is refused, not a billion rows.
    with pytest.raises(ValueError, match="make more than 1000000 splits"):
        restarted.splits(1e-6)


# ---- The commands ----


def test_fit_command_lists_messages_and_shows_one(capsys, tmp_path):
    data = multisport(True)
    (tmp_path / "m.fit").write_bytes(data)
    code, out, err = run(capsys, "fit", tmp_path / "m.fit")
    assert (code, err) == (0, "")
    assert out.splitlines()[0].split() == ["message", "count", "fields"]
    assert out.splitlines()[1].split()[:2] == ["record", "10"]
    code, out, err = run(capsys, "fit", tmp_path / "m.fit", "--message", "lap")
    assert code == 0 and len(out.splitlines()) == 3 and "2021-09-08" in out
    code, out, err = run(capsys, "fit", tmp_path / "m.fit", "--message", "session", "--json")
    assert [s["sport"] for s in json.loads(out)] == ["running", "cycling"]
    code, out, err = run(capsys, "fit", tmp_path / "m.fit", "--message", "session", "--csv")
    assert out.splitlines()[1] == "2021-09-08T01:46:40+00:00,running,2021-09-08T01:46:44+00:00"
    for suffix in ("csv", "json", "parquet"):
        target = tmp_path / f"laps.{suffix}"
        assert run(capsys, "fit", tmp_path / "m.fit", "--message", "lap", "-o", target)[0] == 0
        assert target.stat().st_size > 0
    import pyarrow.parquet

    assert pyarrow.parquet.read_table(tmp_path / "laps.parquet").num_rows == 2
    code, out, err = run(capsys, "fit", tmp_path / "m.fit", "--message", "hrv")
    assert code == 1 and err == f"tramlix: error: {tmp_path / 'm.fit'}: no hrv messages\n"
    code, out, err = run(capsys, "fit", tmp_path / "m.fit", "--message", "nonsense")
    assert code == 1 and "no FIT message is called 'nonsense'" in err


def test_laps_and_splits_commands(capsys, tmp_path, run_gpx):
    (tmp_path / "m.fit").write_bytes(multisport(False))
    code, out, err = run(capsys, "laps", tmp_path / "m.fit")
    header, *lines = out.splitlines()
    assert code == 0 and header.split()[:3] == ["activity", "lap", "start"] and len(lines) == 2
    code, out, err = run(capsys, "laps", "--json", tmp_path / "m.fit")
    assert [lap["activity"] for lap in json.loads(out)] == [0, 1]
    assert run(capsys, "laps", run_gpx) == (0, f"{run_gpx}: no laps\n", "")
    # The run: three fixes 30 minutes and about 1.5 km apart.
    code, out, err = run(capsys, "splits", run_gpx)
    assert code == 0 and len(out.splitlines()) == 4  # a header and 3 km
    code, out, err = run(capsys, "splits", "--every", "1mi", "--csv", run_gpx)
    assert out.splitlines()[0].startswith("activity,split,start_distance_m,end_distance_m")
    assert len(out.splitlines()) == 2
    with pytest.raises(SystemExit) as exit:
        run(capsys, "splits", "--every", "fast", run_gpx)
    assert exit.value.code == 2 and "not a distance: 'fast'" in capsys.readouterr().err
