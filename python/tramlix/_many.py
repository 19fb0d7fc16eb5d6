"""Many files at once: load_many, summaries and points, on a pool of C++ threads."""

from __future__ import annotations

from . import _tramlix
from ._progress import reporter

TYPE_CHECKING = False
if TYPE_CHECKING:
    import os
    from collections.abc import Callable, Iterable, Iterator
    from typing import Literal

    from ._tramlix import ActivityFile, Table, _ManyLoader

    type _Source = str | os.PathLike[str] | tuple[str | os.PathLike[str], bytes]
    type _Sources = str | os.PathLike[str] | Iterable[_Source]
    type _Progress = bool | Callable[[int, int], object]


def load_many(
    sources: _Sources, *, workers: int | None = None, progress: _Progress = False
) -> Iterator[tuple[str, ActivityFile | Exception]]:
    """Loads many files on `workers` threads (default: one per CPU) with the interpreter lock
    released, and yields (name, ActivityFile) for each, in input order, or (name, exception)
    for a file that failed: the exception load() would raise for it. A failing file never
    stops the others.

    `sources` is one path or an iterable of them (and of (name, bytes) pairs). A folder gives
    the .fit, .gpx and .tcx files under it (and their .gz forms, any letter case), walked
    recursively and sorted by path; a .zip archive gives its members with those extensions,
    named "archive.zip/member.fit"; any other path is loaded whatever its name. The names
    yielded can be given back as sources. At most about two files per worker are held ahead
    of the consumer, so memory stays bounded however many files there are.

    `progress`: True shows progress on standard error (tqdm when installed, else a counter);
    a callable gets (done, total) once the sources are listed, with done 0, then after each
    file. Listing comes first, so total is always known."""
    report, close = reporter(progress)  # a bad `progress` fails here, not at the first file
    loader = _tramlix._load_many(sources, workers)
    if report is None:
        return loader
    return _reporting(loader, report, close)


def _reporting(
    loader: _ManyLoader, report: Callable[[int, int], object], close: Callable[[], None]
) -> Iterator[tuple[str, ActivityFile | Exception]]:
    try:
        report(0, loader.total)
        for item in loader:
            report(loader.done, loader.total)
            yield item
    finally:
        close()


def summaries(
    sources: _Sources, *, workers: int | None = None, progress: _Progress = False
) -> Table:
    """One row per activity of every file that `sources` names (as for load_many), as a
    Table: source, activity, sport, sub_sport, name, start_time, end_time, duration_seconds,
    distance_meters, moving_time_seconds, stopped_time_seconds, elevation_gain_meters,
    elevation_loss_meters, average_heart_rate_bpm, max_speed_mps, points, min_latitude,
    min_longitude, max_latitude, max_longitude, device_manufacturer, device_product, error.

    A file that fails is one row with its error text in `error` and nulls but for `source`.
    The figures are those of the Activity properties (moving data at 1 km/h); each file is
    summarised on the thread that loaded it and dropped, so memory stays bounded by the
    workers' files, not by the history."""
    report, close = reporter(progress)
    try:
        table, _, _ = _tramlix._summaries(sources, workers, report)
    finally:
        close()
    return table


def points(
    sources: _Sources,
    *,
    workers: int | None = None,
    progress: _Progress = False,
    errors: Literal["raise", "skip"] = "raise",
) -> Table:
    """The point table of every file that `sources` names (as for load_many) in one Table: a
    `source` column (dictionary-encoded: the file's name, stored once per file) and then the
    columns of ActivityFile.to_arrow().

    errors="raise" raises the exception of the first file that fails, as load() would;
    errors="skip" leaves such files out."""
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors must be 'raise' or 'skip', not {errors!r}")
    report, close = reporter(progress)
    try:
        table, _, _ = _tramlix._points(sources, workers, report, errors == "skip")
    finally:
        close()
    return table
