"""tramlix plot: a picture of an activity, saved as PNG, SVG or PDF (needs matplotlib)."""

from __future__ import annotations

from .. import load
from ._common import ANY_FORMAT, report

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

NAME = "plot"
HELP = "draw an activity's track and profiles to a PNG, SVG or PDF file"
DESCRIPTION = f"""\
Draw one activity of a {ANY_FORMAT} file (gzip-compressed or not) to OUT: its
track (the outline, start and end marked, coloured by speed or heart rate)
above its elevation, heart rate and speed against distance, with the name,
sport, date, distance and duration in the title. Panels for channels the
activity does not have are left out; no map is fetched.

The extension of OUT picks the format: .png, .svg, .pdf (whatever matplotlib
writes). Needs matplotlib: pip install 'tramlix[plot]'."""

EPILOG = """\
examples:
  tramlix plot ride.fit -o ride.png
  tramlix plot --activity 2 --color-by heart_rate triathlon.fit -o run.svg"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help=f"a {ANY_FORMAT} file")
    parser.add_argument(
        "-o", "--output", metavar="OUT", required=True, help="the picture to write (.png, .svg)"
    )
    parser.add_argument(
        "--activity",
        metavar="N",
        type=int,
        default=1,
        help="which activity of the file to draw, from 1 (default: the first)",
    )
    parser.add_argument(
        "--color-by",
        choices=("speed", "heart_rate"),
        help="what colours the track (default: speed when there is any, else heart rate)",
    )


def run(args: argparse.Namespace) -> int:
    try:
        activities = load(args.file).activities
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        report(args.file, error)
        return 1
    if not 1 <= args.activity <= len(activities):
        count = f"{len(activities)} activit{'y' if len(activities) == 1 else 'ies'}"
        wanted = f"; --activity must be from 1 to {len(activities)}" if activities else ""
        report(args.file, ValueError(f"the file has {count}{wanted}"))
        return 1
    try:
        activities[args.activity - 1].plot(args.output, color_by=args.color_by)
    except Exception as error:  # noqa: BLE001 - a missing matplotlib, a bad extension, a full disk
        report(args.output, error)
        return 1
    return 0
