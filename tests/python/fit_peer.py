"""FIT files as garmin-fit-sdk, a black-box peer decoder, sees them, and ours in the same shape."""

import bisect
import datetime as dt
import inspect
from operator import attrgetter

from conftest import POINT_FIELDS

import tramlix

try:
    from garmin_fit_sdk import Decoder, Stream
except ImportError:  # pragma: no cover - depends on the environment
    Decoder = Stream = None

SEMICIRCLES_PER_DEGREE = 11930464.711111112
SUMMARY = list(inspect.signature(tramlix.ActivitySummary).parameters)  # in declared order
# The peer's fields for the model's, in the model's order; the first holding a value wins.
PEER_POINT = ("timestamp position_lat position_long altitude/enhanced_altitude distance heart_rate "
              "cadence speed/enhanced_speed power temperature").split()  # fmt: skip
PEER_SESSION = ("sport sub_sport sport_profile_name start_time total_elapsed_time total_timer_time "
                "total_moving_time total_distance avg_speed/enhanced_avg_speed avg_heart_rate "
                "total_ascent total_descent").split()  # fmt: skip
# Device fields the peer gives as we do.
PEER_DEVICE = "manufacturer serial_number software_version source_type product_name".split()
# The peer reports a scaled 16-bit speed or altitude holding the invalid marker 0xFFFF as a
# number (65.535 m/s, 12607 m), and expands it into the enhanced field too; we leave it absent.
PEER_INVALID = {"altitude": 0xFFFF / 5 - 500, "speed": 0xFFFF / 1000, "avg_speed": 0xFFFF / 1000}
PEER_INVALID |= {"enhanced_" + name: value for name, value in PEER_INVALID.items()}


def first(message: dict, names: str) -> object:
    """The first of the peer's fields holding a value, in the model's units."""
    value = next((message[n] for n in names.split("/")
                  if message.get(n) not in (None, PEER_INVALID.get(n))), None)  # fmt: skip
    if isinstance(value, dt.datetime):
        return value.isoformat()
    return value / SEMICIRCLES_PER_DEGREE if value is not None and "position" in names else value


def peer_view(path) -> tuple[list, dict, list]:
    """The peer's messages by the model's rules: activities, device fields, and its errors."""
    activities, points, times, session, pending = [], [], [], {}, []
    creator, anyone = {}, {}  # the recording device's fields, and any device's

    def close() -> None:
        session.setdefault(3, next((p[0] for p in points if p[0]), None))  # the start time
        activities.append((tuple(session.get(i) for i in range(len(PEER_SESSION))), points[:]))
        points.clear()
        times.clear()
        session.clear()

    def close_sessions() -> None:
        if len(pending) > 1 and points and all(start for start, _ in pending):
            # Written after all their records: each takes the points from its start time on.
            pending.sort(key=lambda s: s[0])
            starts = [start for start, _ in pending]
            shares = [([], []) for _ in pending]
            share = 0
            for point, time in zip(points, times, strict=True):
                share = max(bisect.bisect_right(starts, time) - 1, 0) if time else share
                shares[share][0].append(point)
            for (_, values), (share_points, _) in zip(pending, shares, strict=True):
                if share_points:
                    points[:] = share_points
                    session.update(values)
                    close()
        else:
            for _, values in pending:
                session.update(values)
                if points:
                    close()
        pending.clear()

    def listen(mesg_num: int, message: dict) -> None:
        if mesg_num == 20:
            if pending:
                close_sessions()
            points.append(tuple(first(message, names) for names in PEER_POINT))
            times.append(message.get("timestamp"))
        elif mesg_num == 18:
            values = {i: first(message, names) for i, names in enumerate(PEER_SESSION)}
            carried = {i: v for i, v in values.items() if v is not None}
            pending.append((message.get("start_time"), carried))
        elif mesg_num in (0, 23):
            fields = {n: message[n] for n in PEER_DEVICE if n in message}
            anyone.update(fields)
            if mesg_num == 0 or message.get("device_index") in (None, 0, "creator"):
                creator.update(fields)

    _, errors = Decoder(Stream.from_file(str(path))).read(
        merge_heart_rates=False, mesg_listener=listen)  # fmt: skip
    close_sessions()
    if points:
        close()
    return activities, creator or anyone, errors


def our_view(file: tramlix.ActivityFile) -> list:
    """Our activities in the shape of peer_view's."""
    names = ("sport", "sub_sport", "name", "start_time", *(f"summary.{n}" for n in SUMMARY))
    session = attrgetter(*names)
    point = attrgetter(*POINT_FIELDS)
    return [(session(a), [point(p) for s in a.segments for p in s.points]) for a in file.activities]
