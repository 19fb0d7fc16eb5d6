"""Point tables: to_arrow() read by pyarrow, pandas, polars and duckdb, against the model."""

import ctypes
import datetime as dt
import gc
import sys
from pathlib import Path

import pytest
from conftest import CORPUS, POINT_FIELDS, RUN_GPX, gpx

import tramlix
from tramlix import _tramlix

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (pip install tramlix[pandas])")

try:
    from hypothesis import given, settings
    from hypothesis import strategies as st
    from strategies import kinds
except ImportError:  # pragma: no cover - the property test skips itself
    given = None

COLUMNS = ["activity", "segment", *POINT_FIELDS[:7], "power_watts", "speed_mps", "temperature_c"]
EPOCH = dt.datetime(1970, 1, 1)
INT64 = range(-(2**63), 2**63)


def nanoseconds(text: str | None) -> int | None:
    """A model time ("2024-05-01T08:00:00.125+00:00") as nanoseconds since 1970, None where 64
    bits cannot hold it. A leap second counts into the next second."""
    if text is None:
        return None
    assert text.endswith("+00:00"), text
    clock, _, fraction = text[:-6].partition(".")
    leap = clock.endswith(":60")
    since = dt.datetime.fromisoformat(clock[:-2] + "59" if leap else clock) - EPOCH
    seconds = since.days * 86_400 + since.seconds + leap
    value = seconds * 10**9 + int(fraction.ljust(9, "0") or 0)
    return value if value in INT64 else None


def model_rows(file: tramlix.ActivityFile | tramlix.Activity) -> list[tuple]:
    activities = file.activities if isinstance(file, tramlix.ActivityFile) else [file]
    return [
        (a, s, nanoseconds(p.time), *(getattr(p, name) for name in COLUMNS[3:]))
        for a, activity in enumerate(activities)
        for s, segment in enumerate(activity.segments)
        for p in segment.points
    ]


def table_rows(table) -> list[tuple]:
    """The rows pyarrow reads from the table, times as integers."""
    read = pa.table(table)
    columns = [read.column(name) for name in COLUMNS]
    columns[2] = columns[2].cast(pa.int64())
    return list(zip(*(c.to_pylist() for c in columns), strict=True))


def same(rows_a: list[tuple], rows_b: list[tuple]) -> bool:
    # Floats by repr: -0.0 is not 0.0 and NaN is NaN.
    def key(rows):
        return [tuple(repr(v) if isinstance(v, float) else v for v in row) for row in rows]

    return key(rows_a) == key(rows_b)


def corpus_files() -> list[Path]:
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.glob("*/*") if p.suffix.lower() in (".fit", ".gpx", ".tcx"))


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: f"{p.parent.name}/{p.name}")
def test_every_column_holds_the_models_values_and_nulls(path):
    try:
        file = tramlix.load(path)
    except tramlix.TramlixError:
        pytest.skip("not an activity this library reads")
    table = file.to_arrow()
    assert table.num_rows == file.point_count == len(table)
    assert same(table_rows(table), model_rows(file))
    for activity in file.activities:
        assert same(table_rows(activity.to_arrow()), model_rows(activity))


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_covers_every_format_and_column():
    # The test above means something only if the corpus gives each column values and nulls.
    formats, values, nulls = set(), set(), set()
    for path in corpus_files():
        try:
            read = pa.table(tramlix.load(path).to_arrow())
        except tramlix.TramlixError:
            continue
        formats.add(path.suffix.lower())
        for name in COLUMNS:
            column = read.column(name)
            if column.null_count:
                nulls.add(name)
            if column.null_count < len(column):
                values.add(name)
    assert formats == {".fit", ".gpx", ".tcx"}
    assert values == set(COLUMNS)
    assert nulls == set(COLUMNS[2:])


