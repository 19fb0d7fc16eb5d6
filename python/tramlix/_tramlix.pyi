import os
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, final

__version__: str
__all__ = [
    "__version__",
    "TramlixError",
    "TrackPoint",
    "Segment",
    "ActivitySummary",
    "DeviceInfo",
    "ElevationGain",
    "MovingData",
    "Bounds",
    "Activity",
    "ActivityFile",
    "load",
    "loads",
    "convert",
]
# The formats' names in lower case ("gpx", ...), as file extensions spell them.
_formats: tuple[str, ...]

class _IsoFormat(Protocol):
    def isoformat(self) -> str: ...

# A time in: RFC 3339 text, or anything whose isoformat() gives text (datetime).
_Time = str | _IsoFormat
_Float = SupportsFloat | SupportsIndex
_Path = str | os.PathLike[str]
# The recorded channels the analyses read.
_Channel = Literal["heart_rate", "cadence", "power", "speed", "temperature", "elevation"]

class TramlixError(ValueError): ...

@final
class TrackPoint:
    def __new__(
        cls,
        *,
        time: _Time | None = None,
        latitude: _Float | None = None,
        longitude: _Float | None = None,
        elevation_m: _Float | None = None,
        distance_m: _Float | None = None,
        heart_rate_bpm: SupportsIndex | None = None,
        cadence_rpm: SupportsIndex | None = None,
        speed_mps: _Float | None = None,
        power_watts: SupportsIndex | None = None,
        temperature_c: SupportsIndex | None = None,
    ) -> TrackPoint: ...
    @property
    def time(self) -> str | None: ...
    @property
    def latitude(self) -> float | None: ...
    @property
    def longitude(self) -> float | None: ...
    @property
    def elevation_m(self) -> float | None: ...
    @property
    def distance_m(self) -> float | None: ...
    @property
    def heart_rate_bpm(self) -> int | None: ...
    @property
    def cadence_rpm(self) -> int | None: ...
    @property
    def speed_mps(self) -> float | None: ...
    @property
    def power_watts(self) -> int | None: ...
    @property
    def temperature_c(self) -> int | None: ...

@final
class Segment:
    def __new__(cls, points: Sequence[TrackPoint] = ...) -> Segment: ...
    @property
    def points(self) -> list[TrackPoint]: ...
    def __len__(self) -> int: ...

@final
class ActivitySummary:
    def __new__(
        cls,
        *,
        total_elapsed_seconds: _Float | None = None,
        total_timer_seconds: _Float | None = None,
        total_moving_seconds: _Float | None = None,
        total_distance_meters: _Float | None = None,
        average_speed_mps: _Float | None = None,
        average_heart_rate_bpm: _Float | None = None,
        total_ascent_meters: _Float | None = None,
        total_descent_meters: _Float | None = None,
    ) -> ActivitySummary: ...
    @property
    def total_elapsed_seconds(self) -> float | None: ...
    @property
    def total_timer_seconds(self) -> float | None: ...
    @property
    def total_moving_seconds(self) -> float | None: ...
    @property
    def total_distance_meters(self) -> float | None: ...
    @property
    def average_speed_mps(self) -> float | None: ...
    @property
    def average_heart_rate_bpm(self) -> float | None: ...
    @property
    def total_ascent_meters(self) -> float | None: ...
    @property
    def total_descent_meters(self) -> float | None: ...

@final
class DeviceInfo:
    def __new__(
        cls,
        *,
        manufacturer: str | None = None,
        manufacturer_id: SupportsIndex | None = None,
        product: str | None = None,
        product_id: SupportsIndex | None = None,
        product_name: str | None = None,
        serial_number: SupportsIndex | None = None,
        software_version: _Float | None = None,
        device_index: SupportsIndex | None = None,
        source_type: str | None = None,
    ) -> DeviceInfo: ...
    @property
    def manufacturer(self) -> str | None: ...
    @property
    def manufacturer_id(self) -> int | None: ...
    @property
    def product(self) -> str | None: ...
    @property
    def product_id(self) -> int | None: ...
    @property
    def product_name(self) -> str | None: ...
    @property
    def serial_number(self) -> int | None: ...
    @property
    def software_version(self) -> float | None: ...
    @property
    def device_index(self) -> int | None: ...
    @property
    def source_type(self) -> str | None: ...

@final
class ElevationGain:
    @property
    def uphill_meters(self) -> float: ...
    @property
    def downhill_meters(self) -> float: ...

@final
class MovingData:
    @property
    def moving_time_seconds(self) -> float: ...
    @property
    def stopped_time_seconds(self) -> float: ...
    @property
    def moving_distance_meters(self) -> float: ...
    @property
    def stopped_distance_meters(self) -> float: ...
    @property
    def max_speed_mps(self) -> float: ...

