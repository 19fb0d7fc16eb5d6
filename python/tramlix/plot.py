"""A picture of an activity, drawn with matplotlib (pip install 'tramlix[plot]').

`plot_activity(activity)` (also `Activity.plot()` and `tramlix plot FILE -o OUT.png`) draws one
figure: the track's outline, projected equirectangularly at its middle latitude, with start and
end marked and coloured by speed or heart rate; below it elevation, heart rate and speed
against distance, each panel only when the activity has that channel; a title with the name,
sport, date, distance and duration. Nothing is fetched: there are no map tiles.

The figure is a plain `matplotlib.figure.Figure` drawn without pyplot, so it uses no GUI
backend and is not kept in pyplot's list of open figures: it goes away with its last reference.
"""

from __future__ import annotations

import math
import os
from typing import TYPE_CHECKING, Any, Literal

from ._tramlix import Activity, _track_profile

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = ["plot_activity"]

_EARTH_RADIUS_KM = 6371.0088
_COLORING = {  # channel: (series, scale, label, colour map)
    "speed": ("speed_mps", 3.6, "speed (km/h)", "viridis"),
    "heart_rate": ("heart_rate_bpm", 1.0, "heart rate (bpm)", "inferno"),
}


def plot_activity(
    activity: Activity,
    path: str | os.PathLike[str] | None = None,
    *,
    color_by: Literal["speed", "heart_rate"] | None = None,
) -> Figure | None:
    """Draws `activity`. Returns the matplotlib Figure when `path` is None; otherwise saves the
    figure there, in the format of the extension (.png, .svg, .pdf, ...), and returns None.

    `color_by` colours the track by "speed" or "heart_rate"; by default by speed when the
    activity has speeds (recorded, or from positions and times), else by heart rate, else in one
    colour. Raises ImportError naming the extra when matplotlib is not installed."""
    if not isinstance(activity, Activity):
        raise TypeError(f"plot_activity() takes an Activity, not {type(activity).__name__}")
    if color_by is not None and color_by not in _COLORING:
        raise ValueError(f"color_by must be 'speed', 'heart_rate' or None, not {color_by!r}")
    np, figure_class, line_collection = _matplotlib()
    series = {name: np.asarray(values, dtype=float) for name, values in
              _track_profile(activity).items()}  # fmt: skip
    figure = _draw(np, figure_class, line_collection, activity, series, color_by)
    if path is None:
        return figure
    figure.savefig(os.fspath(path))
    return None


def _matplotlib() -> tuple[Any, Any, Any]:
    try:
        import numpy as np
        from matplotlib.collections import LineCollection
        from matplotlib.figure import Figure
    except ImportError as missing:
        raise ImportError(
            "Activity.plot() needs matplotlib: pip install 'tramlix[plot]'"
        ) from missing
    return np, Figure, LineCollection


def _has(np: Any, values: Any) -> bool:
    return bool(np.isfinite(values).any())


def _draw(
    np: Any,
    figure_class: Any,
    line_collection: Any,
    activity: Activity,
    series: dict[str, Any],
    color_by: Literal["speed", "heart_rate"] | None,
) -> Figure:
    positioned = np.isfinite(series["latitude"]) & np.isfinite(series["longitude"])
    panels = [
        (name, label, colour)
        for name, label, colour in (
            ("elevation_m", "elevation (m)", "#7a6a53"),
            ("heart_rate_bpm", "heart rate (bpm)", "#c0392b"),
            ("speed_mps", "speed (km/h)", "#1f6fb2"),
        )
        if _has(np, series[name])
    ]
    rows = ([3.2] if positioned.any() else []) + [1.0] * len(panels)
    figure = figure_class(figsize=(8.0, 2.6 + 1.9 * len(rows)), layout="constrained")
    figure.suptitle(_title(activity), fontsize=11)
    if not rows:
        figure.text(0.5, 0.5, "nothing to draw: no positions and no channels", ha="center")
        return figure
    grid = figure.add_gridspec(len(rows), 1, height_ratios=rows)
    row = 0
    if positioned.any():
        _draw_track(np, figure, figure.add_subplot(grid[0]), line_collection, series, positioned,
                    color_by)  # fmt: skip
        row = 1

    distance = series["distance_m"] / 1000.0
    along_distance = _has(np, distance)
    x = distance if along_distance else np.arange(len(distance), dtype=float)
    first_axes = None
    for name, label, colour in panels:
        axes = figure.add_subplot(grid[row], sharex=first_axes)
        first_axes = first_axes or axes
        values = series[name] * (3.6 if name == "speed_mps" else 1.0)
        shown = np.isfinite(values) & np.isfinite(x)
        # Lines break between segments and where a value is missing.
        values = np.where(shown, values, np.nan)
        breaks = np.flatnonzero(np.diff(series["segment"]) != 0) + 1
        xs, ys = np.insert(x, breaks, np.nan), np.insert(values, breaks, np.nan)
        axes.plot(xs, ys, color=colour, linewidth=1.0)
        if name == "elevation_m" and shown.any():
            floor = np.nanmin(values)
            axes.fill_between(xs, ys, floor, where=np.isfinite(ys), color=colour, alpha=0.25,
                              linewidth=0)  # fmt: skip
        axes.set_ylabel(label)
        axes.grid(True, linewidth=0.4, alpha=0.5)
        axes.label_outer()
        row += 1
    if first_axes is not None:
        figure.axes[-1].set_xlabel("distance (km)" if along_distance else "point")
    return figure


