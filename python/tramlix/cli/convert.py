"""tramlix convert: an activity file in another format, or many into a folder. The command run
most often, and in batches: `tramlix convert IN OUT` imports neither argparse, json nor
typing."""

from __future__ import annotations

import sys

from .. import load
from ._common import ANY_FORMAT, EXTENSIONS, PROG, listed, report, same_file, save

FORMATS = [extension[1:] for extension in EXTENSIONS]  # "fit", "gpx", "tcx"

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

NAME = "convert"
HELP = f"convert a {ANY_FORMAT} file, or many, to another format"
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
OUTPUT may not be INPUT itself (by any name or link) unless --force is given.

With --to and -o, every file that the SOURCEs name is converted into the folder
OUTDIR (made when missing), keeping its base name: export/ride.fit.gz becomes
OUTDIR/ride.gpx (ride.gpx.gz with --gzip). A SOURCE may be a file, a folder
(the activity files under it, walked recursively in sorted order) or a zip
archive (its members with an activity file's extension). Files load in
parallel (-j); a file that fails is one error line and the others go on; a
name that two sources would both write is written once. A last line on
standard output counts what was converted; the exit status is 1 when any file
failed."""

EPILOG = """\
examples:
  tramlix convert ride.fit ride.gpx
  tramlix convert track.gpx track.TCX
  tramlix convert export/ride.fit.gz ride.tcx.gz
  tramlix convert export.zip rides/ --to gpx --gzip -o converted/"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    from . import _batch

    parser.usage = (
        "%(prog)s [--force] INPUT OUTPUT\n"
        f"       %(prog)s SOURCE [SOURCE ...] --to {{{','.join(FORMATS)}}} -o OUTDIR [--gzip] "
        "[--force] [-j N] [--no-progress]"
    )
    parser.add_argument(
        "paths",
        metavar="PATH",
        nargs="+",
        help=f"the file to read ({ANY_FORMAT}) and the file to write, whose extension picks the "
        "format (.gpx, .gpx.gz, ...); or, with --to and -o, the files, folders and zip "
        "archives to convert",
    )
    parser.add_argument(
        "--to", type=str.lower, choices=FORMATS, help="the format to convert SOURCEs to"
    )
    parser.add_argument("-o", "--output-dir", metavar="OUTDIR", help="where to write them")
    parser.add_argument("--gzip", action="store_true", help="write them gzip-compressed")
    parser.add_argument(
        "--force", action="store_true", help="rewrite INPUT in place when OUTPUT is the same file"
    )
    _batch.add_arguments(parser)
    parser.set_defaults(parser=parser)


def run(args: argparse.Namespace) -> int:
    from . import _batch

    parser = args.parser
    _batch.check_jobs(args, parser)
    if args.to is None and args.output_dir is None:
        if args.gzip:
            parser.error("--gzip goes with --to and -o; OUTPUT's extension says it (.gpx.gz)")
        if len(args.paths) != 2:
            parser.error("give INPUT and OUTPUT, or SOURCEs with --to and -o")
        return convert_files(args.paths[0], args.paths[1], force=args.force)
    if args.to is None or args.output_dir is None:
        parser.error("--to and -o/--output-dir go together")
    return convert_many(args)


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


def output_stem(name: str) -> str:
    """The base name without its activity file extension: "export/ride.fit.gz" -> "ride";
    another name loses its last extension, if any."""
    base = name.rpartition("/")[2]
    stem = base[:-3] if base.lower().endswith(".gz") else base
    for extension in EXTENSIONS:
        if stem.lower().endswith(extension):
            return stem[: -len(extension)] or base
    dot = stem.rfind(".")
    return stem[:dot] if dot > 0 else stem


def convert_many(args: argparse.Namespace) -> int:
    import os

    from . import _batch

    outdir = args.output_dir
    try:
        os.makedirs(outdir, exist_ok=True)
    except OSError as error:
        report(outdir, error)
        return 1
    suffix = f".{args.to}" + (".gz" if args.gzip else "")
    written: dict[str, str] = {}  # target -> the source written to it
    converted = failed = 0
    with _batch.Session(args) as session:
        for name, file in _batch.loaded(session, args.paths, args.jobs):
            target = os.path.join(outdir, output_stem(name) + suffix)
            if isinstance(file, Exception):
                report(name, file)
            elif target in written:
                report(name, f"{target} was written from {written[target]} already; not replaced")
            elif not args.force and same_file(name, target):
                report(name, f"is the output file {target} (use --force to rewrite it)")
            elif save(file, target) == 0:
                written[target] = name
                converted += 1
                continue
            failed += 1
    total = converted + failed
    line = f"converted {converted:,} of {total:,} files to {args.to.upper()} in {outdir}"
    print(line + (f"; {failed:,} failed" if failed else ""))
    return 1 if failed else 0