@final
class Bounds:
    @property
    def min_latitude(self) -> float: ...
    @property
    def max_latitude(self) -> float: ...
    @property
    def min_longitude(self) -> float: ...
    @property
    def max_longitude(self) -> float: ...

@final
class Activity:
    def __new__(
        cls,
        *,
        name: str | None = None,
        sport: str | None = None,
        sub_sport: str | None = None,
        start_time: _Time | None = None,
        summary: ActivitySummary | None = None,
        segments: Sequence[Segment] = ...,
    ) -> Activity: ...
    @property
    def name(self) -> str | None: ...
    @property
    def sport(self) -> str | None: ...
    @property
    def sub_sport(self) -> str | None: ...
    @property
    def start_time(self) -> str | None: ...
    @property
    def end_time(self) -> str | None: ...
    @property
    def summary(self) -> ActivitySummary: ...
    @property
    def segments(self) -> list[Segment]: ...
    @property
    def point_count(self) -> int: ...
    @property
    def distance_meters(self) -> float: ...
    @property
    def duration_seconds(self) -> float | None: ...
    @property
    def average_heart_rate_bpm(self) -> float | None: ...
    @property
    def elevation_gain(self) -> ElevationGain: ...
    @property
    def bounds(self) -> Bounds | None: ...
    def moving_data(self, stopped_speed_kph: _Float = 1.0) -> MovingData: ...
    def simplified(self, max_distance_m: _Float = 10.0) -> Activity: ...
    def to_arrow(self) -> Table:
        """The point table of this activity alone (its activity column is 0)."""
    def splits(self, every_m: _Float = 1000.0) -> Table:
        """One row per completed split of `every_m` metres (see splits())."""
    def stats(self, gap_limit_seconds: _Float = 10.0) -> ActivityStats:
        """Count, minimum, average and maximum of each recorded channel: heart_rate (bpm),
        cadence (rpm), power (W), speed (m/s), temperature (degrees Celsius), elevation (m);
        cadence and power also average without zeros.

        Averages are time-weighted where points are timed: a point's value weighs the seconds
        to the next point of its segment, at most gap_limit_seconds, and the last point of a
        segment weighs nothing. A channel without time to weigh by gets plain means
        (time_weighted is False). Absent, NaN and infinite values take no part; recorded
        totals are not used."""
    def time_in_zones(
        self, channel: _Channel, bounds: Sequence[_Float], gap_limit_seconds: _Float = 10.0
    ) -> list[float]:
        """Seconds in each zone: len(bounds) + 1 entries for ascending bounds. With bounds
        [120, 140, 160, 175], zone 0 is below 120 and zone 4 from 175 up; a value on a
        boundary belongs to the zone above. Values count for their time weight, as in
        stats()."""
    def mean_max(
        self,
        channel: _Channel,
        durations: Sequence[SupportsIndex],
        gap_limit_seconds: _Float = 10.0,
    ) -> list[float | None]:
        """The best average of the channel over each duration in whole seconds (None where no
        stretch lasts that long), on the track resampled at 1 Hz: each second takes the value of
        the last point at or before it. A stretch ends where the next value comes more than
        gap_limit_seconds later, where time goes back and at a segment's end; no window spans
        two stretches. The plain mean of the window's seconds."""
    def best_efforts(self, distances_m: Sequence[_Float]) -> list[float | None]:
        """The fastest time in seconds over each distance in metres (None where the activity
        is shorter), from recorded distances when any point has one, else from positions;
        start and end fall between points at an even pace. Wall-clock time: a pause inside an
        effort counts."""
    def filtered_elevation_gain(self, threshold_m: _Float = 5.0) -> ElevationGain:
        """Climb and descent with changes below threshold_m taken for noise (hysteresis from
        the last turning point): a climb counts once the elevation has risen threshold_m above
        the lowest point since the last turning point, and then counts whole, from that low to
        the highest point before a descent of threshold_m; descents alike. The last leg counts
        when it reaches the threshold. Each segment on its own, always from the points;
        threshold 0 counts every change."""
    @property
    def __geo_interface__(self) -> dict[str, Any]:
        """A GeoJSON Feature: a MultiLineString with one line per segment of at least two
        positions ([longitude, latitude, elevation], the elevation only when every position has
        one), or geometry None; properties name, sport, start_time, end_time (ending in Z) and
        distance_meters."""
    def to_geojson(self) -> str:
        """The Feature of __geo_interface__ as GeoJSON text."""
    def plot(
        self, path: _Path | None = None, *, color_by: Literal["speed", "heart_rate"] | None = None
    ) -> Any:
        """Draws the track and the elevation, heart rate and speed profiles with matplotlib
        (pip install 'tramlix[plot]'): returns the matplotlib Figure when path is None, else
        saves it (PNG, SVG or PDF by the extension) and returns None."""
    def __len__(self) -> int: ...

