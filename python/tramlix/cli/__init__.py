"""The tramlix command: convert activity files, summarise them, export them as JSON, repair
damaged ones, draw them. One module per command: its NAME, HELP, DESCRIPTION and EPILOG,
add_arguments() and run(), which returns the exit status."""

from __future__ import annotations

import sys

from .. import __version__
from ._common import FORMAT_COUNT, LABELS, PROG, listed, silence_stdout

TYPE_CHECKING = False  # importing typing alone costs the command a few milliseconds
if TYPE_CHECKING:
    import argparse
    from collections.abc import Sequence

_DESCRIPTION = f"""\
Read, summarise, convert, repair and draw sport-activity files.

Reads {listed(LABELS, "and")} files, gzip-compressed or not (the format is recognised
from the content, not the file name), and writes any of the {FORMAT_COUNT} (chosen by
the output file's extension; a further .gz compresses it)."""

_EPILOG = """\
examples:
  tramlix convert ride.fit ride.gpx
  tramlix convert ride.fit.gz ride.gpx.gz
  tramlix info ride.fit run.gpx
  tramlix info --json ride.fit > summary.json
  tramlix json run.tcx > run.json
  tramlix repair cut-short.fit kept.fit
  tramlix fit ride.fit --message lap
  tramlix laps ride.fit
  tramlix splits --every 1mi run.gpx
  tramlix plot ride.fit -o ride.png
  tramlix convert export.zip --to gpx -o rides/
  tramlix table --summaries rides/ -o activities.csv"""


def main(argv: Sequence[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    try:
        # The plain conversion needs no option parsing: no argument starts with a dash.
        if len(argv) == 3 and argv[0] == "convert" and not any(a.startswith("-") for a in argv[1:]):
            from .convert import convert_files

            return convert_files(argv[1], argv[2])
        args = _parser().parse_args(argv)
        return int(args.run(args))
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (`tramlix json big.fit | head`): not an error of ours.
        silence_stdout()
        return 1


def _parser() -> argparse.ArgumentParser:
    import argparse

    from . import convert, export, fit, info, laps, plot, repair, splits, table

    parser = argparse.ArgumentParser(
        prog=PROG,
        description=_DESCRIPTION,
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)
    for command in (convert, info, export, repair, plot, fit, laps, splits, table):
        subparser = commands.add_parser(
            command.NAME,
            help=command.HELP,
            description=command.DESCRIPTION,
            epilog=command.EPILOG,
            formatter_class=argparse.RawDescriptionHelpFormatter,
        )
        command.add_arguments(subparser)
        subparser.set_defaults(run=command.run)
    return parser
