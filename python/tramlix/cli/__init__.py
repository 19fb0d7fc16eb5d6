"""The tramlix command: convert activity files, summarise them, export them as JSON, repair
damaged ones."""

from __future__ import annotations

import math
import os
import sys

from . import Activity, DeviceInfo, TramlixError, __version__, load, recover

TYPE_CHECKING = False  # importing typing alone costs the command a few milliseconds
if TYPE_CHECKING:
    import argparse
    from collections.abc import Sequence
    from typing import Any, TextIO

# argparse and json are imported where they are needed: `tramlix convert IN OUT`, the command
# run most often and in batches, then starts in a fraction of the time.

PROG = "tramlix"

_DESCRIPTION = """\
Read, summarise, convert and repair sport-activity files.

Reads FIT, GPX and TCX files, gzip-compressed or not (the format is recognised
from the content, not the file name), and writes any of the three (chosen by
the output file's extension; a further .gz compresses it)."""

_EPILOG = """\
examples:
  tramlix convert ride.fit ride.gpx
  tramlix convert ride.fit.gz ride.gpx.gz
  tramlix info ride.fit run.gpx
  tramlix info --json ride.fit > summary.json
  tramlix json run.tcx > run.json
  tramlix repair cut-short.fit kept.fit"""

_CONVERT_DESCRIPTION = """\
Convert an activity file to another format.

INPUT may be FIT, GPX or TCX, gzip-compressed or not: its format is recognised
from the content. The format written is chosen by OUTPUT's extension: .fit,
.gpx or .tcx (any letter case); .fit.gz, .gpx.gz or .tcx.gz write it
gzip-compressed. OUTPUT is created or replaced whole: a new file is written
beside it and renamed over it, so a failed conversion leaves an existing OUTPUT
as it was. OUTPUT is always valid for its format: what the format cannot carry
(points without a position in GPX, points without a time in TCX, values
outside FIT's ranges, ...) is left out, and one warning line on standard error
says how much and why. Otherwise nothing is printed on success.

A conversion keeps what the model holds, not every detail of the input, so
OUTPUT may not be INPUT itself (by any name or link) unless --force is given."""

_CONVERT_EPILOG = """\
examples:
  tramlix convert ride.fit ride.gpx
  tramlix convert track.gpx track.TCX
  tramlix convert export/ride.fit.gz ride.tcx.gz"""

_INFO_DESCRIPTION = """\
Summarise each activity in one or more FIT, GPX or TCX files (gzip-compressed
or not): sport, name, start and end time, duration, distance, moving and
stopped time (at most 1 km/h counts as stopped), elevation gain and loss,
average heart rate, maximum speed, number of points and the bounding box.

Figures recorded in the file's own summary win over those computed from the
track points. Values the file does not provide are shown as "-". A damaged
file that `tramlix repair` could still keep something of says so on its
error line."""

_INFO_EPILOG = """\
With --json the output is a JSON list with one object per file:
  {"path": ..., "error": null or a message, "device": {...} or null,
   "activities": [...]}
where each activity holds the same figures in SI units (metres, seconds,
metres per second) with times in ISO 8601 form; absent values are null.
The device (manufacturer, product, serial number, software version) comes
from FIT files; GPX and TCX files have none.

examples:
  tramlix info ride.fit
  tramlix info --json *.gpx"""

_REPAIR_DESCRIPTION = """\
Keep what a damaged activity file still holds.

Reads INPUT (FIT, GPX or TCX, gzip-compressed or not) as far as it can, where
convert would refuse it: a file cut short (a flat battery, a crash, a copy
broken off), a checksum that does not match, a FIT record or an XML document
that goes wrong part-way, a damaged gzip stream. Everything before the damage
is kept and written to OUTPUT, whose extension picks the format as for
convert (.fit, .gpx, .tcx; a further .gz compresses it).

Each problem found is printed on standard error, one line each, naming INPUT
and saying what was kept. The exit status is 0 when something was kept (an
intact file is simply converted), 1 when nothing was; OUTPUT is then not
written. INPUT is never written over: OUTPUT must be another file."""

_REPAIR_EPILOG = """\
examples:
  tramlix repair cut-short.fit kept.fit
  tramlix repair export/broken.gpx.gz kept.gpx"""

_JSON_DESCRIPTION = """\
Print the whole activity file as compact JSON on standard output: every
activity, segment and track point with every field, absent values as null,
times in UTC ending in Z."""

