"""Many files at once: load_many, summaries and points over folders, zip archives and bytes."""

import gzip
import io
import sys
import zipfile
from pathlib import Path

import pytest
from conftest import CORPUS, RUN_GPX, gpx
from fit_bytes import ENUM, Records

import tramlix
from tramlix._progress import Progress

SUMMARY_COLUMNS = (
    "source activity sport sub_sport name start_time end_time duration_seconds distance_meters "
    "moving_time_seconds stopped_time_seconds elevation_gain_meters elevation_loss_meters "
    "average_heart_rate_bpm max_speed_mps points min_latitude min_longitude max_latitude "
    "max_longitude device_manufacturer device_product error"
).split()
# An intact FIT file that holds no activity: not damaged, but not something load() reads.
SETTINGS_FIT = Records().define(0, 0, [(0, 1, ENUM)]).message(0, b"\x02").file()


def outcome(result: tramlix.ActivityFile | Exception) -> tuple:
    """What a result is, comparable: the file's JSON, or the exception's class and text."""
    if isinstance(result, Exception):
        return type(result), str(result)
    return "file", result.to_json()


def load_outcome(path) -> tuple:
    try:
        return outcome(tramlix.load(path))
    except Exception as error:  # noqa: BLE001 - whatever load raises is what is compared
        return outcome(error)


@pytest.fixture
def history(tmp_path: Path) -> Path:
    """A folder as people keep them: good files in several formats and letter cases, nested
    folders, gzip, a damaged file, files that are not activities, and other things."""
    root = tmp_path / "history"
    (root / "2024" / "may").mkdir(parents=True)
    (root / "empty").mkdir()
    (root / "b.gpx").write_bytes(RUN_GPX)
    (root / "2024" / "ride.FIT").write_bytes(tramlix.loads(gpx(20)).to_fit())
    (root / "2024" / "may" / "run.tcx.GZ").write_bytes(
        gzip.compress(tramlix.loads(RUN_GPX).to_tcx())
    )
    (root / "2024" / "may" / "cut.gpx").write_bytes(gpx(30)[:700])
    (root / "settings.fit").write_bytes(SETTINGS_FIT)
    (root / "hello.gpx").write_text("hello")
    (root / "notes.txt").write_text("not an activity, not listed")
    (root / "photo.jpg").write_bytes(b"\xff\xd8\xff")
    return root


HISTORY = ["2024/may/cut.gpx", "2024/may/run.tcx.GZ", "2024/ride.FIT", "b.gpx", "hello.gpx",
           "settings.fit"]  # fmt: skip


def test_a_folder_loads_in_sorted_order_and_each_file_as_load_gives_it(history):
    for workers in (1, 3):
        results = list(tramlix.load_many(history, workers=workers))
        assert [name for name, _ in results] == [f"{history}/{name}" for name in HISTORY]
        assert [outcome(r) for _, r in results] == [load_outcome(n) for n, _ in results]
    kinds = [type(r).__name__ for _, r in tramlix.load_many(history)]
    assert kinds == ["TramlixError", "ActivityFile", "ActivityFile", "ActivityFile",
                     "TramlixError", "TramlixError"]  # fmt: skip


def test_names_given_back_load_the_same_files(history, tmp_path):
    archive = tmp_path / "export.zip"
    with zipfile.ZipFile(archive, "w") as out:
        out.write(history / "b.gpx", "activities/b.gpx")
    sources = [history, archive, tmp_path / "missing.fit", ("in memory.gpx", RUN_GPX)]
    first = list(tramlix.load_many(sources))
    again = list(tramlix.load_many([name for name, _ in first[:-1]]))
    assert [(n, outcome(r)) for n, r in first[:-1]] == [(n, outcome(r)) for n, r in again]
    assert first[-1][0] == "in memory.gpx" and outcome(first[-1][1]) == outcome(
        tramlix.loads(RUN_GPX)
    )
    assert outcome(first[-2][1]) == load_outcome(tmp_path / "missing.fit")


def zip_of(path: Path, members: dict[str, bytes], method=zipfile.ZIP_DEFLATED) -> Path:
    with zipfile.ZipFile(path, "w", compression=method) as out:
        for name, data in members.items():
            out.writestr(name, data)
    return path


