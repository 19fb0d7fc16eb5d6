"""tramlix json: a whole activity file as JSON on standard output."""

from __future__ import annotations

import sys

from .. import load
from ._common import ANY_FORMAT, report

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

NAME = "json"
HELP = "print a file's complete contents as JSON"
DESCRIPTION = """\
Print the whole activity file as compact JSON on standard output: every
activity, segment and track point with every field, absent values as null,
times in UTC ending in Z."""

EPILOG = """\
example:
  tramlix json ride.fit > ride.json"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help=f"a {ANY_FORMAT} file")


def run(args: argparse.Namespace) -> int:
    try:
        text = load(args.file).to_json()
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        report(args.file, error)
        return 1
    sys.stdout.write(text + "\n")
    return 0
