"""Peak memory of reading and writing a large activity, over the size of the file.

    .venv/bin/python bench/memory.py [--points 1000000]

For a GPX and a FIT file of the same activity (made by the example script), each step runs in a
fresh process: its peak resident memory above what the process held just before the step (the
interpreter and the module; for a writer, also the model it writes), divided by the size of the
file read or written. gpxpy's load of the GPX file is measured the same way when it is
installed (`pip install -r bench/requirements.txt`).
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "bench"

# Runs in the child: sets up, resets the high-water mark, runs the step, prints what it measured.
CHILD = r"""
import json, sys

def kilobytes(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])

step, path = sys.argv[1], sys.argv[2]
if step == "gpxpy":
    import gpxpy
    run = lambda: gpxpy.parse(open(path, encoding="utf-8"))
else:
    import tramlix
    if step == "load":
        run = lambda: tramlix.load(path)
    else:
        model = tramlix.load(path)
        run = lambda: model.to_bytes(step)
before = kilobytes("VmRSS")
with open("/proc/self/clear_refs", "w") as clear:
    clear.write("5")  # the peak (VmHWM) starts again from the resident size now
result = run()
peak = kilobytes("VmHWM")
size = len(result) if isinstance(result, bytes) else None
print(json.dumps({"above": (peak - before) * 1024, "output": size}))
"""


def example(points: int, suffix: str) -> Path:
    path = WORK / f"memory-{points}.{suffix}"
    if not path.exists():
        WORK.mkdir(parents=True, exist_ok=True)
        script = ROOT / "examples" / "make_example.py"
        subprocess.run(
            [sys.executable, str(script), "--points", str(points), "--out", str(path)],
            check=True,
        )
    return path


def measure(step: str, path: Path) -> dict[str, int | None]:
    output = subprocess.run(
        [sys.executable, "-c", CHILD, step, str(path)], check=True, capture_output=True, text=True
    ).stdout
    return json.loads(output)


def gpxpy_installed() -> bool:
    probe = [sys.executable, "-c", "import gpxpy"]
    return subprocess.run(probe, capture_output=True).returncode == 0


def rows(points: int) -> list[tuple[str, str, int, int]]:
    """(file name, step, size of the file read or written, peak bytes above) for each step."""
    result = []
    for suffix in ("gpx", "fit"):
        path = example(points, suffix)
        size = path.stat().st_size
        steps = ["load", "gpx", "tcx", "fit"]
        if suffix == "gpx" and gpxpy_installed():
            steps.append("gpxpy")
        for step in steps:
            got = measure(step, path)
            file_size = got["output"] if got["output"] is not None else size
            what = {"load": "tramlix load", "gpxpy": "gpxpy load"}.get(step, f"write {step}")
            result.append((path.name, what, file_size, got["above"]))
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", type=int, default=1_000_000)
    args = parser.parse_args()

    rows_measured = rows(args.points)
    print(f"{args.points:,} points; peak RSS above the process before the step")
    print(f"{'file':24} {'step':14} {'file MB':>8} {'peak MB':>8} {'peak/size':>9}")
    for name, what, file_size, above in rows_measured:
        print(
            f"{name:24} {what:14} {file_size / 1e6:8.1f} {above / 1e6:8.1f} "
            f"{above / file_size:8.1f}x"
        )


if __name__ == "__main__":
    main()