def test_schema_types_units_and_nullability():
    schema = pa.schema(tramlix.loads(RUN_GPX).to_arrow())
    assert schema.names == COLUMNS
    types = {f.name: str(f.type) for f in schema}
    assert types == {
        "activity": "uint32", "segment": "uint32", "time": "timestamp[ns, tz=UTC]",
        "latitude": "double", "longitude": "double", "elevation_m": "double",
        "distance_m": "double", "heart_rate_bpm": "uint16", "cadence_rpm": "uint16",
        "power_watts": "uint16", "speed_mps": "double", "temperature_c": "int16",
    }  # fmt: skip
    units = {f.name: f.metadata[b"unit"].decode() for f in schema if f.metadata}
    assert units == {
        "latitude": "deg", "longitude": "deg", "elevation_m": "m", "distance_m": "m",
        "heart_rate_bpm": "bpm", "cadence_rpm": "rpm", "power_watts": "W",
        "speed_mps": "m/s", "temperature_c": "degC",
    }  # fmt: skip
    assert [f.name for f in schema if not f.nullable] == ["activity", "segment"]


def point_file(points: list[tramlix.TrackPoint], segments: int = 1) -> tramlix.ActivityFile:
    segment = tramlix.Segment(points)
    activity = tramlix.Activity(segments=[segment] * segments)
    return tramlix.ActivityFile([activity, tramlix.Activity(), activity])


def property_test(test):
    if given is None:
        return pytest.mark.skip(reason="hypothesis is not installed")(test)
    any_float = st.floats() | st.none()
    fields = {n: kinds[n] | st.none() if n in kinds else any_float for n in POINT_FIELDS}
    points = st.lists(st.builds(tramlix.TrackPoint, **fields), max_size=12)
    return settings(max_examples=150, deadline=None)(given(points, st.integers(0, 2))(test))


@property_test
def test_any_points_come_out_as_the_model_holds_them(points, segments):
    # Every value a field can hold, NaN and infinities, and times in years 1 to 9999, most of
    # which 64-bit nanoseconds cannot hold.
    file = point_file(points, segments)
    assert same(table_rows(file.to_arrow()), model_rows(file))


def test_times_at_the_edges_of_nanoseconds():
    times = ["1677-09-21T00:12:43.145224192+00:00", "1677-09-21T00:12:43.145224191+00:00",
             "2262-04-11T23:47:16.854775807+00:00", "2262-04-11T23:47:16.854775808+00:00",
             "1969-12-31T23:59:59.5+00:00", "2016-12-31T23:59:60.5+00:00"]  # fmt: skip
    file = point_file([tramlix.TrackPoint(time=t) for t in times])
    got = pa.table(file.to_arrow()).column("time").cast(pa.int64()).to_pylist()
    assert got[:6] == [-(2**63), None, 2**63 - 1, None, -500_000_000, 1_483_228_800_500_000_000]


def test_pandas_keeps_integers_and_nulls():
    pd = pytest.importorskip("pandas")
    points = [
        tramlix.TrackPoint(time="2024-05-01T08:00:00Z", heart_rate_bpm=65535),
        tramlix.TrackPoint(latitude=46.5, speed_mps=float("nan"), temperature_c=-5),
    ]
    frame = point_file(points).to_arrow().to_pandas()
    assert list(frame.columns) == COLUMNS
    assert str(frame["time"].dtype) == "datetime64[ns, UTC]"
    dtypes = (str(frame["heart_rate_bpm"].dtype), str(frame["temperature_c"].dtype))
    assert dtypes == ("UInt16", "Int16")
    assert frame["heart_rate_bpm"].tolist()[:2] == [65535, pd.NA]
    assert frame["temperature_c"].tolist()[:2] == [pd.NA, -5]
    assert frame["time"][0].isoformat() == "2024-05-01T08:00:00+00:00"
    assert frame["latitude"].isna().tolist()[:2] == [True, False]
    # pyarrow's own conversion on request: integers with gaps become floats.
    plain = point_file(points).to_arrow().to_pandas(types_mapper=None)
    assert str(plain["heart_rate_bpm"].dtype) == "float64"
    with pytest.raises(TypeError):
        point_file(points).to_arrow().to_pandas(True)


