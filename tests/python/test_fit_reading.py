"""Patterns of real FIT files, built byte by byte: whose device, which sessions, which bytes."""

import datetime as dt
import struct

import pytest
from fit_bytes import ENUM, FIT_EPOCH, UINT8, UINT16, UINT32, UINT32Z, Records

import tramlix

try:
    from hypothesis import given, settings
    from hypothesis import strategies as st
except ImportError:  # pragma: no cover - the property test skips itself
    given = settings = st = None

START = 1_000_000_000  # seconds since the FIT epoch


def iso(fit_seconds: int) -> str:
    return dt.datetime.fromtimestamp(FIT_EPOCH + fit_seconds, dt.UTC).isoformat()


def records_then_sessions(sessions: list[tuple[int, int, float]]) -> bytes:
    """Ten records a second apart, then one session per (sport, start offset, distance)."""
    r = Records().define(0, 20, [(253, 4, UINT32), (3, 1, UINT8)])
    for i in range(10):
        r.message(0, struct.pack("<IB", START + i, 100 + i))
    r.define(1, 18, [(2, 4, UINT32), (5, 1, ENUM), (9, 4, UINT32)])
    for sport, start, distance in sessions:
        r.message(1, struct.pack("<IBI", START + start, sport, round(distance * 100)))
    return r.file()


def test_sessions_written_after_their_records_take_the_records_of_their_time():
    # Cycling written first, running (which started first) second: in order of start time.
    file = tramlix.loads(records_then_sessions([(2, 6, 120.5), (1, 0, 15.25)]))
    got = [(a.sport, a.start_time, a.summary.total_distance_meters,
            [p.heart_rate_bpm for s in a.segments for p in s.points])
           for a in file.activities]  # fmt: skip
    assert got == [
        ("running", iso(START), 15.25, [100, 101, 102, 103, 104, 105]),
        ("cycling", iso(START + 6), 120.5, [106, 107, 108, 109]),
    ]
    # Written back, each activity keeps its records and its session.
    again = tramlix.loads(file.to_fit())
    assert [(a.sport, a.point_count) for a in again.activities] == [("running", 6), ("cycling", 4)]


def shared_out(test):
    """A property over record times and session starts, when hypothesis is installed."""
    if given is None:
        return pytest.mark.skip(reason="hypothesis is not installed")(test)
    times = st.lists(st.integers(0, 100), min_size=1, max_size=60)
    starts = st.lists(st.integers(0, 100), min_size=2, max_size=6)
    return settings(max_examples=200, deadline=None)(given(times=times, starts=starts)(test))


@shared_out
def test_sessions_after_their_records_share_every_record_out_by_time(times, starts):
    r = Records().define(0, 20, [(253, 4, UINT32), (3, 1, UINT8)])
    for i, time in enumerate(times):  # the heart rate numbers the records
        r.message(0, struct.pack("<IB", START + time, i))
    r.define(1, 18, [(2, 4, UINT32), (9, 4, UINT32)])
    for k, start in enumerate(starts):  # the distance, in cm, numbers the sessions
        r.message(1, struct.pack("<II", START + start, k))
    activities = tramlix.loads(r.file()).activities
    order = sorted(range(len(starts)), key=lambda k: starts[k])  # stable, as the reader sorts
    kept = [round(a.summary.total_distance_meters * 100) for a in activities]
    assert kept == [k for k in order if k in kept]  # in order of start time
    shared = []
    for a in activities:
        k = round(a.summary.total_distance_meters * 100)
        later = [starts[j] for j in order[order.index(k) + 1 :]]
        records = [p.heart_rate_bpm for s in a.segments for p in s.points]
        assert records == sorted(records)  # file order within an activity
        for i in records:  # from the session's start (the first: any earlier) to the next one's
            assert (times[i] >= starts[k] or k == order[0]) and (not later or times[i] < later[0])
        shared += records
    assert sorted(shared) == list(range(len(times)))  # each record once


def device_file() -> bytes:
    """A watch's file_id and device_info, and a heart-rate strap's device_info after them."""
    r = Records()
    r.define(0, 0, [(1, 2, UINT16), (2, 2, UINT16), (3, 4, UINT32Z)])
    r.message(0, struct.pack("<HHI", 1, 1967, 3882015183))  # garmin fenix2
    device_info = [(0, 1, UINT8), (2, 2, UINT16), (3, 4, UINT32Z), (4, 2, UINT16), (5, 2, UINT16)]
    r.define(1, 23, device_info)
    r.message(1, struct.pack("<BHIHH", 0, 1, 3882015183, 1967, 440))
    r.message(1, struct.pack("<BHIHH", 1, 1, 3944483460, 2327, 3400))  # hrm4_run
    r.define(2, 20, [(3, 1, UINT8)]).message(2, bytes([120]))
    return r.file()


def test_the_device_is_the_recorder_not_its_sensors():
    file = tramlix.loads(device_file())
    device = file.device_info
    values = (device.manufacturer, device.product, device.serial_number, device.software_version,
              device.device_index)  # fmt: skip
    assert values == ("garmin", "fenix2", 3882015183, 4.4, 0)
    # FIT to FIT writes the watch, and reads it back.
    back = tramlix.loads(file.to_fit()).device_info
    assert (back.manufacturer, back.serial_number, back.software_version, back.device_index) == (
        "garmin", 3882015183, 4.4, 0)  # fmt: skip


ONE = Records().define(0, 20, [(3, 1, UINT8)]).message(0, bytes([120])).file()
BAD_CRC = ONE[:-1] + bytes([ONE[-1] ^ 0xFF])


@pytest.mark.parametrize(
    ("tail", "expected"),
    [
        (ONE, 2),
        (BAD_CRC, "file CRC mismatch: stored 0x"),
        (ONE[:12] + b"\1\2" + ONE[14:], "header CRC mismatch: stored 0x0201"),
        # Padding behind the last file: short, or no signature where a header has it.
        (b"\0" * 11, 1),
        (b"\0" * 200, 1),
        (ONE + b"\xff" * 16, 2),
        # A signature makes it a file, and a cut-short file fails.
        (ONE[:-4], "file too short"),
    ],
)
def test_every_chained_file_is_checked_and_padding_is_not(tail, expected):
    if isinstance(expected, int):
        assert tramlix.loads(ONE + tail).point_count == expected
    else:
        with pytest.raises(tramlix.TramlixError, match="^invalid FIT data: " + expected):
            tramlix.loads(ONE + tail)


@pytest.mark.parametrize(("index", "back"), [(None, None), (0, 0), (3, None)])
def test_a_written_device_reads_back_as_the_recorder(index, back):
    # Written as the creator's: another index would make a reader take it for a sensor's.
    device = tramlix.DeviceInfo(manufacturer="garmin", serial_number=5, software_version=2.5,
                                device_index=index, source_type="local")  # fmt: skip
    point = tramlix.TrackPoint(time="2024-05-01T00:00:00+00:00")
    made = tramlix.ActivityFile([tramlix.Activity(segments=[tramlix.Segment([point])])],
                                device_info=device)  # fmt: skip
    got = tramlix.loads(made.to_fit()).device_info
    values = (got.manufacturer, got.serial_number, got.software_version, got.source_type)
    assert (values, got.device_index) == (("garmin", 5, 2.5, "local"), back)
