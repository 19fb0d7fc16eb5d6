"""Builds the example activity with the tramlix Python API and saves it.

An hour-long morning run on a hilly loop: a warm-up, two climbs, a stop at a drinking
fountain (recorded, standing still) and a pause of the watch that splits the track into two
segments. Every point carries position, elevation, time, cumulative distance, speed, heart
rate, cadence, running power and temperature.

    python examples/make_example.py                  # writes examples/run.gpx, .tcx and .fit
    python examples/make_example.py --points 25000 --out build/bench/large.gpx

The output is deterministic: the same arguments give the same bytes.
"""

from __future__ import annotations

import argparse
import bisect
import itertools
import math
import random
from datetime import UTC, datetime, timedelta
from pathlib import Path

import tramlix

START = datetime(2024, 5, 1, 6, 30, tzinfo=UTC)
CENTRE = (46.0569, 14.5058)  # latitude, longitude (Ljubljana)
LOOP_METRES = 10_400.0
EARTH_RADIUS = 6_371_008.8


def elevation_at(fraction: float) -> float:
    """Elevation along the loop: two climbs of different height over a rolling base."""
    angle = 2 * math.pi * fraction
    return (
        296.0
        + 38.0 * math.sin(angle) ** 2
        + 14.0 * math.sin(3 * angle + 0.7)
        + 6.0 * math.sin(9 * angle)
    )


def _loop_shape(angle: float) -> tuple[float, float]:
    """North and east offsets in metres of a closed, slightly irregular loop (before scaling)."""
    radius = 1.0 + 0.18 * math.sin(2 * angle) + 0.07 * math.cos(5 * angle)
    return radius * math.sin(angle), 1.35 * radius * math.cos(angle)


def _build_loop(vertices: int = 4000) -> tuple[list[tuple[float, float]], list[float]]:
    """The loop as a dense polyline scaled to LOOP_METRES, with cumulative distances."""
    shape = [_loop_shape(2 * math.pi * i / vertices) for i in range(vertices + 1)]
    length = sum(math.dist(a, b) for a, b in itertools.pairwise(shape))
    scale = LOOP_METRES / length
    offsets = [(north * scale, east * scale) for north, east in shape]
    cumulative = [0.0]
    for a, b in itertools.pairwise(offsets):
        cumulative.append(cumulative[-1] + math.dist(a, b))
    return offsets, cumulative


LOOP, LOOP_DISTANCES = _build_loop()


def position_at(fraction: float) -> tuple[float, float]:
    """Latitude and longitude at a fraction of the loop's length, so that distances measured
    between points agree with the recorded cumulative distance."""
    target = fraction * LOOP_METRES
    index = min(bisect.bisect_right(LOOP_DISTANCES, target), len(LOOP) - 1)
    before, after = LOOP_DISTANCES[index - 1], LOOP_DISTANCES[index]
    share = (target - before) / (after - before) if after > before else 0.0
    (n0, e0), (n1, e1) = LOOP[index - 1], LOOP[index]
    north, east = n0 + share * (n1 - n0), e0 + share * (e1 - e0)
    latitude = CENTRE[0] + math.degrees(north / EARTH_RADIUS)
    longitude = CENTRE[1] + math.degrees(east / (EARTH_RADIUS * math.cos(math.radians(CENTRE[0]))))
    return latitude, longitude


def build(points: int, seconds_per_point: float, seed: int) -> tramlix.ActivityFile:
    rng = random.Random(seed)
    total_seconds = points * seconds_per_point
    stop_at = 0.42 * total_seconds  # the fountain: 90 s standing still, still recording
    stop_for = 90.0
    pause_at = 0.71 * total_seconds  # the watch paused for two minutes: a new segment
    pause_for = 120.0

    segments: list[list[tramlix.TrackPoint]] = [[], []]
    clock = 0.0
    distance = 0.0
    heart_rate = 96.0
    fraction = 0.0
    for _ in range(points):
        stopped = stop_at <= clock < stop_at + stop_for
        climb = elevation_at(fraction + 0.002) - elevation_at(fraction)
        grade = climb / (LOOP_METRES * 0.002)
        target_speed = 0.0 if stopped else max(2.2, 3.25 - 9.0 * grade + rng.gauss(0, 0.06))
        warm_up = min(1.0, clock / 600.0)
        effort = 0.0 if stopped else warm_up * (0.75 + 4.0 * max(grade, 0.0))
        heart_rate += (112 + 58 * effort - heart_rate) * 0.08 + rng.gauss(0, 0.6)

        latitude, longitude = position_at(fraction)
        when = START + timedelta(seconds=clock + (pause_for if clock >= pause_at else 0.0))
        point = tramlix.TrackPoint(
            time=when,
            latitude=round(latitude + rng.gauss(0, 2e-6), 7),
            longitude=round(longitude + rng.gauss(0, 2e-6), 7),
            elevation_m=round(elevation_at(fraction) + rng.gauss(0, 0.15), 1),
            distance_m=round(distance, 2),
            heart_rate_bpm=round(heart_rate),
            cadence_rpm=0 if stopped else round(86 + 4 * target_speed / 3.25 + rng.gauss(0, 0.8)),
            speed_mps=round(target_speed, 3),
            power_watts=0
            if stopped
            else round(170 + 28 * target_speed + 520 * max(grade, 0.0) + rng.gauss(0, 6)),
            temperature_c=round(13 + 4 * clock / total_seconds),
        )
        segments[clock >= pause_at].append(point)

        step = target_speed * seconds_per_point
        distance += step
        fraction = (fraction + step / LOOP_METRES) % 1.0
        clock += seconds_per_point

    activity = tramlix.Activity(
        name="Morning hill loop",
        sport="running",
        start_time=START,
        segments=[tramlix.Segment(points) for points in segments],
    )
    return tramlix.ActivityFile([activity], creator="tramlix example")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--points", type=int, default=1800, help="number of track points (default 1800)"
    )
    parser.add_argument(
        "--seconds-per-point",
        type=float,
        default=None,
        help="recording interval (default: an hour in all)",
    )
    parser.add_argument("--seed", type=int, default=2024, help="seed of the sensor noise")
    parser.add_argument(
        "--out",
        type=Path,
        action="append",
        help="file to write; the extension names the format (repeatable)",
    )
    args = parser.parse_args()
    interval = args.seconds_per_point or 3600.0 / args.points
    activity_file = build(args.points, interval, args.seed)
    outputs = args.out or [Path(__file__).with_name(f"run.{ext}") for ext in ("gpx", "tcx", "fit")]
    for out in outputs:
        out.parent.mkdir(parents=True, exist_ok=True)
        activity_file.save(out)
        print(f"wrote {out} ({activity_file.point_count} points, {out.stat().st_size:,} bytes)")


if __name__ == "__main__":
    main()
