"""Progress on standard error while many files load: a tqdm bar when tqdm is installed, else a
one-line counter that rewrites itself."""

from __future__ import annotations

import importlib
import sys
import time

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable
    from typing import Any, TextIO

# The counter is redrawn at most this often (seconds); the last count is always shown.
_REDRAW = 0.1


class Progress:
    """A callable taking (done, total), as the `progress` argument of load_many, summaries
    and points does. Nothing is shown while total is below `min_total`. write() prints a line
    above the bar; close() ends the bar."""

    def __init__(self, stream: TextIO | None = None, *, min_total: int = 1) -> None:
        self._stream = sys.stderr if stream is None else stream
        self._min_total = min_total
        self._bar: Any = None
        self._counter = ""  # the counter's text on screen, or "" when none is
        self._drawn_at = 0.0
        self._active = False

    def __call__(self, done: int, total: int) -> None:
        if not self._active:
            if total < self._min_total:
                return
            self._start(total)
        if self._bar is not None:
            self._bar.update(done - self._bar.n)
        elif done == total or time.monotonic() - self._drawn_at >= _REDRAW:
            self._draw(f"{done:,} of {total:,} files")

    def _start(self, total: int) -> None:
        self._active = True
        try:
            tqdm = importlib.import_module("tqdm").tqdm
        except ImportError:
            return
        self._bar = tqdm(total=total, file=self._stream, unit="file", dynamic_ncols=True)

    def _draw(self, text: str) -> None:
        padding = " " * max(len(self._counter) - len(text), 0)
        self._stream.write(f"\r{text}{padding}")
        self._stream.flush()
        self._counter = text
        self._drawn_at = time.monotonic()

    def write(self, line: str) -> None:
        """Prints `line` on the stream, the bar (if any) below it."""
        if self._bar is not None:
            self._bar.write(line, file=self._stream)
            return
        self.clear()
        self._stream.write(line + "\n")
        self.redraw()

    def clear(self) -> None:
        """Takes the bar off the screen until the next call, so that the screen can show
        something else (standard output on the same terminal) where it was."""
        if self._bar is not None:
            self._bar.clear()
        elif self._counter:
            self._stream.write("\r" + " " * len(self._counter) + "\r")
            self._stream.flush()

    def redraw(self) -> None:
        if self._bar is not None:
            self._bar.refresh()
        elif self._counter:
            self._stream.write(self._counter)
            self._stream.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
        elif self._counter:
            self._stream.write("\n")
            self._stream.flush()
            self._counter = ""
        self._active = False


def reporter(
    progress: bool | Callable[[int, int], object] | None,
) -> tuple[Callable[[int, int], object] | None, Callable[[], None]]:
    """The callback for a `progress` argument, and what ends it: True shows a Progress on
    standard error, a callable is called as it is, False or None shows nothing."""
    if progress is True:
        shown = Progress()
        return shown, shown.close
    if progress is False or progress is None:
        return None, _nothing
    if callable(progress):
        return progress, _nothing
    raise TypeError(f"progress must be a bool or a callable, not {type(progress).__name__}")


def _nothing() -> None:
    pass
