"""Side-by-side benchmarks: tramlix against the peers people use today, in one run.

    make bench            # builds everything, installs the peers, prints the table

Every figure is a median over repeated runs on this machine; ratios compare the two
columns of the same row, measured in the same process one after the other.
"""

from __future__ import annotations

import argparse
import gzip
import json
import shutil
import statistics
import subprocess
import sys
import threading
import time
import warnings
from pathlib import Path

import fitdecode
import gpxpy
import pandas as pd
from garmin_fit_sdk import Decoder, Encoder, Profile, Stream
from many import many_files_lines
from memory import rows as memory_rows
from tcxreader.tcxreader import TCXReader

import tramlix

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"
WORK = ROOT / "build" / "bench"


def median_time(work, min_runs: int = 5, min_seconds: float = 0.5, max_runs: int = 200) -> float:
    times: list[float] = []
    started = time.perf_counter()
    while len(times) < min_runs or (
        time.perf_counter() - started < min_seconds and len(times) < max_runs
    ):
        begin = time.perf_counter()
        work()
        times.append(time.perf_counter() - begin)
    return statistics.median(times)


def example(name: str, points: int, seconds_per_point: float | None = None) -> Path:
    """A large example activity made by the example script (the extension picks the format);
    by default its points span an hour."""
    path = WORK / name
    if not path.exists():
        script = ROOT / "examples" / "make_example.py"
        interval = (
            [] if seconds_per_point is None else ["--seconds-per-point", str(seconds_per_point)]
        )
        subprocess.run(
            [sys.executable, str(script), "--points", str(points), "--out", str(path), *interval],
            check=True,
        )
    return path


def run_process(argv: list[str]) -> None:
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def threads_ratio(data: bytes, loads_per_thread: int = 40) -> float:
    """Throughput of two threads loading at once against one thread doing the same work."""

    def worker(count: int) -> None:
        for _ in range(count):
            tramlix.loads(data)

    def one_thread() -> None:
        worker(2 * loads_per_thread)

    def two_threads() -> None:
        threads = [threading.Thread(target=worker, args=(loads_per_thread,)) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    return median_time(one_thread, min_runs=5) / median_time(two_threads, min_runs=5)


class Table:
    def __init__(self) -> None:
        self.rows: list[tuple[str, str, str, str, str, str]] = []

    def add(
        self, task: str, file: str, ours: float, peer: float | None, peer_name: str, target: str
    ) -> None:
        ratio = f"{peer / ours:,.1f}x" if peer else ""
        self.rows.append(
            (
                task,
                file,
                f"{ours * 1e3:,.2f} ms",
                f"{peer * 1e3:,.1f} ms" if peer else "",
                ratio,
                target,
            )
        )
        print(
            f"  {task:<28} {file:<36} tramlix {ours * 1e3:10.2f} ms   {peer_name} "
            f"{(peer or 0) * 1e3:10.1f} ms   {ratio:>8}   target {target}",
            flush=True,
        )

    def markdown(self) -> str:
        lines = ["| task | file | tramlix | peer | ratio | target |", "|---|---|---|---|---|---|"]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines)


def gpx_rows(table: Table, path: Path) -> None:
    data = path.read_bytes()
    text = data.decode("utf-8")
    name = path.name
    ours = tramlix.loads(data)
    theirs = gpxpy.parse(text)
    table.add(
        "read GPX",
        name,
        median_time(lambda: tramlix.loads(data)),
        median_time(lambda: gpxpy.parse(text), min_runs=3),
        "gpxpy.parse",
        ">= 30x",
    )
    table.add(
        "write GPX",
        name,
        median_time(ours.to_gpx),
        median_time(theirs.to_xml, min_runs=3),
        "gpxpy.to_xml",
        ">= 20x",
    )
    activities = ours.activities  # gpxpy measures every track of the document: so do we

    def moving_data() -> None:
        for activity in activities:
            activity.moving_data()

    table.add(
        "moving_data()",
        name,
        median_time(moving_data),
        median_time(theirs.get_moving_data, min_runs=3),
        "gpxpy.get_moving_data",
        ">= 50x",
    )


def tcx_rows(table: Table, path: Path) -> None:
    data = path.read_bytes()
    table.add(
        "read TCX",
        path.name,
        median_time(lambda: tramlix.loads(data)),
        median_time(lambda: TCXReader().read(str(path)), min_runs=3),
        "tcxreader",
        ">= 20x",
    )


