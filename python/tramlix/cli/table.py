"""tramlix table: the points of many files, or a summary row per activity, as one table in a
CSV, Parquet or Feather file."""

from __future__ import annotations

import importlib
import os

from .. import _tramlix
from . import _batch
from ._common import report

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

    from .. import Table

NAME = "table"
HELP = "write the points, or one row per activity, of many files as a CSV or Parquet table"
DESCRIPTION = """\
Write one table of every file that the SOURCEs name: a file, a folder (the
activity files under it, walked recursively in sorted order) or a zip archive
(its members with an activity file's extension).

By default a row per point: source (the file it comes from), activity,
segment, time, latitude, longitude, elevation_m, distance_m, heart_rate_bpm,
cadence_rpm, power_watts, speed_mps, temperature_c. With --summaries a row per
activity: source, activity, sport, sub_sport, name, start and end time,
duration, distance, moving and stopped time, elevation gain and loss, average
heart rate, maximum speed, points, the bounding box and the device, with an
error column that holds the message of a file that failed.

OUT's extension picks the format: .csv (written by tramlix: a header line,
empty fields for missing values, times in RFC 3339 UTC), .parquet, or .feather
or .arrow (the Arrow IPC file format); the last two need pyarrow (pip install
'tramlix[pandas]'). OUT is replaced whole. A file that fails is one error line
on standard error and the exit status is 1; the table holds the others."""

EPILOG = """\
examples:
  tramlix table rides/ -o points.parquet
  tramlix table --summaries export.zip -o activities.csv"""

_FORMATS = {".csv": "csv", ".parquet": "parquet", ".feather": "feather", ".arrow": "feather"}


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("sources", metavar="SOURCE", nargs="+", help=_batch.SOURCES_HELP)
    parser.add_argument(
        "-o",
        "--output",
        metavar="OUT",
        required=True,
        help="the table to write: .csv, .parquet, .feather or .arrow",
    )
    parser.add_argument(
        "--summaries", action="store_true", help="one row per activity instead of per point"
    )
    _batch.add_arguments(parser)
    parser.set_defaults(parser=parser)


def run(args: argparse.Namespace) -> int:
    _batch.check_jobs(args, args.parser)
    kind = _FORMATS.get(os.path.splitext(args.output)[1].lower())
    if kind is None:
        args.parser.error(f"OUT must end in {', '.join(_FORMATS)}: {args.output}")
        return 2
    if kind != "csv":
        try:
            importlib.import_module("pyarrow")
        except ImportError:
            extension = os.path.splitext(args.output)[1]
            report(args.output, f"writing {extension} needs pyarrow: pip install 'tramlix[pandas]'")
            return 1
    with _batch.Session(args) as session:
        if args.summaries:
            table, failures, empty = _tramlix._summaries(args.sources, args.jobs, session.report)
        else:
            table, failures, empty = _tramlix._points(args.sources, args.jobs, session.report, True)
        _batch.warn_empty(empty)
        for name, error in failures:
            report(name, error)
        try:
            _write(table, args.output, kind)
        except OSError as error:
            report(args.output, error)
            return 1
    return 1 if failures else 0


def _write(table: Table, path: str, kind: str) -> None:
    """Writes beside `path` and renames over it, so that a failure leaves an old file as it
    was."""
    directory, name = os.path.split(path)
    temporary = os.path.join(directory, f".{name}.{os.urandom(6).hex()}.tmp")
    try:
        if kind == "csv":
            # 0o666 less the umask, as for any new file.
            descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
            with open(descriptor, "wb") as out:
                _tramlix._write_csv(table, out.write)
        elif kind == "parquet":
            importlib.import_module("pyarrow.parquet").write_table(table.to_pyarrow(), temporary)
        else:
            importlib.import_module("pyarrow.feather").write_feather(table.to_pyarrow(), temporary)
        os.replace(temporary, path)
    except BaseException:
        if os.path.lexists(temporary):
            os.unlink(temporary)
        raise