_JSON_EPILOG = """\
example:
  tramlix json ride.fit > ride.json"""

_ABSENT = "-"


def main(argv: Sequence[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    try:
        # The plain conversion needs no option parsing: no argument starts with a dash.
        if len(argv) == 3 and argv[0] == "convert" and not any(a.startswith("-") for a in argv[1:]):
            return _convert_files(argv[1], argv[2])
        args = _parser().parse_args(argv)
        return int(args.run(args))
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (`tramlix json big.fit | head`): not an error of ours.
        _silence_stdout()
        return 1


def _parser() -> argparse.ArgumentParser:
    import argparse

    parser = argparse.ArgumentParser(
        prog=PROG,
        description=_DESCRIPTION,
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    convert = commands.add_parser(
        "convert",
        help="convert a FIT, GPX or TCX file to another format",
        description=_CONVERT_DESCRIPTION,
        epilog=_CONVERT_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    convert.add_argument("input", metavar="INPUT", help="the file to read (FIT, GPX or TCX)")
    convert.add_argument(
        "output",
        metavar="OUTPUT",
        help="the file to write; its extension picks the format (.gpx, .gpx.gz, ...)",
    )
    convert.add_argument(
        "--force", action="store_true", help="rewrite INPUT in place when OUTPUT is the same file"
    )
    convert.set_defaults(run=_convert)

    info = commands.add_parser(
        "info",
        help="summarise the activities in one or more files",
        description=_INFO_DESCRIPTION,
        epilog=_INFO_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    info.add_argument(
        "files", metavar="FILE", nargs="+", help="FIT, GPX or TCX files (gzip-compressed or not)"
    )
    info.add_argument(
        "--json", action="store_true", help="print machine-readable JSON instead of text"
    )
    info.set_defaults(run=_info)

    export = commands.add_parser(
        "json",
        help="print a file's complete contents as JSON",
        description=_JSON_DESCRIPTION,
        epilog=_JSON_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    export.add_argument("file", metavar="FILE", help="a FIT, GPX or TCX file")
    export.set_defaults(run=_json)

    repair = commands.add_parser(
        "repair",
        help="keep what a damaged file still holds, written to another file",
        description=_REPAIR_DESCRIPTION,
        epilog=_REPAIR_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    repair.add_argument("input", metavar="INPUT", help="the damaged file (FIT, GPX or TCX)")
    repair.add_argument(
        "output",
        metavar="OUTPUT",
        help="the file to write what was kept to; its extension picks the format",
    )
    repair.set_defaults(run=_repair)
    return parser


def _report(path: str, error: BaseException, hint: str = "") -> None:
    message = str(error) or type(error).__name__
    print(f"{PROG}: error: {path}: {message}{hint}", file=sys.stderr)


_REPAIR_HINT = "; try `tramlix repair` to keep what it holds"


def _repair_hint(path: str, error: BaseException) -> str:
    """The hint for a file that does not load but would give something to `tramlix repair`."""
    if not isinstance(error, TramlixError):
        return ""
    try:
        file, _ = recover(path)
    except OSError:
        return ""
    return _REPAIR_HINT if file.activities else ""


def _convert(args: argparse.Namespace) -> int:
    return _convert_files(args.input, args.output, force=args.force)


# How the warning of `convert` names each reason ActivityFile.omissions() counts under.
_OMISSIONS = {
    "points_without_position": ("point without a position", "points without a position"),
    "points_without_time": ("point without a time", "points without a time"),
    "values_not_finite": (
        "value that is not a finite number",
        "values that are not finite numbers",
    ),
    "values_out_of_range": ("value out of range", "values out of range"),
    "lone_coordinates": ("coordinate without its partner", "coordinates without their partner"),
    "names_unknown": ("name FIT has no code for", "names FIT has no code for"),
    "values_of_untimed_activities": (
        "value of an activity without times",
        "values of activities without times",
    ),
}


def _convert_files(source: str, target: str, force: bool = False) -> int:
    if not force and _same_file(source, target):
        print(
            f"{PROG}: error: {target}: is the input file {source}; it would be replaced by a "
            "lossy rewrite (use --force to do that)",
            file=sys.stderr,
        )
        return 2
    try:
        file = load(source)
    except Exception as error:  # noqa: BLE001 - every failure becomes one line
        _report(source, error)
        return 1
    try:
        omitted = file.save_with_omissions(target)
    except Exception as error:  # noqa: BLE001
        _report(target, error)
        return 1
    if omitted:
        print(f"{PROG}: warning: {target}: {_omissions_text(omitted)}", file=sys.stderr)
    return 0


def _omissions_text(omitted: dict[str, int]) -> str:
    """'left out 3 points without a position, 1 value out of range; cut 1 text short'."""
    left_out = [f"{n} {_OMISSIONS.get(k, (k, k))[n != 1]}" for k, n in omitted.items()
                if k != "texts_shortened"]  # fmt: skip
    parts = [f"left out {', '.join(left_out)}"] if left_out else []
    if shortened := omitted.get("texts_shortened"):
        parts.append(f"cut {shortened} text{'s' * (shortened != 1)} short")
    return "; ".join(parts)


def _same_file(first: str, second: str) -> bool:
    """Whether two paths reach one file, whatever their spelling, links included."""
    try:
        return os.path.samestat(os.stat(first), os.stat(second))
    except (OSError, ValueError):  # a missing output, an unusable name: not the same file
        return False


def _repair(args: argparse.Namespace) -> int:
    source, target = args.input, args.output
    # The damaged file may be the only copy of the recording: it is never written over.
    if _same_file(source, target):
        print(f"{PROG}: error: {target}: is the input; repair writes what it keeps to another "
              "file", file=sys.stderr)  # fmt: skip
        return 2
    try:
        file, problems = recover(source)
    except Exception as error:  # noqa: BLE001
        _report(source, error)
        return 1
    level = "warning" if file.activities else "error"
    for problem in problems:
        print(f"{PROG}: {level}: {source}: {problem}", file=sys.stderr)
    if not file.activities:
        return 1
    try:
        omitted = file.save_with_omissions(target)
    except Exception as error:  # noqa: BLE001
        _report(target, error)
        return 1
    if omitted:
        print(f"{PROG}: warning: {target}: {_omissions_text(omitted)}", file=sys.stderr)
    return 0


def _json(args: argparse.Namespace) -> int:
    try:
        text = load(args.file).to_json()
    except Exception as error:  # noqa: BLE001
        _report(args.file, error)
        return 1
    sys.stdout.write(text + "\n")
    return 0


def _info(args: argparse.Namespace) -> int:
    failed = printed = False
    reports: list[dict[str, Any]] = []
    for path in args.files:
        try:
            file = load(path)
            device = _device(file.device_info)
            activities = [_figures(activity) for activity in file.activities]
            error = None
        except Exception as caught:  # noqa: BLE001
            _report(path, caught, _repair_hint(path, caught))
            device, activities, error, failed = None, [], str(caught), True
        if args.json:
            reports.append({"path": path, "error": error, "device": device, "activities": activities})
        elif error is None:
            if printed:
                sys.stdout.write("\n")
            _print_info(sys.stdout, path, device, activities)
            printed = True
    if args.json:
        import json

        json.dump(reports, sys.stdout, indent=2, ensure_ascii=False, allow_nan=False)
        sys.stdout.write("\n")
    return 1 if failed else 0


def _finite(value: float | None) -> float | None:
    """JSON has no NaN or infinity: such values read as absent."""
    return value if value is not None and math.isfinite(value) else None


def _device(info: DeviceInfo | None) -> dict[str, Any] | None:
    """The recording device, as FIT files describe it (GPX and TCX carry none)."""
    if info is None:
        return None
    fields = ("manufacturer", "manufacturer_id", "product", "product_id", "product_name",
              "serial_number", "software_version", "device_index", "source_type")  # fmt: skip
    return {name: getattr(info, name) for name in fields}


def _device_text(device: dict[str, Any]) -> str:
    maker = device["manufacturer"] or (
        None if device["manufacturer_id"] is None else f"manufacturer {device['manufacturer_id']}"
    )
    product = device["product_name"] or device["product"] or (
        None if device["product_id"] is None else f"product {device['product_id']}"
    )
    parts = [" ".join(part for part in (maker, product) if part) or _ABSENT]
    if device["serial_number"] is not None:
        parts.append(f"serial {device['serial_number']}")
    if device["software_version"] is not None:
        parts.append(f"software {device['software_version']:g}")
    return ", ".join(parts)


def _figures(activity: Activity) -> dict[str, Any]:
    moving = activity.moving_data()
    gain = activity.elevation_gain
    bounds = activity.bounds
    return {
        "sport": activity.sport,
        "name": activity.name,
        "start_time": activity.start_time,
        "end_time": activity.end_time,
        "duration_seconds": _finite(activity.duration_seconds),
        "distance_meters": _finite(activity.distance_meters),
        "moving_time_seconds": _finite(moving.moving_time_seconds),
        "stopped_time_seconds": _finite(moving.stopped_time_seconds),
        "elevation_gain_meters": _finite(gain.uphill_meters),
        "elevation_loss_meters": _finite(gain.downhill_meters),
        "average_heart_rate_bpm": _finite(activity.average_heart_rate_bpm),
        "max_speed_mps": _finite(moving.max_speed_mps),
        "point_count": activity.point_count,
        "bounds": (
            None
            if bounds is None
            else {
                "min_latitude": _finite(bounds.min_latitude),
                "max_latitude": _finite(bounds.max_latitude),
                "min_longitude": _finite(bounds.min_longitude),
                "max_longitude": _finite(bounds.max_longitude),
            }
        ),
    }


def _print_info(
    out: TextIO, path: str, device: dict[str, Any] | None, activities: list[dict[str, Any]]
) -> None:
    out.write(f"{path}\n")
    if device is not None:
        out.write(f"  device {_device_text(device)}\n")
    if not activities:
        out.write("  no activities\n")
    for number, figures in enumerate(activities, 1):
        out.write(f"  activity {number} of {len(activities)}\n")
        rows = _rows(figures)
        width = max(len(label) for label, _ in rows)
        for label, value in rows:
            out.write(f"    {label.ljust(width)}  {value}\n")


def _rows(figures: dict[str, Any]) -> list[tuple[str, str]]:
    bounds = figures["bounds"]
    return [
        ("sport", _text(figures["sport"])),
        ("name", _text(figures["name"])),
        ("start", _time(figures["start_time"])),
        ("end", _time(figures["end_time"])),
        ("duration", _clock(figures["duration_seconds"])),
        ("distance", _unit(figures["distance_meters"], 0.001, 2, "km")),
        ("moving time", _clock(figures["moving_time_seconds"])),
        ("stopped time", _clock(figures["stopped_time_seconds"])),
        ("elevation gain", _unit(figures["elevation_gain_meters"], 1, 0, "m")),
        ("elevation loss", _unit(figures["elevation_loss_meters"], 1, 0, "m")),
        ("avg heart rate", _unit(figures["average_heart_rate_bpm"], 1, 0, "bpm")),
        ("max speed", _unit(figures["max_speed_mps"], 3.6, 1, "km/h")),
        ("points", str(figures["point_count"])),
        ("bounds", _ABSENT if bounds is None else _box(bounds)),
    ]


def _text(value: str | None) -> str:
    return _ABSENT if value is None else value


def _time(value: str | None) -> str:
    if value is None:
        return _ABSENT
    # The library's times are RFC 3339 in UTC ("2024-05-01T08:00:00+00:00").
    return value.replace("T", " ", 1).removesuffix("+00:00") + " UTC"


def _clock(seconds: float | None) -> str:
    if seconds is None:
        return _ABSENT
    sign = "-" if seconds < 0 else ""
    minutes, second = divmod(round(abs(seconds)), 60)
    hours, minute = divmod(minutes, 60)
    return f"{sign}{hours}:{minute:02d}:{second:02d}"


def _unit(value: float | None, scale: float, digits: int, unit: str) -> str:
    if value is None:
        return _ABSENT
    # Adding 0.0 turns a -0.0 (no distance at all) into 0.0.
    return f"{value * scale + 0.0:.{digits}f} {unit}"


def _box(bounds: dict[str, float | None]) -> str:
    def degrees(value: float | None) -> str:
        return _ABSENT if value is None else f"{value:.6f}"

    return (
        f"lat {degrees(bounds['min_latitude'])} to {degrees(bounds['max_latitude'])}, "
        f"lon {degrees(bounds['min_longitude'])} to {degrees(bounds['max_longitude'])}"
    )


def _silence_stdout() -> None:
    # Python flushes standard output once more at exit, which would fail on the closed pipe.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass


if __name__ == "__main__":
    raise SystemExit(main())