def loads_cleanly(path: Path) -> bool:
    """Broken corpus files (bad CRC, cut short) are not benchmarked."""
    try:
        tramlix.load(path)
    except tramlix.TramlixError as error:
        print(f"  skipping {path.name}: {error}")
        return False
    return not Decoder(Stream.from_file(str(path))).read()[1]


def fit_rows(table: Table, path: Path) -> None:
    def sdk() -> None:
        messages, errors = Decoder(Stream.from_file(str(path))).read()
        assert not errors, errors

    def fitdecode_frames() -> None:
        with fitdecode.FitReader(str(path)) as reader:
            for _frame in reader:
                pass

    ours = median_time(lambda: tramlix.load(path))
    table.add(
        "load FIT", path.name, ours, median_time(sdk, min_runs=3), "garmin_fit_sdk", ">= 400x"
    )
    table.add(
        "load FIT",
        path.name,
        ours,
        median_time(fitdecode_frames, min_runs=3),
        "fitdecode",
        ">= 500x",
    )


def fitdecode_message_frames(path: Path) -> dict[str, pd.DataFrame]:
    """fitdecode's way to the same frames: every data message into a dict, a frame per type."""
    by_name: dict[str, list[dict]] = {}
    with fitdecode.FitReader(str(path)) as reader:
        for frame in reader:
            if isinstance(frame, fitdecode.FitDataMessage):
                fields = {field.name: field.value for field in frame.fields}
                by_name.setdefault(frame.name, []).append(fields)
    return {name: pd.DataFrame(rows) for name, rows in by_name.items()}


def fit_message_rows(table: Table, path: Path) -> list[str]:
    """Every message of the file into pandas frames, one per message type, against fitdecode
    building the same frames and against garmin_fit_sdk's Decoder.read() alone. Our frames are
    pandas' Arrow-backed ones (types_mapper=pd.ArrowDtype), built without copying the columns;
    the default conversion (numpy-backed, nullable integers) is timed too. Each peer is measured
    between two runs of ours, so that both see the same load on a shared machine."""
    data = path.read_bytes()

    def ours() -> None:
        for t in tramlix.fit.messages(data).values():
            t.to_pandas(types_mapper=pd.ArrowDtype)

    def ours_numpy() -> None:
        for t in tramlix.fit.messages(data).values():
            t.to_pandas()

    def fitdecode_frames() -> None:
        fitdecode_message_frames(path)

    def sdk() -> None:
        Decoder(Stream.from_byte_array(bytearray(data))).read()

    for peer, name in ((fitdecode_frames, "fitdecode + DataFrames"), (sdk, "garmin_fit_sdk")):
        before = median_time(ours)
        theirs = median_time(peer, min_runs=3)
        after = median_time(ours)
        table.add(
            "FIT messages into pandas", path.name, min(before, after), theirs, name, ">= 100x"
        )
    alone = median_time(lambda: tramlix.fit.messages(data))
    numpy_backed = median_time(ours_numpy)
    lines = [
        f"`tramlix.fit.messages()` alone on {path.name}: {alone * 1e3:.1f} ms, "
        f"{len(data) / alone / 1e6:.0f} MB/s of FIT; into numpy-backed frames (the default "
        f"`to_pandas()`) {numpy_backed * 1e3:.1f} ms in all"
    ]
    print(f"  {lines[0]}")
    return lines


def fit_write_rows(table: Table, path: Path) -> None:
    """Writing the activity back to FIT: tramlix's whole FIT writer against garmin_fit_sdk's
    Encoder given just the same records (decoded by the SDK beforehand, outside the timing)."""
    activity_file = tramlix.load(path)
    messages, errors = Decoder(Stream.from_file(str(path))).read(merge_heart_rates=False)
    assert not errors, errors
    records = messages["record_mesgs"]
    record_num = Profile["mesg_num"]["RECORD"]

    def sdk() -> None:
        encoder = Encoder()
        for record in records:
            encoder.on_mesg(record_num, record)
        encoder.close()

    table.add(
        "write FIT",
        path.name,
        median_time(activity_file.to_fit),
        median_time(sdk, min_runs=3),
        "garmin_fit_sdk Encoder",
        ">= 50x",
    )


