"""tramlix laps: the laps a FIT or TCX file records, with their totals."""

from __future__ import annotations

from .. import laps
from . import _tables
from ._common import ANY_FORMAT

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from collections.abc import Callable
    from typing import Any

NAME = "laps"
HELP = "print the laps a file records"
DESCRIPTION = f"""\
Print the laps of a {ANY_FORMAT} file (gzip-compressed or not) with the
totals the file gives for each: start, duration, distance, heart rate,
speed, cadence, power, calories, climb, what ended the lap and its
intensity. FIT laps belong to the activity whose records they sit among;
TCX laps to their Activity; GPX has no laps. "-" marks what the file does
not give. --json and --csv print every column in SI units instead (needs
pyarrow: pip install 'tramlix[pandas]')."""

EPILOG = """\
examples:
  tramlix laps ride.fit
  tramlix laps --csv run.tcx > laps.csv"""

# Column, heading and how to show it on the terminal.
_SHOWN: list[tuple[str, str, Callable[[Any], str]]] = [
    ("activity", "activity", _tables.cell),
    ("lap", "lap", _tables.cell),
    ("start_time", "start", _tables.cell),
    ("total_timer_seconds", "time", _tables.clock),
    ("distance_meters", "km", _tables.scaled(0.001, 2)),
    ("average_heart_rate_bpm", "avg hr", _tables.scaled(1, 0)),
    ("max_heart_rate_bpm", "max hr", _tables.scaled(1, 0)),
    ("average_speed_mps", "avg km/h", _tables.scaled(3.6, 1)),
    ("max_speed_mps", "max km/h", _tables.scaled(3.6, 1)),
    ("average_cadence_rpm", "cadence", _tables.scaled(1, 0)),
    ("average_power_watts", "watts", _tables.scaled(1, 0)),
    ("calories", "kcal", _tables.scaled(1, 0)),
    ("total_ascent_meters", "up m", _tables.scaled(1, 0)),
    ("total_descent_meters", "down m", _tables.scaled(1, 0)),
    ("trigger", "trigger", _tables.cell),
    ("intensity", "intensity", _tables.cell),
]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help=f"a {ANY_FORMAT} file")
    _tables.add_format_arguments(parser, "laps")


def run(args: argparse.Namespace) -> int:
    try:
        table = laps(args.file)
        columns, records = _tables.rows(table)
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        return _tables.fail(args.file, error)
    _tables.write_records(args, columns, records, _SHOWN, "no laps")
    return 0
