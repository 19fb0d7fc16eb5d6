"""What the commands share: the program's name, the formats as the help texts name them, and
how failures and omissions are told on standard error."""

from __future__ import annotations

import os
import sys

from .._tramlix import _formats

TYPE_CHECKING = False  # importing typing alone costs the command a few milliseconds
if TYPE_CHECKING:
    from .. import ActivityFile
    from .._progress import Progress

# argparse and json are imported where they are needed: `tramlix convert IN OUT`, the command
# run most often and in batches, then starts in a fraction of the time.

PROG = "tramlix"

# The formats in the help texts, in alphabetical order: "FIT, GPX or TCX", ".fit, .gpx or .tcx".
_NAMES = sorted(_formats)
_COUNTS = {2: "two", 3: "three", 4: "four", 5: "five", 6: "six", 7: "seven", 8: "eight"}


def listed(items: list[str], last: str = "or") -> str:
    """'a, b or c'."""
    return f"{', '.join(items[:-1])} {last} {items[-1]}" if len(items) > 1 else items[0]


LABELS = [name.upper() for name in _NAMES]
EXTENSIONS = [f".{name}" for name in _NAMES]
ANY_FORMAT = listed(LABELS)  # "FIT, GPX or TCX"
FORMAT_COUNT = _COUNTS.get(len(_NAMES), str(len(_NAMES)))  # "three"


# The progress display of a command working through many files, while one is shown: the lines
# on standard error go above it.
progress: Progress | None = None


def stderr_line(text: str) -> None:
    if progress is not None:
        progress.write(text)
    else:
        print(text, file=sys.stderr)


def report(path: str, error: BaseException | str, hint: str = "") -> None:
    message = str(error) or type(error).__name__
    stderr_line(f"{PROG}: error: {path}: {message}{hint}")


# How the warning of `convert` names each reason ActivityFile.omissions() counts under.
_OMISSIONS = {
    "points_without_position": ("point without a position", "points without a position"),
    "points_without_time": ("point without a time", "points without a time"),
    "values_not_finite": (
        "value that is not a finite number",
        "values that are not finite numbers",
    ),
    "values_out_of_range": ("value out of range", "values out of range"),
    "lone_coordinates": ("coordinate without its partner", "coordinates without their partner"),
    "names_unknown": ("name FIT has no code for", "names FIT has no code for"),
    "values_of_untimed_activities": (
        "value of an activity without times",
        "values of activities without times",
    ),
}


def omissions_text(omitted: dict[str, int]) -> str:
    """'left out 3 points without a position, 1 value out of range; cut 1 text short'."""
    left_out = [
        f"{n} {_OMISSIONS.get(k, (k, k))[n != 1]}"
        for k, n in omitted.items()
        if k != "texts_shortened"
    ]
    parts = [f"left out {', '.join(left_out)}"] if left_out else []
    if shortened := omitted.get("texts_shortened"):
        parts.append(f"cut {shortened} text{'s' * (shortened != 1)} short")
    return "; ".join(parts)


def save(file: ActivityFile, target: str) -> int:
    """Writes `file` to `target`, warning of what its format leaves out; the exit status."""
    try:
        omitted = file.save_with_omissions(target)
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        report(target, error)
        return 1
    if omitted:
        stderr_line(f"{PROG}: warning: {target}: {omissions_text(omitted)}")
    return 0


def same_file(first: str, second: str) -> bool:
    """Whether two paths reach one file, whatever their spelling, links included."""
    try:
        return os.path.samestat(os.stat(first), os.stat(second))
    except (OSError, ValueError):  # a missing output, an unusable name: not the same file
        return False


def silence_stdout() -> None:
    # Python flushes standard output once more at exit, which would fail on the closed pipe.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass
