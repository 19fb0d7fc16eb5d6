"""summaries() over a history of 2,000 files: the corpus copied over and over into a folder.

    python bench/many.py            # or as part of bench/run.py

Measures tramlix.summaries() with 1 and with 2 workers (alternating runs, medians), the same
summary built file by file with the peers people use (gpxpy, fitdecode, tcxreader), and the
peak memory of a process that summarises the whole folder against one that summarises a
tenth of it.
"""

from __future__ import annotations

import math
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import warnings
from pathlib import Path

import fitdecode
import gpxpy
from tcxreader.tcxreader import TCXReader

import tramlix

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"
FILES = 2_000
SEMICIRCLE = 180 / 2**31


def make_history(folder: Path, count: int = FILES) -> list[Path]:
    """`count` files: the corpus's FIT, GPX and TCX files (damaged and non-activity ones too),
    copied round after round into numbered folders."""
    corpus = sorted(
        p for p in CORPUS.rglob("*") if p.is_file() and p.suffix.lower() in (".fit", ".gpx", ".tcx")
    )
    made: list[Path] = []
    for round_ in range(math.ceil(count / len(corpus))):
        target = folder / f"{round_:03}"
        target.mkdir(parents=True)
        for path in corpus[: count - len(made)]:
            copy = target / f"{path.parent.name}-{path.name}"
            shutil.copyfile(path, copy)
            made.append(copy)
    return made


# ---- The same summary with the peers, file by file ----


def moving(times: list, distances: list[float], stopped_mps: float = 1 / 3.6) -> tuple:
    """Moving and stopped seconds and the top speed from cumulative distances."""
    moving_s = stopped_s = top = 0.0
    for i in range(1, len(times)):
        if times[i] is None or times[i - 1] is None:
            continue
        seconds = (times[i] - times[i - 1]).total_seconds()
        if seconds <= 0:
            continue
        speed = (distances[i] - distances[i - 1]) / seconds
        if speed > stopped_mps:
            moving_s += seconds
            top = max(top, speed)
        else:
            stopped_s += seconds
    return moving_s, stopped_s, top


def climb(elevations: list[float]) -> tuple[float, float]:
    up = down = 0.0
    for a, b in zip(elevations, elevations[1:], strict=False):
        up += max(b - a, 0.0)
        down += max(a - b, 0.0)
    return up, down


def box(lats: list[float], lons: list[float]) -> tuple:
    return (min(lats), min(lons), max(lats), max(lons)) if lats else (None,) * 4


def gpx_summary(path: Path) -> list[dict]:
    with open(path, encoding="utf-8") as handle:
        parsed = gpxpy.parse(handle)
    rows = []
    for track in parsed.tracks:
        start, end = track.get_time_bounds()
        moving_data = track.get_moving_data()
        up, down = track.get_uphill_downhill()
        heart_rates = [
            float(child.text)
            for segment in track.segments
            for point in segment.points
            for extension in point.extensions
            for child in extension
            if child.tag.endswith("hr") and child.text
        ]
        bounds = track.get_bounds()
        rows.append({
            "sport": track.type, "name": track.name, "start_time": start, "end_time": end,
            "duration_seconds": (end - start).total_seconds() if start and end else None,
            "distance_meters": track.length_2d(),
            "moving_time_seconds": moving_data.moving_time if moving_data else 0.0,
            "stopped_time_seconds": moving_data.stopped_time if moving_data else 0.0,
            "elevation_gain_meters": up, "elevation_loss_meters": down,
            "average_heart_rate_bpm": statistics.fmean(heart_rates) if heart_rates else None,
            "max_speed_mps": moving_data.max_speed if moving_data else 0.0,
            "points": track.get_points_no(),
            "bounds": (bounds.min_latitude, bounds.min_longitude, bounds.max_latitude,
                       bounds.max_longitude) if bounds else None,
        })  # fmt: skip
    return rows


def tcx_summary(path: Path) -> list[dict]:
    exercise = TCXReader().read(str(path))
    points = exercise.trackpoints
    lats = [p.latitude for p in points if p.latitude is not None]
    lons = [p.longitude for p in points if p.longitude is not None]
    timed = [p for p in points if p.time is not None and p.distance is not None]
    moving_s, stopped_s, _ = moving([p.time for p in timed], [p.distance for p in timed])
    return [{
        "sport": exercise.activity_type, "start_time": exercise.start_time,
        "end_time": exercise.end_time, "duration_seconds": exercise.duration,
        "distance_meters": exercise.distance, "moving_time_seconds": moving_s,
        "stopped_time_seconds": stopped_s, "elevation_gain_meters": exercise.ascent,
        "elevation_loss_meters": exercise.descent, "average_heart_rate_bpm": exercise.hr_avg,
        "max_speed_mps": exercise.max_speed, "points": len(points), "bounds": box(lats, lons),
    }]  # fmt: skip