@final
class ActivityFile:
    def __new__(
        cls,
        activities: Sequence[Activity] = ...,
        *,
        creator: str | None = None,
        device_info: DeviceInfo | None = None,
    ) -> ActivityFile: ...
    @property
    def activities(self) -> list[Activity]: ...
    @property
    def creator(self) -> str | None: ...
    @property
    def device_info(self) -> DeviceInfo | None: ...
    @property
    def point_count(self) -> int: ...
    def to_bytes(self, format: str) -> bytes: ...
    def to_gpx(self) -> bytes: ...
    def to_tcx(self) -> bytes: ...
    def to_fit(self) -> bytes: ...
    def with_device_info(self, device_info: DeviceInfo) -> ActivityFile: ...
    def save(self, path: _Path) -> None:
        """Writes the format named by the extension; gzip-compressed for "run.gpx.gz".

        An existing file is replaced whole (a new file renamed over it): on failure it stays
        as it was. It keeps its permissions; a symbolic link is written through."""
    # What writing this file as `format` ("gpx", "tcx", "fit") leaves out because the format
    # cannot carry it, counted by the writer itself: {reason: count} for each reason with a
    # count, empty when nothing is lost. The reasons:
    #   points_without_position       GPX: points without both coordinates in range
    #   points_without_time           TCX: points without a time from year 1 to 9999
    #   values_not_finite             NaN or infinite values
    #   values_out_of_range           values outside the field's range (TCX heart rate 1-255,
    #                                 cadence up to 254; FIT's field ranges; leap-second times)
    #   lone_coordinates              TCX: a latitude without longitude, or the reverse
    #   names_unknown                 FIT: sports, sub-sports, manufacturers, products FIT has
    #                                 no code for
    #   values_of_untimed_activities  FIT: name, sport and totals of an activity without times
    #   texts_shortened               FIT: texts cut to the 254 bytes a string field holds
    def omissions(self, format: str) -> dict[str, int]: ...
    # save(path), returning what the format of `path` left out, as omissions() counts it; the
    # document is built once.
    def save_with_omissions(self, path: _Path) -> dict[str, int]: ...
    def to_json(self) -> str: ...
    def simplified(self, max_distance_m: _Float = 10.0) -> ActivityFile: ...
    @property
    def __geo_interface__(self) -> dict[str, Any]:
        """A GeoJSON FeatureCollection: one Feature per activity, as Activity.__geo_interface__
        gives it."""
    def to_geojson(self) -> str:
        """The FeatureCollection of __geo_interface__ as GeoJSON text."""
    def to_arrow(self) -> Table:
        """One row per point: activity, segment, time, latitude, longitude, elevation_m,
        distance_m, heart_rate_bpm, cadence_rpm, power_watts, speed_mps, temperature_c; a value
        the model lacks is null."""
    def __len__(self) -> int: ...

def load(path: _Path) -> ActivityFile:
    """Reads a FIT, GPX or TCX file, gzip-compressed or not, recognised by its content."""

def loads(data: bytes, format: str | None = None) -> ActivityFile:
    """Reads FIT, GPX or TCX bytes, gzip-compressed or not; `format` skips the recognition."""

def convert(input: _Path, output: _Path) -> None:
    """load(input), then save to output: "run.gpx" writes GPX, "run.gpx.gz" compressed GPX.

    The input is read whole first, so output may be input itself (rewritten in its new form)."""

# Not in __all__ (the module's list is fixed); the tramlix package exports it.
def recover(source: _Path | bytes) -> tuple[ActivityFile, list[str]]:
    """Reads what a damaged file (a path) or damaged bytes still hold: the activities up to the
    damage, and one text per fault saying what was wrong and what was kept. An intact file gives
    what load() gives and no texts; nothing readable gives an empty ActivityFile. Raises OSError
    when the path cannot be read, never TramlixError."""

# Not in __all__ (the module's list is fixed); the tramlix package exports it.
def laps(source: _Path | bytes) -> Table:
    """One row per lap a FIT or TCX file records (GPX: none): activity, lap, start_time,
    end_time, total_elapsed_seconds, total_timer_seconds, distance_meters,
    average_heart_rate_bpm, max_heart_rate_bpm, average_speed_mps, max_speed_mps,
    average_cadence_rpm, average_power_watts, calories, total_ascent_meters,
    total_descent_meters, trigger, intensity; what the file leaves out is null."""

# Not in __all__ (the module's list is fixed); the tramlix package exports it.
def splits(activity: Activity, every_m: _Float = 1000.0) -> Table:
    """One row per completed split of `every_m` metres along the activity's points: split,
    start_distance_m, end_distance_m, start_time, end_time, elapsed_seconds,
    pace_seconds_per_km, average_heart_rate_bpm, elevation_change_m. Times and elevations at
    the ends are interpolated by distance. ValueError unless every_m is positive and finite,
    or when it would make more than 1,000,000 splits."""