GPSBABEL_FORMAT = {".gpx": "gpx", ".tcx": "gtrnctr", ".fit": "garmin_fit"}


def conversion_rows(table: Table, source: Path, suffix: str) -> None:
    """tramlix converting in a running process, and as a whole CLI process, against GPSBabel."""
    target = WORK / f"converted-{source.stem}{suffix}"
    babel_target = WORK / f"gpsbabel-{source.stem}{suffix}"
    babel = ["gpsbabel", "-i", GPSBABEL_FORMAT[source.suffix], "-f", str(source),
             "-o", GPSBABEL_FORMAT[suffix], "-F", str(babel_target)]  # fmt: skip
    babel_time = median_time(lambda: run_process(babel), min_runs=5)
    task = f"{source.suffix[1:].upper()} -> {suffix[1:].upper()}"
    target_ratio = ">= 10x" if source.suffix == ".fit" else ">= 5x" if suffix == ".fit" else ">= 4x"
    table.add(
        f"convert {task} (in process)",
        source.name,
        median_time(lambda: tramlix.convert(source, target)),
        babel_time,
        "gpsbabel",
        target_ratio,
    )
    cli = [str(Path(sys.executable).with_name("tramlix")), "convert", str(source), str(target)]
    table.add(
        f"convert {task} (CLI process)",
        source.name,
        median_time(lambda: run_process(cli), min_runs=5),
        babel_time,
        "gpsbabel",
        "> 1x",
    )


def gzip_lines(paths: list[Path]) -> list[str]:
    """Reading gzip-compressed files (level 6, as gzip(1) writes them) against the same files
    uncompressed; the speed is in megabytes of compressed input per second."""
    lines = ["", "| file (.gz, level 6) | compressed | load plain | load .gz | .gz read speed |",
             "|---|---|---|---|---|"]  # fmt: skip
    for path in paths:
        data = path.read_bytes()
        packed = gzip.compress(data, compresslevel=6, mtime=0)
        plain_time = median_time(lambda data=data: tramlix.loads(data))
        packed_time = median_time(lambda packed=packed: tramlix.loads(packed))
        line = (
            f"| {path.name} | {len(packed) / 1e6:.2f} MB of {len(data) / 1e6:.2f} MB | "
            f"{plain_time * 1e3:.2f} ms | {packed_time * 1e3:.2f} ms | "
            f"{len(packed) / packed_time / 1e6:,.0f} MB/s "
            f"({len(data) / packed_time / 1e6:,.0f} MB/s uncompressed) |"
        )
        lines.append(line)
        print(f"  {line}", flush=True)
    return lines


# Run in a process of its own: the peak resident memory of one step, above what the process held
# before it. The kernel's high-water mark is reset before each step (/proc/self/clear_refs).
def memory_lines(points: int = 1_000_000) -> list[str]:
    """The table of bench/memory.py: peak memory above what was held before each step, over the
    file read (load) or written (writers)."""
    lines = [
        "",
        f"Peak memory of {points:,}-point files, above what the process held before each step, "
        "over the size of the file read (load) or written (writers; the model is already held):",
        "",
        "| file | step | file | peak above | peak / file |",
        "|---|---|---|---|---|",
    ]
    for name, what, size, above in memory_rows(points):
        cells = [
            name,
            what,
            f"{size / 1e6:,.1f} MB",
            f"{above / 1e6:,.0f} MB",
            f"{above / size:.2f}x",
        ]
        line = "| " + " | ".join(cells) + " |"
        print(f"  {line}", flush=True)
        lines.append(line)
    return lines


def scaling_lines(rows) -> list[str]:
    """Two threads loading in C++ (no interpreter in between), with what tells a shared lock
    (voluntary context switches) or shared memory (more processor time per load) from a busy
    machine."""
    lines = []
    for row in rows:
        line = (
            f"C++, two threads loading {Path(row['file']).name}: {row['ratio']:.2f}x one "
            f"(target >= 1.8x); processor time per load {row['cpu_ms_one']:.3f} ms on one thread, "
            f"{row['cpu_ms_two']:.3f} ms on two; voluntary context switches per round "
            f"{row['switches_one']} and {row['switches_two']}."
        )
        print(f"  {line}", flush=True)
        lines.append(line)
    return lines