@pytest.mark.parametrize("method", [zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED])
def test_a_bulk_export_of_gz_members_reads_in_place(tmp_path, method):
    ride = tramlix.loads(gpx(40))
    members = {
        "activities/2.fit.gz": gzip.compress(ride.to_fit()),
        "activities/1.gpx.gz": gzip.compress(RUN_GPX),
        "activities/3.tcx.gz": gzip.compress(b"<TrainingCenterDatabase"),  # cut short
        "activities.csv": b"id,name\n",
        "__MACOSX/activities/._1.gpx.gz": b"\x00\x05\x16\x07",
        "media/": b"",
    }
    archive = zip_of(tmp_path / "export.zip", members, method)
    results = list(tramlix.load_many(archive, workers=2))
    names = [f"{archive}/activities/{n}" for n in ("1.gpx.gz", "2.fit.gz", "3.tcx.gz")]
    assert [name for name, _ in results] == names
    assert outcome(results[0][1]) == outcome(tramlix.loads(RUN_GPX))
    assert outcome(results[1][1]) == outcome(tramlix.loads(ride.to_fit()))
    assert outcome(results[2][1]) == load_outcome_of_bytes(members["activities/3.tcx.gz"])
    assert [p.name for p in tmp_path.iterdir()] == ["export.zip"]  # nothing extracted


def load_outcome_of_bytes(data: bytes) -> tuple:
    try:
        return outcome(tramlix.loads(data))
    except Exception as error:  # noqa: BLE001
        return outcome(error)


def test_a_damaged_archive_is_one_failure_and_the_rest_go_on(tmp_path):
    good = zip_of(tmp_path / "good.zip", {"a.gpx": RUN_GPX})
    damaged = tmp_path / "damaged.zip"
    damaged.write_bytes(good.read_bytes()[:-30])
    results = list(tramlix.load_many([damaged, good]))
    assert [name for name, _ in results] == [str(damaged), f"{good}/a.gpx"]
    assert isinstance(results[0][1], tramlix.TramlixError)
    assert str(results[0][1]).startswith("invalid zip data: ")
    assert isinstance(results[1][1], tramlix.ActivityFile)


@pytest.mark.parametrize(
    ("sources", "error"),
    [(b"run.gpx", TypeError), ([1], TypeError), ([("name", "text")], TypeError), (5, TypeError),
     ([b"run.gpx"], TypeError)],
)  # fmt: skip
def test_sources_must_be_paths_or_named_bytes(sources, error):
    with pytest.raises(error, match="sources"):
        tramlix.load_many(sources)


@pytest.mark.parametrize(
    ("workers", "error"), [(0, ValueError), (-1, ValueError), (1.5, TypeError)]
)
def test_workers_must_be_a_positive_integer(run_gpx, workers, error):
    with pytest.raises(error):
        tramlix.load_many(run_gpx, workers=workers)


def test_an_iterator_left_early_stops_its_threads(tmp_path):
    for i in range(50):
        (tmp_path / f"{i:02}.gpx").write_bytes(gpx(200))
    loader = tramlix.load_many(tmp_path, workers=2)
    name, first = next(loader)
    assert name.endswith("00.gpx") and first.point_count == 200
    del loader  # must not hang, nor load the other 49 first
    assert list(tramlix.load_many([])) == []


def test_progress_is_reported_after_listing_and_after_each_file(history):
    calls = []
    for _ in tramlix.load_many(history, progress=lambda done, total: calls.append((done, total))):
        pass
    assert calls == [(i, 6) for i in range(7)]
    for build in (tramlix.summaries, tramlix.points):
        calls.clear()
        kwargs = {"errors": "skip"} if build is tramlix.points else {}
        build(history, progress=lambda done, total: calls.append((done, total)), **kwargs)
        assert calls == [(i, 6) for i in range(7)]


def test_a_failing_progress_callback_stops_the_work(history):
    def fail(done, total):
        if done == 2:
            raise KeyError("enough")

    with pytest.raises(KeyError, match="enough"):
        tramlix.summaries(history, progress=fail)
    for build in (tramlix.summaries, tramlix.points, tramlix.load_many):
        with pytest.raises(TypeError, match="progress"):
            build(history, progress="yes")  # at the call, before any file loads


class Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


def test_progress_without_tqdm_is_a_counter_that_keeps_messages_above_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)
    screen = Terminal()
    progress = Progress(screen, min_total=2)
    progress(0, 1)  # one file: nothing shown
    assert screen.getvalue() == ""
    progress(0, 1500)
    progress.write("tramlix: error: x.fit: broken")
    progress(1500, 1500)
    progress.close()
    assert screen.getvalue() == (
        "\r0 of 1,500 files"
        "\r                \rtramlix: error: x.fit: broken\n0 of 1,500 files"
        "\r1,500 of 1,500 files\n"
    )


def test_progress_true_uses_tqdm_when_installed(history, capsys):
    pytest.importorskip("tqdm", reason="tqdm is not installed")
    tramlix.summaries(history, progress=True)
    assert "6/6" in capsys.readouterr().err


# ---- The summary table ----


@pytest.fixture(name="pa")
def pyarrow():
    return pytest.importorskip("pyarrow", reason="pyarrow is not installed (tramlix[pandas])")