# Used by tramlix.fit, which documents them.
def _fit_messages(
    source: _Path | bytes, *, names: str | Iterable[str] | None = None
) -> dict[str, Table]: ...
def _fit_iter_messages(source: _Path | bytes) -> Iterator[tuple[str, dict[str, Any]]]: ...

# Not in __all__ (the module's list is fixed); the tramlix package exports it.
@final
class Table:
    """A columnar table in the Arrow format, read without a copy by pyarrow.table(t),
    polars.DataFrame(t), duckdb and anything else that takes the Arrow PyCapsule interface.

    Every __arrow_c_stream__ call exports a fresh stream of the same data, so a table can be
    read any number of times. The conversions import their library on first use and raise
    ImportError naming the extra to install when it is missing."""

    @property
    def num_rows(self) -> int: ...
    @property
    def num_columns(self) -> int: ...
    @property
    def column_names(self) -> list[str]: ...
    # A PyCapsule "arrow_array_stream"; the table's own schema whatever is requested.
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    # A PyCapsule "arrow_schema".
    def __arrow_c_schema__(self) -> object: ...
    def to_pyarrow(self) -> Any:
        """A pyarrow.Table (pip install 'tramlix[pandas]')."""
    def to_pandas(self, **kwargs: Any) -> Any:
        """A pandas.DataFrame (pip install 'tramlix[pandas]'); integer columns are pandas'
        nullable integer types. Keyword arguments go to pyarrow.Table.to_pandas
        (types_mapper=None for pyarrow's own conversion)."""
    def to_polars(self) -> Any:
        """A polars.DataFrame (pip install 'tramlix[polars]')."""
    def __len__(self) -> int: ...

# Not in __all__ (the module's list is fixed); the tramlix package exports them.
@final
class ChannelStats:
    """One channel's figures (Activity.stats()), in the channel's unit."""

    @property
    def count(self) -> int:
        """Points with a value."""
    @property
    def min(self) -> float | None: ...
    @property
    def average(self) -> float | None:
        """Time-weighted when time_weighted is True, else the plain mean."""
    @property
    def max(self) -> float | None: ...
    @property
    def average_without_zeros(self) -> float | None:
        """Cadence and power: the average of the values other than 0 (None for the other
        channels, and when no time was spent at a value other than 0)."""
    @property
    def time_weighted(self) -> bool: ...

@final
class ActivityStats:
    """Activity.stats(): one ChannelStats per channel."""

    @property
    def heart_rate(self) -> ChannelStats:
        """Beats per minute."""
    @property
    def cadence(self) -> ChannelStats:
        """Revolutions (or steps) per minute."""
    @property
    def power(self) -> ChannelStats:
        """Watts."""
    @property
    def speed(self) -> ChannelStats:
        """Metres per second."""
    @property
    def temperature(self) -> ChannelStats:
        """Degrees Celsius."""
    @property
    def elevation(self) -> ChannelStats:
        """Metres."""

# The series tramlix.plot draws: {name: one value per point}, NaN where a point has none.
def _track_profile(activity: Activity) -> dict[str, list[float]]: ...

# Not in __all__: what the package's load_many, summaries and points stand on. A source is a
# path (a file, a folder, a zip archive or a member of one) or bytes under a name.
_Source = _Path | tuple[_Path, bytes]
_Sources = _Path | Iterable[_Source]
_Failures = list[tuple[str, Exception]]

@final
class _ManyLoader:
    """load_many's iterator: (name, ActivityFile or exception) in input order."""

    @property
    def total(self) -> int: ...
    @property
    def done(self) -> int: ...
    # The sources that named no file (a folder without activity files, say).
    @property
    def empty_sources(self) -> list[str]: ...
    def __iter__(self) -> _ManyLoader: ...
    def __next__(self) -> tuple[str, ActivityFile | Exception]: ...

def _list_sources(sources: _Sources) -> list[str]: ...
def _load_many(sources: _Sources, workers: int | None = None) -> _ManyLoader: ...

# (table, the failed files with their exceptions, the sources that named no file)
def _summaries(
    sources: _Sources,
    workers: int | None = None,
    progress: Callable[[int, int], object] | None = None,
) -> tuple[Table, _Failures, list[str]]: ...
def _points(
    sources: _Sources,
    workers: int | None = None,
    progress: Callable[[int, int], object] | None = None,
    skip_failures: bool = False,
) -> tuple[Table, _Failures, list[str]]: ...
def _write_csv(table: Table, write: Callable[[bytes], object]) -> None: ...
