"""tramlix fit: every message of a FIT file, as a summary or as one message type's table."""

from __future__ import annotations

import sys

from .. import fit
from . import _tables

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

NAME = "fit"
HELP = "list the messages of a FIT file, or print or save one message type as a table"
DESCRIPTION = """\
Everything a FIT file holds, not only what the activity model keeps: laps,
events, HRV, pool lengths, device information, developer fields from power
meters and apps.

Without --message, lists the message types in the order they first appear,
with how many messages of each there are and their fields. With --message,
prints that message type as a table, one row per message (values as
tramlix.fit.messages() gives them: scaled, enumerations by name, times in
UTC, "-" for absent values), or writes it with -o (CSV, JSON or Parquet, by
the extension) or as --csv or --json on standard output. Reading a table's
values needs pyarrow (pip install 'tramlix[pandas]')."""

EPILOG = """\
examples:
  tramlix fit ride.fit
  tramlix fit ride.fit --message lap
  tramlix fit ride.fit --message record -o records.parquet
  tramlix fit ride.fit --message hrv --csv > hrv.csv"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help="a FIT file (gzip-compressed or not)")
    parser.add_argument("--message", metavar="NAME", help="the message type to show (lap, ...)")
    parser.add_argument("-o", "--output", metavar="OUT", help="write the table to OUT")
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print the table as JSON")
    form.add_argument("--csv", action="store_true", help="print the table as CSV")


def run(args: argparse.Namespace) -> int:
    if args.message is None and (args.output or args.json or args.csv):
        print(f"{_tables.PROG} fit: error: -o, --json and --csv need --message", file=sys.stderr)
        return 2
    try:
        names = None if args.message is None else [args.message]
        tables = fit.messages(args.file, names=names)
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        return _tables.fail(args.file, error)
    if args.message is None:
        _summary(tables)
        return 0
    table = tables.get(args.message)
    if table is None:
        return _tables.fail(args.file, ValueError(f"no {args.message} messages"))
    try:
        if args.output:
            _tables.save(table, args.output)
            return 0
        columns, records = _tables.rows(table)
    except (_tables.NeedsPyarrow, OSError, ValueError) as error:
        return _tables.fail(args.output or args.file, error)
    if args.json:
        _tables.write_json(sys.stdout, records)
    elif args.csv:
        _tables.write_csv(sys.stdout, columns, records)
    else:
        lines = [[_tables.cell(record[c]) for c in columns] for record in records]
        _tables.print_table(sys.stdout, columns, lines)
    return 0


def _summary(tables: dict) -> None:
    lines = [
        [name, str(len(table)), ", ".join(table.column_names)] for name, table in tables.items()
    ]
    _tables.print_table(sys.stdout, ["message", "count", "fields"], lines)
