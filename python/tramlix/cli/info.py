"""tramlix info: the figures of each activity in one or more files, as text or JSON."""

from __future__ import annotations

import math
import sys

from .. import Activity, DeviceInfo, TramlixError, load, recover
from ._common import ANY_FORMAT, report

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, TextIO

NAME = "info"
HELP = "summarise the activities in one or more files"
DESCRIPTION = f"""\
Summarise each activity in one or more {ANY_FORMAT} files (gzip-compressed
or not): sport, name, start and end time, duration, distance, moving and
stopped time (at most 1 km/h counts as stopped), elevation gain and loss,
the same filtered (climbs and descents of at least 5 m, from the track points:
smaller ups and downs are taken for noise), average heart rate, maximum speed,
number of points and the bounding box.

Figures recorded in the file's own summary win over those computed from the
track points (but for the filtered gain and loss). Values the file does not
provide are shown as "-". A damaged file that `tramlix repair` could still
keep something of says so on its error line."""

EPILOG = """\
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

_ABSENT = "-"


def add_arguments(parser: argparse.ArgumentParser) -> None:
    what = f"{ANY_FORMAT} files (gzip-compressed or not)"
    parser.add_argument("files", metavar="FILE", nargs="+", help=what)
    parser.add_argument(
        "--json", action="store_true", help="print machine-readable JSON instead of text"
    )


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


def run(args: argparse.Namespace) -> int:
    failed = printed = False
    reports: list[dict[str, Any]] = []
    for path in args.files:
        try:
            file = load(path)
            device = _device(file.device_info)
            activities = [_figures(activity) for activity in file.activities]
            error = None
        except Exception as caught:  # noqa: BLE001
            report(path, caught, _repair_hint(path, caught))
            device, activities, error, failed = None, [], str(caught), True
        if args.json:
            reports.append(
                {"path": path, "error": error, "device": device, "activities": activities}
            )
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
    product = (
        device["product_name"]
        or device["product"]
        or (None if device["product_id"] is None else f"product {device['product_id']}")
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
    filtered = activity.filtered_elevation_gain(5.0)
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
        "filtered_elevation_gain_meters": _finite(filtered.uphill_meters),
        "filtered_elevation_loss_meters": _finite(filtered.downhill_meters),
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
        ("filtered gain", _unit(figures["filtered_elevation_gain_meters"], 1, 0, "m")),
        ("filtered loss", _unit(figures["filtered_elevation_loss_meters"], 1, 0, "m")),
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
