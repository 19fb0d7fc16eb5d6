#!/usr/bin/env python3
"""Runs the libFuzzer targets of a fuzz build, each for a given time, and sums up what they did.

Each target starts from its seeds: the folder of the shared corpus for what it reads (when the
corpus is there), the committed fuzz/corpus/<target>/ of minimised inputs, and the inputs an
earlier run found (kept under the build folder). A target that crashes, leaks, trips a sanitizer
or stops otherwise fails the run; libFuzzer writes the input that did it beside the log.

    fuzz/run.py BUILD_DIR [--seconds 60] [--jobs 2] [--keep-going] [TARGET ...]

With --keep-going (for long campaigns) each target runs in libFuzzer's fork mode and goes on
after a finding until its time is up; every finding is kept under the artifacts folder.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
CORPUS = ROOT.parent / "shared" / "corpus"
COMMITTED = ROOT / "fuzz" / "corpus"
XML_DICT = ROOT / "fuzz" / "xml.dict"

# Inputs longer than this are not made: a long document only slows every run down. A gzip input
# inflates to about a thousand times this, which stays well inside the memory limit.
MAX_LEN = 16384
# The target's whole footprint, sanitizers included; a larger one is reported as a failure.
RSS_LIMIT_MB = 2560
# One allocation beyond this is reported too: the writers reserve room for a whole document up
# front, which for millions of points inflated from a small gzip input may exceed the RSS limit.
MALLOC_LIMIT_MB = 8192
# Fork mode: each job a child process; a crash, leak, timeout or out-of-memory is kept and the
# run goes on.
KEEP_GOING = ["-fork=1", "-ignore_crashes=1", "-ignore_ooms=1", "-ignore_timeouts=1"]

# What each target reads: folders of the shared corpus, and whether XML tokens help it.
TARGETS = {
    "fuzz-loads-gpx": (["gpx"], True),
    "fuzz-loads-tcx": (["tcx"], True),
    "fuzz-loads-fit": (["fit", "fit/invalid"], False),
    "fuzz-fit-records": ([], False),  # seeded with the records of the FIT files, framed anew
    "fuzz-roundtrip": (["gpx", "tcx", "fit"], True),
    "fuzz-recover": (["gpx", "tcx", "fit", "fit/invalid"], True),
}


def definition(records: bytes, at: int) -> tuple[int, int] | None:
    """The length of the FIT definition message at `at` and the size of the data it defines;
    none when it is cut short."""
    if at + 6 > len(records):
        return None
    length = 6 + 3 * records[at + 5]
    if at + length > len(records):
        return None
    size = sum(records[i + 1] for i in range(at + 6, at + length, 3))
    if records[at] & 0x20:  # developer fields follow
        if at + length >= len(records):
            return None
        start = at + length + 1
        length += 1 + 3 * records[at + length]
        if at + length > len(records):
            return None
        size += sum(records[i + 1] for i in range(start, at + length, 3))
    return length, size


def fit_records(data: bytes, limit: int) -> bytes | None:
    """The first file's data records of a FIT file, whole records up to `limit` bytes, behind
    the byte that chooses fuzz-fit-records' frame (header size and protocol version)."""
    if len(data) < 12 or data[0] not in (12, 14) or data[8:12] != b".FIT":
        return None
    header = data[0]
    records = data[header : header + int.from_bytes(data[4:8], "little")]
    sizes: dict[int, int] = {}  # data size by local message type
    at = 0
    while at < len(records):
        kind = records[at]
        if kind & 0x80:  # compressed timestamp: a data message of local type 0-3
            length = 1 + sizes.get((kind >> 5) & 3, -1)
        elif kind & 0x40:
            defined = definition(records, at)
            if defined is None:
                break
            length, sizes[kind & 0x0F] = defined
        else:
            length = 1 + sizes.get(kind & 0x0F, -1)
        if length <= 0 or at + length > min(len(records), limit - 1):
            break
        at += length
    choice = (1 if header == 12 else 0) | (2 if data[1] >> 4 == 1 else 0)
    return bytes([choice]) + records[:at]


def prepared_seeds(target: str, build: Path) -> list[Path]:
    folders, _ = TARGETS[target]
    seeds = [CORPUS / folder for folder in folders if (CORPUS / folder).is_dir()]
    if target == "fuzz-fit-records" and (CORPUS / "fit").is_dir():
        framed = build / "seeds" / target
        shutil.rmtree(framed, ignore_errors=True)
        framed.mkdir(parents=True)
        for path in sorted((CORPUS / "fit").rglob("*")):
            if path.is_file() and (records := fit_records(path.read_bytes(), MAX_LEN)):
                (framed / path.name).write_bytes(records)
        seeds.append(framed)
    committed = COMMITTED / target.removeprefix("fuzz-")
    if committed.is_dir():
        seeds.append(committed)
    return seeds


