"""What the commands that work through many files share: the -j and --no-progress options,
the progress bar on standard error, and the files loaded in order."""

from __future__ import annotations

import sys

from .. import _tramlix
from .._progress import Progress
from . import _common
from ._common import ANY_FORMAT, PROG

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from collections.abc import Iterator, Sequence

    from .. import ActivityFile

SOURCES_HELP = f"{ANY_FORMAT} files (gzip-compressed or not), folders of them, or zip archives"


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "-j",
        "--jobs",
        type=int,
        metavar="N",
        help="load N files at a time (default: one per CPU)",
    )
    parser.add_argument(
        "--no-progress",
        action="store_true",
        help="show no progress bar (one is shown on a terminal when there are several files)",
    )


def check_jobs(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    if args.jobs is not None and args.jobs < 1:
        parser.error(f"argument -j/--jobs: must be at least 1, not {args.jobs}")


class Session:
    """The progress bar of one command, shown on standard error when it is a terminal and more
    than one file is loaded; while it is, error and warning lines go above it."""

    def __init__(self, args: argparse.Namespace) -> None:
        shown = not args.no_progress and sys.stderr.isatty()
        self.progress: Progress | None = Progress(min_total=2) if shown else None

    def __enter__(self) -> Session:
        _common.progress = self.progress
        return self

    def __exit__(self, *exc: object) -> None:
        _common.progress = None
        if self.progress is not None:
            self.progress.close()

    def report(self, done: int, total: int) -> None:
        if self.progress is not None:
            self.progress(done, total)

    def print(self, text: str) -> None:
        """Writes `text` on standard output, the bar kept below it when both are on one
        terminal."""
        if self.progress is None:
            sys.stdout.write(text)
            return
        self.progress.clear()
        sys.stdout.write(text)
        sys.stdout.flush()
        self.progress.redraw()


def warn_empty(names: Sequence[str]) -> None:
    for name in names:
        _common.stderr_line(f"{PROG}: warning: {name}: no {ANY_FORMAT} files found in it")


def loaded(
    session: Session, sources: Sequence[str], jobs: int | None
) -> Iterator[tuple[str, ActivityFile | Exception]]:
    """(name, file or exception) for each file the sources name, in order."""
    loader = _tramlix._load_many(sources, jobs)
    warn_empty(loader.empty_sources)
    session.report(0, loader.total)
    for item in loader:
        session.report(loader.done, loader.total)
        yield item