def fit_summary(path: Path) -> list[dict]:
    records: list[dict] = []
    sessions: list[dict] = []
    device: dict = {}
    with fitdecode.FitReader(str(path)) as reader:
        for frame in reader:
            if not isinstance(frame, fitdecode.FitDataMessage):
                continue
            if frame.name == "record":
                records.append({f.name: f.value for f in frame.fields})
            elif frame.name == "session":
                sessions.append({f.name: f.value for f in frame.fields})
            elif frame.name == "file_id":
                device = {f.name: f.value for f in frame.fields}
    if not records:
        raise ValueError("no record messages found")
    lats = [r["position_lat"] * SEMICIRCLE for r in records if r.get("position_lat") is not None]
    lons = [r["position_long"] * SEMICIRCLE for r in records if r.get("position_long") is not None]
    times = [r.get("timestamp") for r in records]
    distances = [r.get("distance") or 0.0 for r in records]
    elevations = [
        e for r in records if (e := r.get("enhanced_altitude", r.get("altitude"))) is not None
    ]
    heart_rates = [r["heart_rate"] for r in records if r.get("heart_rate") is not None]
    moving_s, stopped_s, top = moving(times, distances)
    up, down = climb(elevations)
    session = sessions[0] if sessions else {}
    known = [t for t in times if t is not None]
    return [{
        "sport": session.get("sport"), "sub_sport": session.get("sub_sport"),
        "start_time": known[0] if known else None, "end_time": known[-1] if known else None,
        "duration_seconds": (known[-1] - known[0]).total_seconds() if known else None,
        "distance_meters": session.get("total_distance") or distances[-1],
        "moving_time_seconds": moving_s, "stopped_time_seconds": stopped_s,
        "elevation_gain_meters": up, "elevation_loss_meters": down,
        "average_heart_rate_bpm": statistics.fmean(heart_rates) if heart_rates else None,
        "max_speed_mps": top, "points": len(records), "bounds": box(lats, lons),
        "device_manufacturer": device.get("manufacturer"), "device_product": device.get("product"),
    }]  # fmt: skip


PEERS = {".gpx": gpx_summary, ".tcx": tcx_summary, ".fit": fit_summary}


def peer_summaries(paths: list[Path]) -> list[dict]:
    rows = []
    for path in paths:
        try:
            rows += [{"source": str(path), **row} for row in PEERS[path.suffix.lower()](path)]
        except Exception as error:  # noqa: BLE001 - a failing file is a row with its error
            rows.append({"source": str(path), "error": str(error)})
    return rows


# ---- Measurements ----

# The peak of this process's own memory (VmHWM): ru_maxrss would also count what the parent
# held when it started the child, since it survives exec.
PEAK_SCRIPT = """
import sys, tramlix
table = tramlix.summaries(sys.argv[1:], workers=2)
peak = next(line for line in open("/proc/self/status") if line.startswith("VmHWM:"))
print(table.num_rows, peak.split()[1])
"""


def peak_memory(sources: list[str]) -> tuple[int, float]:
    """Rows and the peak resident memory (MB) of a fresh process summarising `sources`."""
    result = subprocess.run(
        [sys.executable, "-c", PEAK_SCRIPT, *sources], check=True, capture_output=True, text=True
    )
    rows, kilobytes = result.stdout.split()
    return int(rows), int(kilobytes) / 1024


def timed(work) -> float:
    begin = time.perf_counter()
    work()
    return time.perf_counter() - begin


def many_files_lines(runs: int = 5) -> list[str]:
    if not CORPUS.is_dir():
        return [f"summaries() over {FILES:,} files: no corpus at {CORPUS}, not measured."]
    warnings.filterwarnings("ignore")
    with tempfile.TemporaryDirectory(prefix="tramlix-history-") as scratch:
        folder = Path(scratch)
        paths = make_history(folder)
        size = sum(p.stat().st_size for p in paths)
        tramlix.summaries(folder)  # the files into the page cache
        one, two = [], []
        for _ in range(runs):  # alternating, so that a busy spell hits both alike
            one.append(timed(lambda: tramlix.summaries(folder, workers=1)))
            two.append(timed(lambda: tramlix.summaries(folder, workers=2)))
        rows = tramlix.summaries(folder).num_rows
        one_time, two_time = statistics.median(one), statistics.median(two)
        # The peers take minutes over the whole folder: they summarise its first round (one
        # copy of the corpus, the same mix of files), scaled to the 2,000.
        first_round = sorted((folder / "000").iterdir())
        peer_time = timed(lambda: peer_summaries(first_round)) * len(paths) / len(first_round)
        all_rows, all_peak = peak_memory([str(folder)])
        tenth_rows, tenth_peak = peak_memory(sorted(str(p) for p in folder.iterdir())[:3])
    return [
        f"summaries() over a folder of {len(paths):,} files ({size / 1e6:,.0f} MB, the corpus "
        f"copied {math.ceil(len(paths) / len(first_round))} times; {rows:,} rows), medians of "
        f"{runs} alternating runs: 1 worker {one_time:.2f} s ({len(paths) / one_time:,.0f} "
        f"files/s), 2 workers {two_time:.2f} s ({len(paths) / two_time:,.0f} files/s): "
        f"{one_time / two_time:.2f}x the throughput (target >= 1.8x).",
        f"The same summary with gpxpy, fitdecode and tcxreader file by file: {peer_time:.0f} s "
        f"for the {len(paths):,} files (measured on one round of {len(first_round)} files and "
        f"scaled): {peer_time / two_time:,.0f}x the time of summaries() with 2 workers, "
        f"{peer_time / one_time:,.0f}x with 1 (target >= 50x).",
        f"Peak memory of a process summarising the {len(paths):,} files: {all_peak:,.0f} MB "
        f"({all_rows:,} rows); the first three rounds alone ({tenth_rows:,} rows): "
        f"{tenth_peak:,.0f} MB. Memory follows the files in flight, not the history.",
    ]


if __name__ == "__main__":
    for line in many_files_lines():
        print(line)
    print(f"(max RSS of this process: {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss} KB)")