@dataclass
class Outcome:
    target: str
    seconds: float
    returncode: int
    executions: int | None
    coverage: int | None
    features: int | None
    corpus: str | None
    log: Path
    artifacts: list[str]


def last_number(pattern: str, text: str) -> int | None:
    found = re.findall(pattern, text)
    return int(found[-1]) if found else None


def run_target(
    target: str, build: Path, seconds: int, keep_going: bool, extra: list[str]
) -> Outcome:
    binary = build / "fuzz" / target
    work = build / "corpus" / target
    artifacts = build / "artifacts" / target
    work.mkdir(parents=True, exist_ok=True)
    artifacts.mkdir(parents=True, exist_ok=True)
    log = build / "logs" / f"{target}.log"
    log.parent.mkdir(parents=True, exist_ok=True)
    command = [
        str(binary),
        str(work),
        *map(str, prepared_seeds(target, build)),
        f"-max_total_time={seconds}",
        f"-max_len={MAX_LEN}",
        f"-rss_limit_mb={RSS_LIMIT_MB}",
        f"-malloc_limit_mb={MALLOC_LIMIT_MB}",
        "-timeout=60",
        "-print_final_stats=1",
        f"-artifact_prefix={artifacts}/",
        *([f"-dict={XML_DICT}"] if TARGETS[target][1] else []),
        *(KEEP_GOING if keep_going else []),
        *extra,
    ]
    env = {
        **os.environ,
        "ASAN_OPTIONS": "detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1",
        "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
    }
    before = set(artifacts.iterdir())
    started = time.monotonic()
    with log.open("w") as out:
        out.write(" ".join(command) + "\n")
        out.flush()
        result = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, env=env)
    text = log.read_text(errors="replace")
    corpus = re.findall(r"corp: (\d+(?:/\S+)?)", text)
    # A single run prints its total at the end; fork mode prints it at the start of each line.
    executions = last_number(r"stat::number_of_executed_units: (\d+)", text)
    if executions is None:
        executions = last_number(r"(?m)^#(\d+): cov:", text)
    return Outcome(
        target=target,
        seconds=time.monotonic() - started,
        returncode=result.returncode,
        executions=executions,
        coverage=last_number(r"cov: (\d+)", text),
        features=last_number(r"ft: (\d+)", text),
        corpus=corpus[-1] if corpus else None,
        log=log,
        artifacts=sorted(str(path) for path in set(artifacts.iterdir()) - before),
    )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", type=Path, help="the fuzz build folder (cmake -B)")
    parser.add_argument("targets", nargs="*", help="targets to run (default: all)")
    parser.add_argument("--seconds", type=int, default=60, help="time per target")
    parser.add_argument("--jobs", type=int, default=1, help="targets run side by side")
    parser.add_argument(
        "--keep-going", action="store_true", help="go on after a finding (fork mode)"
    )
    parser.add_argument("--libfuzzer", action="append", default=[], help="a libFuzzer flag")
    args = parser.parse_intermixed_args()
    targets = args.targets or list(TARGETS)
    unknown = [t for t in targets if t not in TARGETS]
    if unknown:
        parser.error(f"unknown targets: {', '.join(unknown)} (known: {', '.join(TARGETS)})")
    if not CORPUS.is_dir():
        print(f"the shared corpus is not at {CORPUS}: seeding from fuzz/corpus/ alone")

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        outcomes = list(
            pool.map(
                lambda t: run_target(t, args.build, args.seconds, args.keep_going, args.libfuzzer),
                targets,
            )
        )

    print(f"{'target':18} {'seconds':>8} {'executions':>11} {'cov':>6} {'ft':>7}  corpus  result")
    failed = False
    for o in outcomes:
        ok = o.returncode == 0 and not o.artifacts
        failed |= not ok
        found = ", ".join(o.artifacts) or f"see {o.log}"
        result = "ok" if ok else f"FAILED ({o.returncode}): {found}"
        print(
            f"{o.target:18} {o.seconds:8.0f} {o.executions or 0:11,} {o.coverage or 0:6} "
            f"{o.features or 0:7}  {o.corpus or '-':6}  {result}"
        )
    if failed:
        print("logs and reproducers are under", args.build, file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
