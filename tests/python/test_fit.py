"""FIT activities of the corpus against garmin-fit-sdk, used as a black-box peer decoder."""

import datetime as dt

import pytest
from conftest import CORPUS

import tramlix
from tramlix import TramlixError

try:
    from garmin_fit_sdk import Decoder, Stream
except ImportError:  # pragma: no cover - depends on the environment
    Decoder = Stream = None

FIT = CORPUS / "fit"
SEMICIRCLES_PER_DEGREE = 11930464.711111112
NO_RECORDS = "invalid FIT data: no record messages found"
needs_peer = pytest.mark.skipif(
    Decoder is None, reason="garmin-fit-sdk is not installed (pip install garmin-fit-sdk==21.200.0)"
)


def corpus_files() -> list:
    if not FIT.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"no corpus at {FIT}"))]
    files = sorted(p for p in FIT.rglob("*") if p.suffix.lower() == ".fit")
    return [pytest.param(p, id=str(p.relative_to(FIT))) for p in files]


def number(value: object) -> float | None:
    if isinstance(value, bool) or not isinstance(value, int | float):
        return None
    return float(value)


def integer(value: object, low: int, high: int) -> int | None:
    if isinstance(value, bool) or not isinstance(value, int):
        return None
    return value if low <= value <= high else None


def text(value: object) -> str | None:
    return value if isinstance(value, str) else None


def instant(value: object) -> str | None:
    return value.isoformat() if isinstance(value, dt.datetime) else None


def degrees(value: object) -> float | None:
    semicircles = number(value)
    return None if semicircles is None else semicircles / SEMICIRCLES_PER_DEGREE


# The peer reports a scaled 16-bit speed or altitude holding the invalid marker 0xFFFF as a
# number (65.535 m/s, 12607 m), and expands it into the enhanced field too, where the device
# recorded nothing; we leave those absent.
PEER_INVALID = {"altitude": 0xFFFF / 5 - 500, "speed": 0xFFFF / 1000, "avg_speed": 0xFFFF / 1000}
PEER_INVALID |= {"enhanced_" + name: value for name, value in PEER_INVALID.items()}


def peer(message: dict, name: str) -> object:
    value = message.get(name)
    return None if name in PEER_INVALID and value == PEER_INVALID[name] else value


def first(message: dict, *names: str) -> object:
    # The plain field wins when it holds a number; the peer leaves out invalid fields.
    for name in names:
        if number(peer(message, name)) is not None:
            return message[name]
    return None


def expected_point(record: dict) -> dict:
    return {
        "time": instant(record.get("timestamp")),
        "latitude": degrees(record.get("position_lat")),
        "longitude": degrees(record.get("position_long")),
        "elevation_m": number(first(record, "altitude", "enhanced_altitude")),
        "distance_m": number(record.get("distance")),
        "speed_mps": number(first(record, "speed", "enhanced_speed")),
        "heart_rate_bpm": integer(record.get("heart_rate"), 0, 65535),
        "cadence_rpm": integer(record.get("cadence"), 0, 65535),
        "power_watts": integer(record.get("power"), 0, 65535),
        "temperature_c": integer(record.get("temperature"), -32768, 32767),
    }


SESSION_FIELDS = {
    "sport": ("sport", text),
    "sub_sport": ("sub_sport", text),
    "sport_profile_name": ("name", text),
    "start_time": ("start_time", instant),
    "total_elapsed_time": ("total_elapsed_seconds", number),
    "total_timer_time": ("total_timer_seconds", number),
    "total_moving_time": ("total_moving_seconds", number),
    "total_distance": ("total_distance_meters", number),
    "avg_heart_rate": ("average_heart_rate_bpm", number),
    "total_ascent": ("total_ascent_meters", number),
    "total_descent": ("total_descent_meters", number),
}


def device_update(device: dict, message: dict) -> bool:
    """Applies one file_id or device_info message; True when it carried a device field."""
    seen = False
    if "manufacturer" in message:
        value = message["manufacturer"]
        device["manufacturer"] = text(value)
        device["manufacturer_id"] = 1 if value == "garmin" else integer(value, 0, 65535)
        seen = True
    # The peer keeps the plain product next to the subfield that our decoder puts in its place.
    names = ("garmin_product", "favero_product", "product")
    if product := next((name for name in names if name in message), None):
        device["product"] = text(message[product])
        device["product_id"] = integer(message[product], 0, 65535)
        seen = True
    for name, convert in (
        ("product_name", text),
        ("serial_number", lambda v: integer(v, 0, 2**32 - 1)),
        ("software_version", number),
        ("device_index", lambda v: 0 if v == "creator" else integer(v, 0, 255)),
        ("source_type", text),
    ):
        if name in message:
            device[name] = convert(message[name])
            seen = True
    return seen


def peer_view(path) -> tuple[list, dict | None, list]:
    """The peer's messages mapped by the model's rules: activities, device info and errors."""
    activities: list[dict] = []
    points: list[dict] = []
    current: dict[str, object] = {}
    device: dict[str, object] = {}
    seen = False

    def listen(mesg_num: int, message: dict) -> None:
        nonlocal points, current, seen
        if mesg_num == 20:
            points.append(expected_point(message))
        elif mesg_num == 18:
            for name, (target, convert) in SESSION_FIELDS.items():
                if name in message:
                    current[target] = convert(message[name])
            # Both write the average; the later one in the message wins, which the peer's
            # dictionary does not tell: either will do.
            names = ("avg_speed", "enhanced_avg_speed")
            speeds = [number(peer(message, k)) for k in names if peer(message, k) is not None]
            if speeds:
                current["average_speed_mps"] = speeds
            if points:
                activities.append({**current, "points": points})
                points, current = [], {}
        elif mesg_num in (0, 23):
            seen = device_update(device, message) or seen

    decoder = Decoder(Stream.from_file(str(path)))
    _, errors = decoder.read(merge_heart_rates=False, mesg_listener=listen)
    if points:
        activities.append({**current, "points": points})
    return activities, device if seen else None, errors


