"""tramlix.fit: every message as tables and one at a time, against garmin-fit-sdk as an oracle."""

import collections
import datetime as dt
import math
import struct

import pytest
from conftest import CORPUS
from fit_bytes import ENUM, FIT_EPOCH, STRING, UINT8, UINT32, Records

import tramlix

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (pip install tramlix[pandas])")

try:
    from garmin_fit_sdk import Decoder, Profile, Stream
except ImportError:  # pragma: no cover - depends on the environment
    Decoder = None

UTC = dt.UTC
UINT16_BIG = 0x84
T0 = 1_000_000_000  # seconds since the FIT epoch


def body(*values: tuple[str, int]) -> bytes:
    return b"".join(struct.pack("<" + code, value) for code, value in values)


def described_file() -> bytes:
    """Events, devices, records with a late field, an unknown message and developer fields."""
    r = Records()
    # Developer fields: "speed" clashes with the profile's record field, "Power2" does not.
    r.define(0, 207, [(3, 1, UINT8)]).message(0, bytes([0]))
    r.define(1, 206, [(0, 1, UINT8), (1, 1, UINT8), (2, 1, UINT8), (3, 8, STRING), (8, 4, STRING)])
    r.message(1, bytes([0, 0, UINT8]) + b"speed\0\0\0" + b"m/s\0")
    r.message(1, bytes([0, 1, UINT16_BIG]) + b"Power2\0\0" + b"W\0\0\0")
    # event: data resolves to timer_trigger for a timer event; 38 has no name in the profile.
    r.define(2, 21, [(253, 4, UINT32), (0, 1, ENUM), (1, 1, ENUM), (3, 4, UINT32)])
    r.message(2, body(("I", T0), ("B", 0), ("B", 0), ("I", 0)))
    r.message(2, body(("I", T0 + 1), ("B", 38), ("B", 1), ("I", 7)))
    # device_info: device_index 0 is "creator" (a number column keeps 0), battery_status named.
    r.define(3, 23, [(0, 1, UINT8), (11, 1, UINT8)])
    r.message(3, bytes([0, 2])).message(3, bytes([1, 9]))
    # record: heart_rate declared 16 bits wide holding 300; field 250 is unknown to the profile;
    # the second record brings altitude (scaled) and the developer fields.
    r.define(4, 20, [(253, 4, UINT32), (3, 2, UINT16_BIG), (250, 1, UINT8)])
    r.message(4, body(("I", T0), ("H", 120), ("B", 5)))
    r.define(
        5, 20, [(253, 4, UINT32), (3, 2, UINT16_BIG), (2, 2, UINT16_BIG)], [(0, 1, 0), (1, 2, 0)]
    )
    r.message(5, body(("I", T0 + 1), ("H", 300), ("H", 2600), ("B", 7), ("H", 250)))
    # activity: a local date-time has no zone; a manufacturer-range message has no name.
    r.define(6, 34, [(253, 4, UINT32), (5, 4, UINT32)]).message(
        6, body(("I", T0), ("I", T0 + 3600))
    )
    r.define(7, 0xFF01, [(5, 1, UINT8)]).message(7, bytes([42]))
    return r.file()


def column(table, name: str) -> list:
    return pa.table(table).column(name).to_pylist()