def bench_rows(binary: Path, paths: list[Path]) -> list[dict]:
    """What a C++ benchmark prints for the files: one JSON object per line."""
    command = [str(binary), *map(str, paths)]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return [json.loads(line) for line in out.splitlines()]


POINT_COLUMNS = [
    "activity",
    "segment",
    "time",
    "latitude",
    "longitude",
    "elevation_m",
    "distance_m",
    "heart_rate_bpm",
    "cadence_rpm",
    "power_watts",
    "speed_mps",
    "temperature_c",
]
# TrackPointExtension elements by the point table's column names.
GPXTPX_COLUMNS = {
    "hr": "heart_rate_bpm",
    "cad": "cadence_rpm",
    "power": "power_watts",
    "speed": "speed_mps",
    "atemp": "temperature_c",
    "distance": "distance_m",
}


def gpxpy_points_frame(parsed: gpxpy.gpx.GPX) -> pd.DataFrame:
    """The point table as gpxpy users build it: one dict per point, extensions read by hand."""
    rows = []
    for a, track in enumerate(parsed.tracks):
        for s, segment in enumerate(track.segments):
            for point in segment.points:
                row = {"activity": a, "segment": s, "time": point.time, "latitude": point.latitude,
                       "longitude": point.longitude, "elevation_m": point.elevation}  # fmt: skip
                for extension in point.extensions:
                    for child in extension:
                        name = GPXTPX_COLUMNS.get(child.tag.rpartition("}")[2])
                        if name is not None and child.text:
                            row[name] = float(child.text)
                rows.append(row)
    frame = pd.DataFrame(rows, columns=POINT_COLUMNS)
    frame["time"] = pd.to_datetime(frame["time"], utc=True)
    return frame


def gpxpy_frame(path: Path) -> pd.DataFrame:
    with open(path, encoding="utf-8") as handle:
        return gpxpy_points_frame(gpxpy.parse(handle))


def point_table_rows(table: Table, path: Path) -> list[str]:
    """The point table of a GPX file in a pandas DataFrame, from the file and from objects
    already read; and what to_arrow() costs beside load() (target: at most 10%)."""
    loaded = tramlix.load(path)
    with open(path, encoding="utf-8") as handle:
        parsed = gpxpy.parse(handle)
    ours_frame, theirs_frame = loaded.to_arrow().to_pandas(), gpxpy_points_frame(parsed)
    assert len(ours_frame) == len(theirs_frame), (len(ours_frame), len(theirs_frame))
    assert ours_frame["latitude"].tolist() == theirs_frame["latitude"].tolist()
    table.add(
        "GPX file -> pandas points",
        path.name,
        median_time(lambda: tramlix.load(path).to_arrow().to_pandas()),
        median_time(lambda: gpxpy_frame(path), min_runs=3),
        "gpxpy + DataFrame",
        ">= 50x",
    )
    table.add(
        "pandas points, file read",
        path.name,
        median_time(lambda: loaded.to_arrow().to_pandas()),
        median_time(lambda: gpxpy_points_frame(parsed), min_runs=3),
        "gpxpy objects -> DataFrame",
        "",
    )
    load_time = median_time(lambda: tramlix.load(path))
    arrow_time = median_time(loaded.to_arrow, min_runs=20)
    line = (
        f"to_arrow() of {path.name} ({loaded.point_count:,} points): {arrow_time * 1e3:.2f} ms, "
        f"{100 * arrow_time / load_time:.1f}% of load() ({load_time * 1e3:.2f} ms) (target <= 10%)."
    )
    print(f"  {line}", flush=True)
    return [line]


CHANNELS = {"heart_rate": "heart_rate_bpm", "cadence": "cadence_rpm", "power": "power_watts",
            "speed": "speed_mps", "temperature": "temperature_c",
            "elevation": "elevation_m"}  # fmt: skip
GAP_LIMIT = pd.Timedelta(seconds=10)


def pandas_mean_max(frame: pd.DataFrame, column: str, durations: list[int]) -> list[float | None]:
    """The power-duration curve as pandas users write it: the series split where the next value
    comes more than 10 s later, each run resampled at 1 Hz holding each value to the next, and
    rolling means over each run."""
    values = frame.dropna(subset=[column]).set_index("time")[column].astype(float)
    run_numbers = (values.index.to_series().diff() > GAP_LIMIT).cumsum().to_numpy()
    runs = [run.resample("1s").ffill() for _, run in values.groupby(run_numbers)]
    best: list[float | None] = []
    for seconds in durations:
        means = [run.rolling(seconds).mean().max() for run in runs if len(run) >= seconds]
        best.append(max(means) if means else None)
    return best


