"""tramlix repair: what a damaged activity file still holds, written to another file."""

from __future__ import annotations

import sys

from .. import recover
from ._common import ANY_FORMAT, EXTENSIONS, PROG, report, same_file, save

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

NAME = "repair"
HELP = "keep what a damaged file still holds, written to another file"
DESCRIPTION = f"""\
Keep what a damaged activity file still holds.

Reads INPUT ({ANY_FORMAT}, gzip-compressed or not) as far as it can, where
convert would refuse it: a file cut short (a flat battery, a crash, a copy
broken off), a checksum that does not match, a FIT record or an XML document
that goes wrong part-way, a damaged gzip stream. Everything before the damage
is kept and written to OUTPUT, whose extension picks the format as for
convert ({", ".join(EXTENSIONS)}; a further .gz compresses it).

Each problem found is printed on standard error, one line each, naming INPUT
and saying what was kept. The exit status is 0 when something was kept (an
intact file is simply converted), 1 when nothing was; OUTPUT is then not
written. INPUT is never written over: OUTPUT must be another file."""

EPILOG = """\
examples:
  tramlix repair cut-short.fit kept.fit
  tramlix repair export/broken.gpx.gz kept.gpx"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("input", metavar="INPUT", help=f"the damaged file ({ANY_FORMAT})")
    what = "the file to write what was kept to; its extension picks the format"
    parser.add_argument("output", metavar="OUTPUT", help=what)


def run(args: argparse.Namespace) -> int:
    source, target = args.input, args.output
    # The damaged file may be the only copy of the recording: it is never written over.
    if same_file(source, target):
        print(
            f"{PROG}: error: {target}: is the input; repair writes what it keeps to another file",
            file=sys.stderr,
        )
        return 2
    try:
        file, problems = recover(source)
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        report(source, error)
        return 1
    level = "warning" if file.activities else "error"
    for problem in problems:
        print(f"{PROG}: {level}: {source}: {problem}", file=sys.stderr)
    if not file.activities:
        return 1
    return save(file, target)