def test_every_message_type_is_a_table_with_profile_columns():
    tables = tramlix.fit.messages(described_file())
    assert list(tables) == [
        "developer_data_id", "field_description", "event", "device_info", "record", "activity",
        "unknown_65281",
    ]  # fmt: skip
    record = pa.table(tables["record"])
    # Profile order (by field number: altitude's component enhanced_altitude is field 78),
    # unknown fields by number, developer fields last.
    assert record.column_names == ["altitude", "heart_rate", "enhanced_altitude", "field_250",
                                   "timestamp", "speed_dev0", "Power2"]  # fmt: skip
    schema = record.schema
    assert schema.field("heart_rate").type == pa.uint64()  # 300 does not fit the profile's uint8
    assert schema.field("timestamp").type == pa.timestamp("s", tz="UTC")
    assert schema.field("altitude").metadata == {b"unit": b"m"}
    assert schema.field("speed_dev0").metadata == {b"unit": b"m/s"}
    assert record.to_pylist() == [
        {"altitude": None, "heart_rate": 120, "enhanced_altitude": None, "field_250": 5,
         "timestamp": dt.datetime.fromtimestamp(FIT_EPOCH + T0, UTC), "speed_dev0": None,
         "Power2": None},
        {"altitude": 20.0, "heart_rate": 300, "enhanced_altitude": 20.0, "field_250": None,
         "timestamp": dt.datetime.fromtimestamp(FIT_EPOCH + T0 + 1, UTC), "speed_dev0": 7,
         "Power2": 250},
    ]  # fmt: skip

    event = pa.table(tables["event"])
    assert event.schema.field("event").type == pa.dictionary(pa.int32(), pa.string())
    assert column(tables["event"], "event") == ["timer", "38"]
    assert column(tables["event"], "timer_trigger") == ["manual", None]
    assert column(tables["event"], "data") == [None, 7]
    assert column(tables["device_info"], "device_index") == [0, 1]
    assert column(tables["device_info"], "battery_status") == ["good", "9"]
    activity = pa.table(tables["activity"])
    assert activity.schema.field("local_timestamp").type == pa.timestamp("s")
    assert activity.column("local_timestamp")[0].as_py() == dt.datetime(2021, 9, 8, 2, 46, 40)
    assert pa.table(tables["unknown_65281"]).to_pylist() == [{"field_5": 42}]


def test_names_choose_message_types():
    data = described_file()
    assert list(tramlix.fit.messages(data, names=["record", "unknown_65281", "lap"])) == [
        "record", "unknown_65281"]  # fmt: skip
    assert list(tramlix.fit.messages(data, names="event")) == ["event"]
    assert tramlix.fit.messages(data, names=[]) == {}
    with pytest.raises(ValueError, match="no FIT message is called 'recrod'"):
        tramlix.fit.messages(data, names=["recrod"])


def test_iter_messages_gives_each_message_in_file_order():
    messages = list(tramlix.fit.iter_messages(described_file()))
    assert [name for name, _ in messages] == [
        "developer_data_id", "field_description", "field_description", "event", "event",
        "device_info", "device_info", "record", "record", "activity", "unknown_65281",
    ]  # fmt: skip
    # Values as decoded: a name where the profile has one, the number where it has none.
    assert messages[3][1] == {
        "timestamp": dt.datetime.fromtimestamp(FIT_EPOCH + T0, UTC),
        "event": "timer",
        "event_type": "start",
        "timer_trigger": "manual",
    }
    assert messages[4][1]["event"] == 38
    assert messages[5][1] == {"device_index": "creator", "battery_status": "good"}
    assert messages[8][1]["speed_dev0"] == 7 and messages[8][1]["altitude"] == 20.0
    assert messages[9][1]["local_timestamp"] == dt.datetime(2021, 9, 8, 2, 46, 40)


@pytest.mark.parametrize(
    ("data", "message"),
    [(b"<gpx/>", "invalid FIT data"), (described_file()[:-2], "invalid FIT data")],
)
def test_what_is_not_an_intact_fit_file_fails_like_load(data, message):
    with pytest.raises(tramlix.TramlixError, match=message):
        tramlix.fit.messages(data)
    with pytest.raises(tramlix.TramlixError, match=message):
        tramlix.fit.iter_messages(data)


def test_paths_and_gzip_read_alike(tmp_path):
    import gzip

    data = described_file()
    (tmp_path / "a.fit.gz").write_bytes(gzip.compress(data))
    read = tramlix.fit.messages(tmp_path / "a.fit.gz")
    assert {k: pa.table(v) for k, v in read.items()} == {
        k: pa.table(v) for k, v in tramlix.fit.messages(data).items()
    }
    with pytest.raises(OSError):
        tramlix.fit.messages(tmp_path / "missing.fit")


# ---- The SDK as an oracle ----

FIT_FILES = sorted(p for p in (CORPUS / "fit").glob("*") if p.suffix.lower() == ".fit")


def sdk_messages(path) -> dict | None:
    """The SDK's messages of a file it decodes without errors, else None."""
    messages, errors = Decoder(Stream.from_file(str(path))).read(merge_heart_rates=False)
    return None if errors else messages