def test_polars_reads_the_stream_as_pyarrow_does():
    pl = pytest.importorskip("polars")
    table = tramlix.loads(gpx(50)).to_arrow()
    frame = pl.DataFrame(table)
    assert frame.equals(table.to_polars())
    assert frame.equals(pl.from_arrow(pa.table(table)))
    assert frame.schema["time"] == pl.Datetime("ns", "UTC")
    assert frame.schema["heart_rate_bpm"] == pl.UInt16
    assert frame["heart_rate_bpm"].to_list()[:3] == [140, 141, 142]


def test_duckdb_queries_the_table():
    duckdb = pytest.importorskip("duckdb")
    points = tramlix.loads(gpx(100)).to_arrow()  # noqa: F841  (duckdb finds it by name)
    rows = duckdb.sql("select count(*), max(heart_rate_bpm), min(time) from points").fetchall()
    assert rows == [(100, 219, dt.datetime(2024, 5, 1, 0, 0, 0, 125000, tzinfo=dt.UTC))]


def test_empty_tables_read_everywhere():
    pytest.importorskip("pandas")
    pytest.importorskip("polars")
    for model in (tramlix.ActivityFile(), tramlix.Activity(), point_file([], 2)):
        table = model.to_arrow()
        assert (table.num_rows, table.num_columns, table.column_names) == (0, 12, COLUMNS)
        assert pa.table(table).schema == pa.schema(table)
        assert list(table.to_pandas().columns) == COLUMNS
        assert table.to_polars().columns == COLUMNS


def capsule_name(capsule) -> bytes:
    get_name = ctypes.pythonapi.PyCapsule_GetName
    get_name.restype, get_name.argtypes = ctypes.c_char_p, [ctypes.py_object]
    return get_name(capsule)


def test_one_table_is_read_any_number_of_times_and_freed():
    gc.collect()
    before = _tramlix._arrow_allocations()
    table = tramlix.loads(gpx(20)).to_arrow()
    assert capsule_name(table.__arrow_c_stream__()) == b"arrow_array_stream"
    assert capsule_name(table.__arrow_c_schema__()) == b"arrow_schema"
    unread = [table.__arrow_c_stream__(), table.__arrow_c_stream__(None)]
    unread.append(table.__arrow_c_schema__())
    readers = [pa.RecordBatchReader.from_stream(table) for _ in range(2)]
    first = pa.table(table)
    del table
    # The data outlives the table for whoever read it, and each stream reads it all.
    assert [r.read_all() for r in readers] == [first, first]
    assert first.num_rows == 20
    del unread, readers, first  # unread capsules release their exports
    gc.collect()
    assert _tramlix._arrow_allocations() == before


def test_a_requested_schema_is_left_to_the_consumer_to_cast():
    table = tramlix.loads(RUN_GPX).to_arrow()
    wanted = pa.schema(table).set(7, pa.field("heart_rate_bpm", pa.float64()))
    read = pa.table(table, schema=wanted)
    assert read.schema.field("heart_rate_bpm").type == pa.float64()
    assert read.column("heart_rate_bpm").to_pylist() == [140.0, 141.0, 142.0]


@pytest.mark.parametrize(
    ("method", "missing", "extra"),
    [("to_pandas", "pandas", "pandas"), ("to_pandas", "pyarrow", "pandas"),
     ("to_pyarrow", "pyarrow", "pandas"), ("to_polars", "polars", "polars")],
)  # fmt: skip
def test_conversions_name_the_extra_to_install(monkeypatch, method, missing, extra):
    monkeypatch.setitem(sys.modules, missing, None)  # import fails as if not installed
    table = tramlix.loads(RUN_GPX).to_arrow()
    message = rf"^Table\.{method}\(\) needs .*: pip install 'tramlix\[{extra}\]'$"
    with pytest.raises(ImportError, match=message) as caught:
        getattr(table, method)()
    assert isinstance(caught.value.__cause__, ImportError)


def test_the_table_class_is_the_packages_not_the_modules():
    assert tramlix.Table is _tramlix.Table and "Table" in tramlix.__all__
    assert "Table" not in _tramlix.__all__
    assert type(tramlix.loads(RUN_GPX).to_arrow()) is tramlix.Table
    with pytest.raises(TypeError):
        tramlix.Table()
    assert repr(tramlix.ActivityFile().to_arrow()).startswith("<tramlix.Table: 0 rows; activity, ")
