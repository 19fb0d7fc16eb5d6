"""tramlix convert: an activity file in another format. The command run most often, and in
batches: `tramlix convert IN OUT` imports neither argparse, json nor typing."""

from __future__ import annotations

import sys

from .. import load
from ._common import ANY_FORMAT, EXTENSIONS, PROG, listed, report, same_file, save

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

NAME = "convert"
HELP = f"convert a {ANY_FORMAT} file to another format"
DESCRIPTION = f"""\
Convert an activity file to another format.

INPUT may be {ANY_FORMAT}, gzip-compressed or not: its format is recognised
from the content. The format written is chosen by OUTPUT's extension: {EXTENSIONS[0]},
{listed(EXTENSIONS[1:])} (any letter case); {listed([f"{e}.gz" for e in EXTENSIONS])} write it
gzip-compressed. OUTPUT is created or replaced whole: a new file is written
beside it and renamed over it, so a failed conversion leaves an existing OUTPUT
as it was. OUTPUT is always valid for its format: what the format cannot carry
(points without a position in GPX, points without a time in TCX, values
outside FIT's ranges, ...) is left out, and one warning line on standard error
says how much and why. Otherwise nothing is printed on success.

A conversion keeps what the model holds, not every detail of the input, so
OUTPUT may not be INPUT itself (by any name or link) unless --force is given."""

EPILOG = """\
examples:
  tramlix convert ride.fit ride.gpx
  tramlix convert track.gpx track.TCX
  tramlix convert export/ride.fit.gz ride.tcx.gz"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("input", metavar="INPUT", help=f"the file to read ({ANY_FORMAT})")
    parser.add_argument(
        "output",
        metavar="OUTPUT",
        help="the file to write; its extension picks the format (.gpx, .gpx.gz, ...)",
    )
    parser.add_argument(
        "--force", action="store_true", help="rewrite INPUT in place when OUTPUT is the same file"
    )


def run(args: argparse.Namespace) -> int:
    return convert_files(args.input, args.output, force=args.force)


def convert_files(source: str, target: str, force: bool = False) -> int:
    if not force and same_file(source, target):
        print(
            f"{PROG}: error: {target}: is the input file {source}; it would be replaced by a "
            "lossy rewrite (use --force to do that)",
            file=sys.stderr,
        )
        return 2
    try:
        file = load(source)
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        report(source, error)
        return 1
    return save(file, target)