def _subfield_parents() -> dict[str, dict[str, str]]:
    """Per message, each subfield's name and the name of the field it resolves."""
    parents = collections.defaultdict(dict)
    for message in Profile["messages"].values():
        for field in message["fields"].values():
            for sub in field.get("sub_fields", []):
                parents[message["name"]][sub["name"]] = field["name"]
    return parents


def _profile_field(message: str, name: str) -> dict | None:
    for m in Profile["messages"].values():
        if m["name"] == message:
            for field in m["fields"].values():
                if field["name"] == name:
                    return field
    return None


INVALID = {"uint8": 0xFF, "uint16": 0xFFFF, "uint32": 0xFFFFFFFF, "sint16": 0x7FFF}
RAW_MARKERS = {0x7F, 0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF}


def marker(message: str, name: str) -> float | None:
    """What the SDK reports for a field holding FIT's invalid marker: the marker, scaled."""
    field = _profile_field(message, name)
    if field is None or field["type"] not in INVALID:
        return None
    scale = field["scale"][0] if isinstance(field["scale"], list) else field["scale"]
    offset = field["offset"][0] if isinstance(field["offset"], list) else field["offset"]
    return INVALID[field["type"]] / scale - offset


def named(type_name: str, name: object, number: object) -> bool:
    """Whether `name` is the profile's name of `number` in the field's type."""
    values = Profile["types"].get(type_name, {})
    return isinstance(number, int) and any(
        int(key, 0) == number and value == name for key, value in values.items()
    )


def agrees(ours: object, theirs: object, message: str, field: str) -> bool:
    """Our value against the SDK's, after the differences we document:
    - we give FIT's invalid marker as None; the SDK gives scaled markers as numbers;
    - byte fields are bytes to us, lists of numbers to the SDK; a one-element array is its
      element to the SDK;
    - local date-times are naive datetimes to us, seconds since the FIT epoch to the SDK;
    - where the SDK gives a number of a named type (bit sets, fit_base_type, mesg_num), we give
      the profile's name for it, and the SDK leaves a weight (type weight) unscaled;
    - a string field holding several NUL-separated texts is its first text to us."""
    if isinstance(ours, bytes):
        ours = list(ours)
    if isinstance(theirs, list) and len(theirs) == 1:
        theirs = theirs[0]
    if isinstance(ours, list) and len(ours) == 1:
        ours = ours[0]
    if ours is None:
        if _profile_field(message, field) is None:  # a developer field: the raw marker
            return theirs is None or theirs in RAW_MARKERS
        return theirs is None or theirs == marker(message, field)
    if isinstance(ours, dt.datetime) and ours.tzinfo is None:
        ours = int((ours - dt.datetime(1970, 1, 1)).total_seconds()) - FIT_EPOCH
    if isinstance(ours, str) and not isinstance(theirs, str):
        profile = _profile_field(message, field)
        return (
            isinstance(theirs, list)
            and ours == theirs[0]
            or named(profile["type"] if profile else "", ours, theirs)
        )
    if isinstance(ours, float) and isinstance(theirs, int) and field == "weight":
        return math.isclose(ours * 100, theirs)
    if isinstance(ours, list) and isinstance(theirs, list):
        return len(ours) == len(theirs) and all(
            agrees(a, b, message, field) for a, b in zip(ours, theirs, strict=True)
        )
    if isinstance(ours, float) or isinstance(theirs, float):
        return isinstance(theirs, int | float) and math.isclose(ours, theirs, rel_tol=1e-12)
    return ours == theirs


def developer_names(path) -> dict[int, str]:
    """The SDK's developer field keys (field descriptions in file order) and their names."""
    names = {}
    for _, fields in tramlix.fit.iter_messages(path):
        if "field_name" in fields:
            names[len(names)] = fields["field_name"]
    return names