def table_dicts(table) -> list[dict]:
    import pyarrow as pa

    read = pa.table(table)
    for name in read.column_names:
        if pa.types.is_timestamp(read.schema.field(name).type):
            read = read.set_column(read.column_names.index(name), name, read[name].cast(pa.int64()))
    return read.to_pylist()


def finite_or_repr(value):
    return repr(value) if isinstance(value, float) else value


def expected_summaries(name: str, result) -> list[dict]:
    from test_tables import nanoseconds

    if isinstance(result, Exception):
        return [{**dict.fromkeys(SUMMARY_COLUMNS), "source": name, "error": str(result)}]
    device = result.device_info
    rows = []
    for index, activity in enumerate(result.activities):
        moving, gain, bounds = activity.moving_data(), activity.elevation_gain, activity.bounds
        rows.append({
            "source": name, "activity": index, "sport": activity.sport,
            "sub_sport": activity.sub_sport, "name": activity.name,
            "start_time": nanoseconds(activity.start_time),
            "end_time": nanoseconds(activity.end_time),
            "duration_seconds": activity.duration_seconds,
            "distance_meters": activity.distance_meters,
            "moving_time_seconds": moving.moving_time_seconds,
            "stopped_time_seconds": moving.stopped_time_seconds,
            "elevation_gain_meters": gain.uphill_meters,
            "elevation_loss_meters": gain.downhill_meters,
            "average_heart_rate_bpm": activity.average_heart_rate_bpm,
            "max_speed_mps": moving.max_speed_mps, "points": activity.point_count,
            "min_latitude": bounds and bounds.min_latitude,
            "min_longitude": bounds and bounds.min_longitude,
            "max_latitude": bounds and bounds.max_latitude,
            "max_longitude": bounds and bounds.max_longitude,
            "device_manufacturer": device and device.manufacturer,
            "device_product": device and (device.product_name or device.product),
            "error": None,
        })  # fmt: skip
    return rows


def same_rows(got: list[dict], want: list[dict]) -> bool:
    def key(rows):
        return [{k: finite_or_repr(v) for k, v in row.items()} for row in rows]

    return key(got) == key(want)


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_summaries_hold_the_models_figures_for_the_corpus(pa):
    folders = [CORPUS / "fit", CORPUS / "gpx", CORPUS / "tcx"]
    table = tramlix.summaries(folders, workers=2)
    assert table.column_names == SUMMARY_COLUMNS
    want = [row for name, r in tramlix.load_many(folders) for row in expected_summaries(name, r)]
    got = table_dicts(table)
    assert same_rows(got, want)
    # The corpus gives every column values and nulls, and each format its rows.
    for column in SUMMARY_COLUMNS[1:]:
        values = [row[column] for row in got]
        assert any(v is not None for v in values) and any(v is None for v in values), column
    assert {Path(row["source"]).parent.name for row in got if row["error"] is None} >= {
        "fit",
        "gpx",
        "tcx",
    }


def test_summary_schema_types_and_units(pa):
    schema = pa.schema(tramlix.summaries([]))
    assert schema.names == SUMMARY_COLUMNS
    types = {f.name: str(f.type) for f in schema}
    assert types["source"] == types["name"] == types["error"] == "string"
    assert types["start_time"] == types["end_time"] == "timestamp[ns, tz=UTC]"
    assert types["activity"] == types["points"] == "uint32"
    assert {types[c] for c in SUMMARY_COLUMNS[7:15] + SUMMARY_COLUMNS[16:20]} == {"double"}
    units = {f.name: f.metadata[b"unit"].decode() for f in schema if f.metadata}
    assert units["duration_seconds"] == "s" and units["max_speed_mps"] == "m/s"
    assert [f.name for f in schema if not f.nullable] == ["source"]


# ---- The point table of many files ----


def test_points_are_each_files_point_table_after_its_source(pa, history):
    table = tramlix.points(history, errors="skip", workers=2)
    read = pa.table(table)
    assert read.column_names[0] == "source" and pa.types.is_dictionary(read.schema[0].type)
    good = [(n, r) for n, r in tramlix.load_many(history) if not isinstance(r, Exception)]
    want = pa.concat_tables(
        pa.table(r.to_arrow()).add_column(0, "source", pa.array([n] * r.point_count))
        for n, r in good
    )
    assert read.cast(want.schema).equals(want)
    with pytest.raises(tramlix.TramlixError) as caught:
        tramlix.points(history)
    assert str(caught.value) == load_outcome(history / "2024/may/cut.gpx")[1]
    with pytest.raises(ValueError, match="errors"):
        tramlix.points(history, errors="ignore")


def test_tables_of_nothing_have_their_columns(pa):
    for table in (tramlix.summaries([]), tramlix.points([])):
        assert table.num_rows == 0 and pa.table(table).num_rows == 0
    assert tramlix.points([]).column_names[:3] == ["source", "activity", "segment"]
