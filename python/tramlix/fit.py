"""Everything in a FIT file: every message as a table per message type, or one at a time.

The activity model keeps what FIT, GPX and TCX share; a FIT file holds much more (laps, events,
HRV, pool lengths, device information, developer fields from power meters and apps). These
functions give all of it, decoded as `tramlix.load` decodes it.
"""

from __future__ import annotations

from ._tramlix import _fit_iter_messages, _fit_messages

TYPE_CHECKING = False
if TYPE_CHECKING:
    import os
    from collections.abc import Iterable, Iterator
    from typing import Any

    from ._tramlix import Table

__all__ = ["messages", "iter_messages"]


def messages(
    source: str | os.PathLike[str] | bytes, *, names: str | Iterable[str] | None = None
) -> dict[str, Table]:
    """Every message type in the file as a table, in the order the types first appear.

    `source` is a path or the file's bytes, gzip-compressed or not. `names` keeps only those
    message types ("lap", "hrv", "unknown_233"); a name no message can have raises ValueError.
    Each table has a column per field seen, in the profile's field order, with developer fields
    last: enumerations as dictionary-encoded strings, date-times as timestamps, arrays as lists,
    absent and invalid values as nulls, units in the field metadata ("unit")."""
    return _fit_messages(source, names=names)


def iter_messages(source: str | os.PathLike[str] | bytes) -> Iterator[tuple[str, dict[str, Any]]]:
    """The messages of the file one at a time, in file order, as (message name, {field: value}).

    Fields are named as in `messages`; values are as decoded: numbers, texts (enumeration
    names), bytes, lists, `datetime` objects (aware in UTC for date_time fields, naive for
    local_date_time ones) and None for invalid values."""
    return _fit_iter_messages(source)