def pandas_stats(frame: pd.DataFrame) -> dict[str, tuple]:
    """Count, minimum, time-weighted average, maximum (and the average without zeros for cadence
    and power) of each channel: a point weighs the time to the next one of its segment, at most
    10 s."""
    weight = -frame.groupby("segment")["time"].diff(-1)
    weight = weight.clip(upper=GAP_LIMIT).dt.total_seconds().fillna(0.0)
    figures = {}
    for channel, column in CHANNELS.items():
        values = frame[column].astype(float)
        present = values.notna()
        w, v = weight[present], values[present]
        row = (int(present.sum()), v.min(), (v * w).sum() / w.sum(), v.max())
        if channel in ("cadence", "power"):
            going = v != 0
            row += ((v[going] * w[going]).sum() / w[going].sum(),)
        figures[channel] = row
    return figures


def analysis_rows(table: Table, path: Path) -> None:
    """mean_max over 1, 5, 20 and 60 minutes and stats(), against the same figures from a pandas
    frame of the points (made beforehand, outside the timing)."""
    activity = tramlix.load(path).activities[0]
    frame = activity.to_arrow().to_pandas()
    durations = [60, 300, 1200, 3600]
    ours = activity.mean_max("power", durations)
    theirs = pandas_mean_max(frame, "power_watts", durations)
    assert all(a == b or abs(a - b) < 1e-6 * b for a, b in zip(ours, theirs, strict=True)), (
        ours,
        theirs,
    )
    table.add(
        "mean_max 1/5/20/60 min",
        path.name,
        median_time(lambda: activity.mean_max("power", durations), min_runs=20),
        median_time(lambda: pandas_mean_max(frame, "power_watts", durations), min_runs=3),
        "pandas resample + rolling",
        ">= 20x",
    )
    stats = activity.stats()
    for channel, expected in pandas_stats(frame).items():
        figures = getattr(stats, channel)
        found = (figures.count, figures.min, figures.average, figures.max)
        if len(expected) == 5:
            found += (figures.average_without_zeros,)
        assert all(
            abs(a - b) <= 1e-9 * max(1.0, abs(b)) for a, b in zip(found, expected, strict=True)
        ), (channel, found, expected)
    table.add(
        "stats()",
        path.name,
        median_time(activity.stats, min_runs=20),
        median_time(lambda: pandas_stats(frame), min_runs=3),
        "pandas time-weighted",
        ">= 20x",
    )


