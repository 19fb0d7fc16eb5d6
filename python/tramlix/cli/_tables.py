"""Tables on the command line: readable columns on the terminal, CSV, JSON and Parquet."""

from __future__ import annotations

import datetime as dt
import math
import sys

from ._common import PROG

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from collections.abc import Callable, Sequence
    from typing import Any, TextIO

    from .. import Table

ABSENT = "-"


class NeedsPyarrow(Exception):
    """Reading a table's values needs pyarrow, which is not installed."""


def rows(table: Table) -> tuple[list[str], list[dict[str, Any]]]:
    """The column names and the rows of a table, as Python values (through pyarrow)."""
    read = _pyarrow("pyarrow", "this command needs pyarrow to read tables").table(table)
    return read.column_names, read.to_pylist()


def _pyarrow(module: str, why: str) -> Any:
    """A module of pyarrow, an optional dependency (imported by name: it has no type stubs)."""
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError:
        raise NeedsPyarrow(f"{why}: pip install 'tramlix[pandas]'") from None


def plain(value: Any) -> Any:
    """A value as JSON and CSV write it: times in ISO 8601, bytes in hex, NaN as absent."""
    if isinstance(value, dt.datetime):
        return value.isoformat()
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, list):
        return [plain(item) for item in value]
    return value


def write_json(out: TextIO, records: list[dict[str, Any]]) -> None:
    import json

    converted = [{k: plain(v) for k, v in record.items()} for record in records]
    json.dump(converted, out, indent=1, ensure_ascii=False, allow_nan=False)
    out.write("\n")


def write_csv(out: TextIO, columns: Sequence[str], records: list[dict[str, Any]]) -> None:
    import csv
    import json

    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(columns)
    for record in records:
        values = (plain(record[c]) for c in columns)
        writer.writerow(
            "" if v is None else json.dumps(v) if isinstance(v, list) else v for v in values
        )


def save(table: Table, path: str) -> None:
    """Writes the table to `path` as CSV, JSON or Parquet, by its extension."""
    suffix = path.rsplit(".", 1)[-1].lower() if "." in path else ""
    if suffix == "parquet":
        pyarrow = _pyarrow("pyarrow", "writing Parquet needs pyarrow")
        _pyarrow("pyarrow.parquet", "writing Parquet needs pyarrow").write_table(
            pyarrow.table(table), path
        )
        return
    if suffix not in ("csv", "json"):
        raise ValueError(f"{path} names no table format: use .csv, .json or .parquet")
    columns, records = rows(table)
    with open(path, "w", encoding="utf-8", newline="") as out:
        if suffix == "csv":
            write_csv(out, columns, records)
        else:
            write_json(out, records)


def cell(value: Any, digits: int = 2) -> str:
    if value is None:
        return ABSENT
    if isinstance(value, dt.datetime):
        text = value.strftime("%Y-%m-%d %H:%M:%S")
        return text + (" UTC" if value.tzinfo is not None else "")
    if isinstance(value, float):
        return f"{value:.{digits}f}" if math.isfinite(value) else ABSENT
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, list):
        return "[" + ", ".join(cell(v, digits) for v in value) + "]"
    return str(value)


def print_table(out: TextIO, header: Sequence[str], lines: Sequence[Sequence[str]]) -> None:
    """Columns padded to their widest cell; text to the left, everything else to the right."""
    widths = [max([len(h), *(len(line[i]) for line in lines)]) for i, h in enumerate(header)]
    numeric = [
        all(line[i] == ABSENT or _numeric(line[i]) for line in lines) for i in range(len(header))
    ]

    def row(cells: Sequence[str]) -> str:
        padded = (
            c.rjust(w) if right else c.ljust(w)
            for c, w, right in zip(cells, widths, numeric, strict=True)
        )
        return "  ".join(padded).rstrip()

    out.write(row(header) + "\n")
    for line in lines:
        out.write(row(line) + "\n")


def add_format_arguments(parser: argparse.ArgumentParser, what: str) -> None:
    """--json and --csv, either one: how a table of `what` is printed."""
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help=f"print the {what} as JSON")
    form.add_argument("--csv", action="store_true", help=f"print the {what} as CSV")


def write_records(
    args: argparse.Namespace,
    columns: Sequence[str],
    records: list[dict[str, Any]],
    shown: Sequence[tuple[str, str, Callable[[Any], str]]],
    none: str,
) -> None:
    """The records as --json or --csv ask, else readable: `shown` gives each readable column
    (the record's key, its heading, how a value shows); `none` is said when there is no record."""
    if args.json:
        write_json(sys.stdout, records)
    elif args.csv:
        write_csv(sys.stdout, columns, records)
    elif not records:
        sys.stdout.write(f"{args.file}: {none}\n")
    else:
        lines = [[show(record[column]) for column, _, show in shown] for record in records]
        print_table(sys.stdout, [heading for _, heading, _ in shown], lines)


def _numeric(text: str) -> bool:
    return text.replace(".", "", 1).replace(":", "").lstrip("-").isdigit()


def clock(seconds: float | None) -> str:
    if seconds is None or not math.isfinite(seconds):
        return ABSENT
    sign = "-" if seconds < 0 else ""
    minutes, second = divmod(round(abs(seconds)), 60)
    hours, minute = divmod(minutes, 60)
    return f"{sign}{hours}:{minute:02d}:{second:02d}" if hours else f"{sign}{minute}:{second:02d}"


def scaled(factor: float, digits: int) -> Callable[[Any], str]:
    return lambda v: ABSENT if v is None else cell(v * factor + 0.0, digits)


def fail(path: str, error: BaseException) -> int:
    print(f"{PROG}: error: {path}: {error}", file=sys.stderr)
    return 1