def _draw_track(
    np: Any,
    figure: Any,
    axes: Any,
    line_collection: Any,
    series: dict[str, Any],
    positioned: Any,
    color_by: Literal["speed", "heart_rate"] | None,
) -> None:
    latitude, longitude = series["latitude"], series["longitude"]
    middle = (np.nanmin(latitude[positioned]) + np.nanmax(latitude[positioned])) / 2.0
    centre_longitude = (np.nanmin(longitude[positioned]) + np.nanmax(longitude[positioned])) / 2.0
    km_per_degree = _EARTH_RADIUS_KM * math.pi / 180.0
    x = (longitude - centre_longitude) * km_per_degree * math.cos(math.radians(middle))
    y = (latitude - middle) * km_per_degree

    # One line piece from each positioned point to the next of the same segment.
    same_segment = np.diff(series["segment"]) == 0
    joined = positioned[:-1] & positioned[1:] & same_segment
    pieces = np.stack([np.column_stack([x[:-1], y[:-1]]), np.column_stack([x[1:], y[1:]])],
                      axis=1)[joined]  # fmt: skip

    channel = color_by
    if channel is None:
        channel = next((c for c in ("speed", "heart_rate") if _has(np, series[_COLORING[c][0]])),
                       None)  # fmt: skip
    values = None
    if channel is not None:
        name, scale, label, colour_map = _COLORING[channel]
        values = (series[name] * scale)[1:][joined]  # the value at each piece's end
    if values is not None and np.isfinite(values).any():
        # The colours spread over the values met while going: standing still would squeeze
        # them into a corner of the scale.
        going = values[np.isfinite(values) & (values > 0)]
        low, high = np.percentile(going if going.size else values[np.isfinite(values)], [2, 98])
        lines = line_collection(pieces, cmap=colour_map, linewidths=2.2, capstyle="round")
        lines.set_array(np.ma.masked_invalid(values))
        lines.set_clim(low, high if high > low else low + 1.0)
        axes.add_collection(lines)
        figure.colorbar(lines, ax=axes, label=label, shrink=0.8, pad=0.02)
    else:
        axes.add_collection(line_collection(pieces, colors="#1f6fb2", linewidths=2.2))

    where = np.flatnonzero(positioned)
    start, end = where[0], where[-1]
    axes.plot(x[start], y[start], "o", color="#2e9e44", markersize=9, label="start", zorder=3)
    axes.plot(x[end], y[end], "s", color="#c0392b", markersize=8, label="end", zorder=3)
    axes.legend(loc="best", fontsize=8, framealpha=0.8)
    axes.set_aspect("equal", adjustable="datalim")
    axes.autoscale_view()
    axes.set_xlabel("km east")
    axes.set_ylabel("km north")
    axes.grid(True, linewidth=0.4, alpha=0.5)


def _title(activity: Activity) -> str:
    parts = [activity.name or "Activity"]
    if activity.sport:
        parts.append(activity.sport)
    if activity.start_time:
        # RFC 3339 in UTC: "2024-05-01T06:30:00+00:00" -> "2024-05-01 06:30 UTC".
        parts.append(f"{activity.start_time[:10]} {activity.start_time[11:16]} UTC")
    distance = activity.distance_meters
    if math.isfinite(distance) and distance > 0:
        parts.append(f"{distance / 1000:.2f} km")
    duration = activity.duration_seconds
    if duration is not None and math.isfinite(duration) and duration >= 0:
        minutes, seconds = divmod(round(duration), 60)
        hours, minutes = divmod(minutes, 60)
        parts.append(f"{hours}:{minutes:02d}:{seconds:02d}")
    return "  ·  ".join(parts)