def close(ours: object, theirs: object) -> bool:
    if isinstance(theirs, float) and isinstance(ours, float):
        return ours == pytest.approx(theirs, rel=1e-12, abs=1e-9)
    return ours == theirs


SUMMARY = ("total_elapsed_seconds total_timer_seconds total_moving_seconds total_distance_meters "
           "average_heart_rate_bpm total_ascent_meters total_descent_meters").split()  # fmt: skip


@needs_peer
@pytest.mark.parametrize("path", corpus_files())
def test_activities_match_the_peer(path):
    activities, device, errors = peer_view(path)
    if errors:
        pytest.skip(f"the peer cannot decode this file: {errors[0]}")
    if not activities:
        with pytest.raises(TramlixError) as caught:
            tramlix.load(path)
        assert caught.value.args == (NO_RECORDS,)
        return
    file = tramlix.load(path)
    assert len(file.activities) == len(activities)
    for ours, theirs in zip(file.activities, activities, strict=True):
        for name in ("sport", "sub_sport", "name"):
            assert getattr(ours, name) == theirs.get(name), name
        points = theirs["points"]
        start = theirs.get("start_time") or next((p["time"] for p in points if p["time"]), None)
        assert ours.start_time == start
        for name in SUMMARY:
            value = getattr(ours.summary, name)
            assert close(value, theirs.get(name)), (name, value, theirs.get(name))
        speed = ours.summary.average_speed_mps
        candidates = theirs.get("average_speed_mps", [None])
        assert any(close(speed, c) for c in candidates), (speed, candidates)
        assert len(ours.segments) == 1
        ours_points = ours.segments[0].points
        assert len(ours_points) == len(points)
        for index, (point, expected) in enumerate(zip(ours_points, points, strict=True)):
            for name, value in expected.items():
                got = getattr(point, name)
                assert close(got, value), f"point {index} {name}: ours {got!r}, peer {value!r}"
    ours_device = file.device_info
    if device is None:
        assert ours_device is None
    else:
        for name, value in device.items():
            assert close(getattr(ours_device, name), value), name


# The peer stops at compressed timestamp headers, so these two were checked by hand against a
# byte-level walk of the records: point count, the first and last timed points, the session.
HAND_CHECKED = {
    "antfs-dump.63.fit": {
        "points": 686,
        "start_time": "1990-07-09T07:00:41+00:00",
        "times": {0: "1990-07-09T07:00:42+00:00", 685: "1990-07-09T07:57:47+00:00"},
        "heart_rates": {1: 105, 685: 115},
        "summary": {"total_elapsed_seconds": 3426.898, "total_timer_seconds": 3426.898,
                    "total_distance_meters": None, "average_speed_mps": None,
                    "average_heart_rate_bpm": 162.0},  # fmt: skip
        "speeds": {},
        "distances": {},
    },
    "compressed-speed-distance.fit": {
        "points": 755,
        "start_time": "1990-07-18T06:44:24+00:00",
        "times": {0: "1990-07-18T06:44:24+00:00", 754: "1990-07-18T07:49:04+00:00"},
        "heart_rates": {1: 93, 2: 104, 754: 118},
        "summary": {"total_elapsed_seconds": 3883.273, "total_timer_seconds": 3772.75,
                    "total_distance_meters": 10248.67, "average_speed_mps": 2.735,
                    "average_heart_rate_bpm": 170.0},  # fmt: skip
        # 12-bit speed in 1/100 m/s, 12-bit distance in 1/16 m accumulated over wraparounds.
        "speeds": {1: 3.54, 2: 3.55, 754: 0.0},
        "distances": {1: 0.0, 2: 14.25, 754: 10248.6875},
    },
}


@pytest.mark.parametrize("name", sorted(HAND_CHECKED))
def test_files_the_peer_cannot_read(name):
    if not FIT.is_dir():
        pytest.skip(f"no corpus at {FIT}")
    want = HAND_CHECKED[name]
    file = tramlix.load(FIT / name)
    assert len(file.activities) == 1
    activity = file.activities[0]
    # The session stands before the records: its values wait on the activity in progress.
    assert (activity.sport, activity.start_time) == ("running", want["start_time"])
    for field, value in want["summary"].items():
        assert getattr(activity.summary, field) == value, field
    points = activity.segments[0].points
    assert len(points) == want["points"]
    for index, time in want["times"].items():
        # These records are defined without field 253: the compressed header alone times them.
        assert points[index].time == time, f"point {index} lost its compressed timestamp"
    for index, bpm in want["heart_rates"].items():
        assert points[index].heart_rate_bpm == bpm
    for index, speed in want["speeds"].items():
        assert points[index].speed_mps == pytest.approx(speed, abs=1e-12)
    for index, distance in want["distances"].items():
        assert points[index].distance_m == pytest.approx(distance, abs=1e-12)
    # Both end with the heart rate strap's device_info, which overwrites the watch's values.
    device = file.device_info
    summary = (device.manufacturer, device.manufacturer_id, device.serial_number, device.device_index)
    assert summary == ("dynastream_oem", None, 1395, 2)