def main() -> None:
    warnings.filterwarnings("ignore")  # the peers warn about odd but readable corpus files
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cxx-bench", type=Path, help="the C++ XML benchmark (tramlix-bench)")
    parser.add_argument("--fit-bench", type=Path, help="the C++ FIT benchmark (tramlix-fit-bench)")
    parser.add_argument(
        "--out", type=Path, default=WORK / "results.md", help="where to write the table"
    )
    parser.add_argument(
        "--memory",
        action="store_true",
        help="also the peak memory of loading and writing 1,000,000-point files (slow)",
    )
    args = parser.parse_args()

    WORK.mkdir(parents=True, exist_ok=True)
    large = example("large.gpx", 25_000)
    large_tcx = example("large.tcx", 8_000)
    files = [large]
    if CORPUS.is_dir():
        files += [p for p in sorted((CORPUS / "gpx").glob("*.gpx")) if p.stat().st_size > 20_000]

    try:
        import lxml  # noqa: F401  (gpxpy parses with lxml when it is installed)

        backend = "lxml"
    except ImportError:
        backend = "xml.etree"
    print(
        f"tramlix {tramlix.__version__}, gpxpy {gpxpy.__version__} on {backend}, "
        f"Python {sys.version.split()[0]}"
    )
    for path in (large, large_tcx):
        print(
            f"large example: {path} ({path.stat().st_size / 1e6:.1f} MB, "
            f"{tramlix.load(path).point_count:,} points)"
        )
    ride = example("large-1hz.fit", 25_000, seconds_per_point=1.0)
    print(f"1 Hz example: {ride} ({tramlix.load(ride).point_count:,} points, seven hours)")
    table = Table()
    # A 1 Hz ride (a value for every second, as power meters record) and the large example (a
    # value every 0.144 s, several points to each resampled second).
    for path in (ride, large):
        analysis_rows(table, path)
    for path in files:
        gpx_rows(table, path)
    arrow_lines = point_table_rows(table, large)

    tcx_files = [large_tcx]
    if CORPUS.is_dir():
        tcx_files += sorted((CORPUS / "tcx").glob("*.tcx"))
    for path in tcx_files:
        tcx_rows(table, path)
    fit_files: list[Path] = []
    if CORPUS.is_dir():
        fit_files = [
            p for p in sorted((CORPUS / "fit").glob("*.fit")) if p.stat().st_size > 100_000
        ]
        fit_files = [p for p in fit_files if loads_cleanly(p)]
        fit_files.sort(key=lambda p: p.name != "activity-large-fenxi2-multisport.fit")
    for path in fit_files:
        fit_rows(table, path)
    message_lines: list[str] = []
    for path in fit_files[:1]:
        fit_write_rows(table, path)
        message_lines += fit_message_rows(table, path)

    if shutil.which("gpsbabel"):
        conversion_rows(table, large_tcx, ".gpx")
        conversion_rows(table, large, ".tcx")
        for path in fit_files[:1]:
            conversion_rows(table, path, ".gpx")
            conversion_rows(table, path, ".fit")
        conversion_rows(table, large, ".fit")
        conversion_rows(table, large_tcx, ".fit")
    else:
        print(
            "  gpsbabel is not installed: conversions are not compared (apt-get install gpsbabel)"
        )

    extra = []
    for path in [large] + fit_files[:1]:
        ratio = threads_ratio(path.read_bytes())
        line = (
            f"Two threads loading {path.name} at once: {ratio:.2f}x the throughput of one "
            "(target >= 1.8x)."
        )
        print(f"  {line}", flush=True)
        extra.append(line)
    extra += arrow_lines
    extra += message_lines
    extra += gzip_lines(fit_files[:1] + [large])
    extra.append("")
    for line in many_files_lines():
        print(f"  {line}", flush=True)
        extra.append(line)

    if args.cxx_bench:
        xml_files = files + tcx_files
        results: dict[tuple[str, str], dict] = {}
        for row in bench_rows(args.cxx_bench, xml_files):
            results[(Path(row["file"]).name, row["what"])] = row
        extra.append("")
        extra.append(
            "| file | expat, empty handlers | tramlix reader | reader / expat (target >= 60%) |"
        )
        extra.append("|---|---|---|---|")
        for path in xml_files:
            bare = results[(path.name, "expat_bare")]["mb_per_s"]
            read = results[(path.name, "read")]["mb_per_s"]
            line = (
                f"| {path.name} | {bare:,.0f} MB/s | {read:,.0f} MB/s | {100 * read / bare:.0f}% |"
            )
            extra.append(line)
            print(f"  {line}")
        extra += scaling_lines(results[(path.name, "two_threads")] for path in xml_files[:1])

    if args.fit_bench and fit_files:
        extra += [
            "",
            "| file | typed decoder alone | whole FIT read (loads) | every message as tables "
            "| FIT write (dumps, output) |",
            "|---|---|---|---|---|",
        ]
        rows: dict[str, dict[str, dict]] = {}
        for row in bench_rows(args.fit_bench, fit_files):
            rows.setdefault(Path(row["file"]).name, {})[row["what"]] = row
        for name, row in rows.items():
            line = (
                f"| {name} | {row['typed_decoder']['mb_per_s']:,.0f} MB/s "
                f"({row['typed_decoder']['messages']:,} messages) | "
                f"{row['loads']['mb_per_s']:,.0f} MB/s | "
                f"{row['messages']['mb_per_s']:,.0f} MB/s | "
                f"{row['dumps']['mb_per_s']:,.0f} MB/s |"
            )
            extra.append(line)
            print(f"  {line}")
        extra += scaling_lines(row["two_threads"] for row in rows.values())

    if args.memory:
        extra += memory_lines()

    report = table.markdown() + "\n\n" + "\n".join(extra) + "\n"
    args.out.write_text(report)
    print()
    print(report)


if __name__ == "__main__":
    main()