@pytest.mark.skipif(Decoder is None, reason="garmin-fit-sdk is not installed")
@pytest.mark.parametrize("path", FIT_FILES, ids=lambda p: p.name)
def test_every_field_equals_the_sdks_value(path):
    theirs = sdk_messages(path)
    if theirs is None:
        pytest.skip("garmin-fit-sdk does not decode this file")
    parents = _subfield_parents()
    dev_names = developer_names(path)
    ours = collections.defaultdict(list)
    for name, fields in tramlix.fit.iter_messages(path):
        ours[name].append(fields)
    assert set(ours) == {k.removesuffix("_mesgs") if k.endswith("_mesgs") else f"unknown_{k}"
                         for k in theirs}  # fmt: skip
    for key, their_list in theirs.items():
        message = key.removesuffix("_mesgs") if key.endswith("_mesgs") else f"unknown_{key}"
        assert len(ours[message]) == len(their_list), message
        for index, (mine, sdk) in enumerate(zip(ours[message], their_list, strict=True)):
            sdk = dict(sdk)
            # The SDK keeps a subfield's parent beside it, and gives every subfield whose
            # reference matches; we give the first such subfield alone.
            for field in mine:
                parent = parents[message].get(field)
                if parent is not None and parent not in mine:
                    sdk.pop(parent, None)
                    for sub, its_parent in parents[message].items():
                        if its_parent == parent and sub not in mine:
                            sdk.pop(sub, None)
            sdk.pop("key", None)  # the SDK numbers field descriptions itself
            for number, value in sdk.pop("developer_fields", {}).items():
                sdk[dev_names[number]] = value
            for field, value in mine.items():
                sdk_key = field
                if field.startswith("field_") and field[6:].isdigit():
                    sdk_key = int(field[6:])
                elif sdk_key not in sdk and "_dev" in field:
                    sdk_key = field.rsplit("_dev", 1)[0]
                where = f"{message}[{index}].{field}"
                if sdk_key not in sdk:
                    assert value is None, where
                    continue
                their_value = sdk.pop(sdk_key)
                assert agrees(value, their_value, message, field), (where, value, their_value)
            assert not sdk, f"{message}[{index}]: fields only the SDK has: {sdk}"


@pytest.mark.parametrize("path", FIT_FILES, ids=lambda p: p.name)
def test_tables_hold_what_iter_messages_gives(path):
    try:
        tables = tramlix.fit.messages(path)
    except tramlix.TramlixError:
        with pytest.raises(tramlix.TramlixError):
            list(tramlix.fit.iter_messages(path))
        return
    rows = collections.defaultdict(list)
    for name, fields in tramlix.fit.iter_messages(path):
        rows[name].append(fields)
    assert list(tables) == list(rows)
    for name, table in tables.items():
        read = pa.table(table)
        assert read.num_rows == len(rows[name])
        for row, fields in zip(read.to_pylist(), rows[name], strict=True):
            assert set(fields) <= set(row)
            for field, value in fields.items():
                held = row[field]
                if isinstance(value, str) and not isinstance(held, str):
                    continue  # a name in a number column: its number (tested above)
                if isinstance(held, list) and not isinstance(value, list):
                    held = held[0] if len(held) == 1 else held
                if isinstance(value, int) and isinstance(held, str):
                    held = int(held)  # an unnamed enumeration value as text
                assert held == value or (value is None and held is None), (name, field)


def test_developer_fields_are_named_with_their_units():
    path = CORPUS / "fit" / "developer-types-sample.fit"
    if not path.exists():
        pytest.skip(f"no corpus file at {path}")
    record = pa.table(tramlix.fit.messages(path, names=["record"])["record"])
    units = {f.name: f.metadata[b"unit"].decode() for f in record.schema if f.metadata}
    # "Speed" and "Distance" clash with the profile's speed and distance in any letter case.
    assert {n: units[n] for n in ("Form Power", "Leg Spring Stiffness", "Speed_dev0",
                                  "Distance_dev0")} == {
        "Form Power": "Watts", "Leg Spring Stiffness": "KN/m", "Speed_dev0": "M/S",
        "Distance_dev0": "Meters"}  # fmt: skip
    assert set(record.column_names[-4:]) == {"Form Power", "Leg Spring Stiffness", "Speed_dev0",
                                              "Distance_dev0"}  # fmt: skip
    form_power = record.column("Form Power").to_pylist()
    assert form_power[:4] == [0, 0, 26, 51]
