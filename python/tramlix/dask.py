"""A whole history on a Dask cluster: read_summaries and read_points build dask.dataframe
DataFrames with one partition per group of files, each made on a worker by tramlix.summaries
or tramlix.points (pip install 'tramlix[dask]').

_Sources are listed on the client, as load_many lists them: local folders are walked and zip
archives opened there, so local paths must name the same files on every worker (a shared file
system; absolute paths are safest). URLs (s3://..., gcs://..., file://..., anything fsspec
opens) name a file, or a folder whose .fit, .gpx and .tcx files (and .gz forms) are taken in
sorted order; each worker reads a file's bytes through fsspec, then loads them."""

from __future__ import annotations

import importlib
import os

from . import _tramlix

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable
    from typing import Any, Literal

    import dask.dataframe

    # A pandas.DataFrame: pandas is typed only with pandas-stubs installed.
    type _Frame = Any
    type _Sources = str | os.PathLike[str] | Iterable[str | os.PathLike[str]]

__all__ = ["read_points", "read_summaries"]

FILES_PER_PARTITION = 64


def read_summaries(
    sources: _Sources,
    *,
    files_per_partition: int = FILES_PER_PARTITION,
    storage_options: dict[str, Any] | None = None,
) -> dask.dataframe.DataFrame:
    """tramlix.summaries() of the sources as a Dask DataFrame: the same rows and columns, in
    the same order, with a partition for each `files_per_partition` files. A file that cannot
    be read or loaded is a row with its error, as in summaries()."""
    return _read("summaries", sources, files_per_partition, storage_options, {})


def read_points(
    sources: _Sources,
    *,
    files_per_partition: int = FILES_PER_PARTITION,
    errors: Literal["raise", "skip"] = "raise",
    storage_options: dict[str, Any] | None = None,
) -> dask.dataframe.DataFrame:
    """tramlix.points() of the sources as a Dask DataFrame, a partition for each
    `files_per_partition` files. errors="raise" fails the computation with the first file
    that fails; errors="skip" leaves such files out."""
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors must be 'raise' or 'skip', not {errors!r}")
    options = {"skip": errors == "skip"}
    return _read("points", sources, files_per_partition, storage_options, options)


def _read(
    table: Literal["summaries", "points"],
    sources: _Sources,
    files_per_partition: int,
    storage_options: dict[str, Any] | None,
    options: dict[str, Any],
) -> dask.dataframe.DataFrame:
    try:
        import dask.dataframe as dd
    except ImportError as missing:
        raise ImportError(
            "tramlix.dask needs dask: pip install 'tramlix[dask]'", name=missing.name
        ) from missing
    if files_per_partition < 1:
        raise ValueError(f"files_per_partition must be at least 1, not {files_per_partition}")
    partition = _summaries_partition if table == "summaries" else _points_partition
    names = _listed(sources, storage_options)
    groups = [names[i : i + files_per_partition] for i in range(0, len(names), files_per_partition)]
    meta = partition([], storage_options=storage_options, **options)
    if "source" in meta and str(meta["source"].dtype) == "category":
        from dask.dataframe.utils import clear_known_categories

        meta = clear_known_categories(meta, cols=["source"])  # each partition has its own
    return dd.from_map(
        partition,
        groups or [[]],
        meta=meta,
        label=f"tramlix-{table}",
        storage_options=storage_options,
        enforce_metadata=False,
        **options,
    )


# ---- On the client: what the sources name ----


def _is_url(name: str) -> bool:
    return "://" in name


def _is_activity_name(name: str) -> bool:
    lower = name.lower().removesuffix(".gz")
    return any(lower.endswith(f".{format}") for format in _tramlix._formats)


def _listed(sources: _Sources, storage_options: dict[str, Any] | None) -> list[str]:
    if isinstance(sources, (str, os.PathLike)):
        sources = [sources]
    names: list[str] = []
    for source in sources:
        if not isinstance(source, (str, os.PathLike)):
            raise TypeError(f"sources: expected a path or a URL, not {type(source).__name__}")
        text = os.fspath(source)
        if isinstance(text, str) and _is_url(text):
            names += _listed_url(text, storage_options)
        else:
            names += _tramlix._list_sources(source)
    return names


def _listed_url(url: str, storage_options: dict[str, Any] | None) -> list[str]:
    fs, path = _fsspec().core.url_to_fs(url, **(storage_options or {}))
    if not fs.isdir(path):
        return [url]
    found = sorted(p for p in fs.find(path) if _is_activity_name(p))
    return [fs.unstrip_protocol(p) for p in found]


def _fsspec() -> Any:
    return importlib.import_module("fsspec")


# ---- On a worker: one partition ----


def _read_items(
    names: list[str], storage_options: dict[str, Any] | None
) -> tuple[list[str | tuple[str, bytes]], list[tuple[int, str, OSError]]]:
    """The sources to load: paths as they are, URLs as (name, bytes); and the URLs that could
    not be read, with their place."""
    items: list[str | tuple[str, bytes]] = []
    unread: list[tuple[int, str, OSError]] = []
    for place, name in enumerate(names):
        if not _is_url(name):
            items.append(name)
            continue
        try:
            fs, path = _fsspec().core.url_to_fs(name, **(storage_options or {}))
            items.append((name, fs.cat_file(path)))
        except OSError as error:
            unread.append((place, name, error))
    return items, unread


def _summaries_partition(names: list[str], storage_options: dict[str, Any] | None = None) -> _Frame:
    items, unread = _read_items(names, storage_options)
    table, _, _ = _tramlix._summaries(items, 1, None)
    frame = table.to_pandas()
    if not unread:
        return frame
    pd = importlib.import_module("pandas")
    # Rows of the files that could not be read, each in its place among the others.
    failed = pd.DataFrame(
        {"source": [name for _, name, _ in unread], "error": [str(e) for _, _, e in unread]}
    )
    place = {name: i for i, name in reversed(list(enumerate(names)))}
    order = [place[name] for name in frame["source"]] + [i for i, _, _ in unread]
    merged = pd.concat([frame, failed], ignore_index=True).astype(frame.dtypes.to_dict())
    merged["_place"] = order
    merged = merged.sort_values("_place", kind="stable").drop(columns="_place")
    return merged.reset_index(drop=True)


def _points_partition(
    names: list[str], storage_options: dict[str, Any] | None = None, skip: bool = False
) -> _Frame:
    items, unread = _read_items(names, storage_options)
    if unread and not skip:
        raise unread[0][2]
    table, _, _ = _tramlix._points(items, 1, None, skip)
    return table.to_pandas()
