"""recover(): what damaged files still hold, and what was wrong with them."""

import datetime as dt
import gzip
import struct

import pytest
from conftest import CORPUS, RUN_GPX
from fit_bytes import UINT8, UINT32, Records, crc16

import tramlix
from tramlix import Activity, ActivityFile, Segment, TrackPoint

try:
    from hypothesis import given, settings
    from hypothesis import strategies as st
except ImportError:  # pragma: no cover - the property test skips itself
    given = settings = st = None

START = dt.datetime(2024, 5, 1, tzinfo=dt.UTC)


def model(*heart_rates: list[int]) -> ActivityFile:
    """One activity per list, a timed and placed point per heart rate, one second apart."""
    activities, second = [], 0
    for rates in heart_rates:
        points = []
        for rate in rates:
            time = (START + dt.timedelta(seconds=second)).isoformat()
            points.append(TrackPoint(time=time, latitude=45 + second / 1e4, longitude=7.0,
                                     heart_rate_bpm=rate))  # fmt: skip
            second += 1
        activities.append(Activity(sport="running", segments=[Segment(points)]))
    return ActivityFile(activities)


def points(file: ActivityFile) -> list[tuple[object, ...]]:
    return [(p.time, p.latitude, p.heart_rate_bpm)
            for a in file.activities for s in a.segments for p in s.points]  # fmt: skip


RUN = model(list(range(100, 140)), list(range(140, 150)))


def fit_records(count: int) -> bytes:
    """A FIT file of `count` records, 6 bytes each, the last ending 2 bytes before the end."""
    records = Records().define(0, 20, [(253, 4, UINT32), (3, 1, UINT8)])
    for i in range(count):
        records.message(0, struct.pack("<IB", 1_000_000_000 + i, i % 200))
    return records.file()


@pytest.mark.parametrize("fmt", ["fit", "gpx", "tcx", "tcx.gz"])
def test_an_intact_file_gives_what_load_gives(tmp_path, fmt):
    path = tmp_path / f"run.{fmt}"
    RUN.save(path)
    loaded = tramlix.load(path).to_json()
    for source in (path, str(path), path.read_bytes()):
        file, problems = tramlix.recover(source)
        assert (file.to_json(), problems) == (loaded, [])


@pytest.mark.parametrize("fmt", ["fit", "gpx", "tcx", "fit.gz", "gpx.gz"])
def test_a_file_cut_in_half_keeps_its_first_points(tmp_path, fmt):
    RUN.save(tmp_path / f"run.{fmt}")
    data = (tmp_path / f"run.{fmt}").read_bytes()
    half = data[: len(data) // 2]
    with pytest.raises(tramlix.TramlixError):
        tramlix.loads(half)
    file, problems = tramlix.recover(half)
    kept = points(file)
    assert 0 < len(kept) < RUN.point_count and kept == points(tramlix.loads(data))[: len(kept)]
    assert problems and all(isinstance(problem, str) for problem in problems)
    if fmt.endswith(".gz"):
        assert problems[0].startswith("invalid gzip data: cut short")


def test_problems_say_what_was_wrong_and_what_was_kept():
    data = fit_records(1200)
    stored_wrong = data[:-2] + b"\x34\x12"
    assert tramlix.recover(stored_wrong)[1] == [
        f"file CRC mismatch: stored 0x1234, calculated 0x{crc16(data[:-2]):04X} (ignored)"
    ]
    last_record = len(data) - 2 - 6
    file, problems = tramlix.recover(data[: last_record + 3])
    assert (file.point_count, problems) == (
        1199,
        [f"data ends inside a record at offset {last_record}: kept 1,199 records before it"],
    )
    document = RUN.to_gpx()
    second_end = document.index(b"</trkpt>", document.index(b"</trkpt>") + 1) + len(b"</trkpt>")
    broken = document[:second_end] + b"<<" + document[second_end:]
    file, problems = tramlix.recover(broken)
    assert len(problems) == 1 and problems[0].startswith("not well-formed (invalid token) at line ")
    assert problems[0].endswith(": kept the points completed before it")
    assert points(file) == points(tramlix.loads(document))[:2]


@pytest.mark.parametrize(
    ("data", "problems"),
    [
        (b"", ["unsupported or unrecognized activity format: content is not recognizable as GPX, "
               "TCX, or FIT"]),
        (RUN_GPX[: RUN_GPX.index(b"</trkpt>")],
         [f"no element found at line 1, column {RUN_GPX.index(b'</trkpt>') + 1}",
          "no track segments found"]),
        (fit_records(3)[:20],
         ["data ends inside a record at offset 14: kept 0 records before it",
          "no record messages found"]),
        (gzip.compress(RUN_GPX)[:5],
         ["invalid gzip data: cut short: the stream ends before its end marker"]),
    ],
    ids=["empty", "gpx", "fit", "gzip"],
)  # fmt: skip
def test_nothing_to_keep_gives_an_empty_file_and_the_reasons(data, problems):
    file, got = tramlix.recover(data)
    assert (file.activities, file.creator, file.device_info, got) == ([], None, None, problems)


def test_only_reading_the_file_raises(tmp_path):
    for unreadable in (tmp_path / "missing.fit", tmp_path):
        with pytest.raises(OSError, match="^cannot read or write "):
            tramlix.recover(unreadable)
    for wrong in (bytearray(RUN_GPX), memoryview(RUN_GPX), 3, None):
        with pytest.raises(TypeError, match="argument 'source'"):
            tramlix.recover(wrong)
    assert tramlix.recover(source=RUN_GPX)[1] == []


def test_corpus_files_recover_at_least_what_they_load():
    if not CORPUS.is_dir():
        pytest.skip(f"the shared corpus is not at {CORPUS} (a clone without it)")
    damaged = {}
    for path in sorted(
        p for p in CORPUS.rglob("*") if p.suffix.lower() in (".fit", ".gpx", ".tcx")
    ):
        file, problems = tramlix.recover(path)
        try:
            loaded = tramlix.load(path)
        except tramlix.TramlixError:
            assert problems
            if file.activities:
                damaged[path.name] = file.point_count
        else:
            assert (file.to_json(), problems) == (loaded.to_json(), [])
    # Files cut short, or with a stale CRC, by the programs that wrote them.
    assert damaged == {
        "activity-activity-filecrc.fit": 28, "activity-filecrc.fit": 14,
        "activity-settings-nodata.fit": 14, "activity-unexpected-eof.fit": 14,
        "nick.fit": 14391, "strava-android-app-201.10-b1218918.fit": 473,
    }  # fmt: skip


if given is not None:
    heart_rates = st.lists(st.integers(0, 255), min_size=1, max_size=30)

    @settings(max_examples=60, deadline=None)
    @given(activities=st.lists(heart_rates, min_size=1, max_size=3),
           fmt=st.sampled_from(["fit", "gpx", "tcx"]), data=st.data())  # fmt: skip
    def test_any_prefix_recovers_a_prefix_of_the_points(activities, fmt, data):
        whole = model(*activities).to_bytes(fmt)
        every = points(tramlix.loads(whole))
        prefix = whole[: data.draw(st.integers(0, len(whole)), label="cut")]
        file, problems = tramlix.recover(prefix)  # never raises
        kept = points(file)
        assert kept == every[: len(kept)]
        try:
            loaded = tramlix.loads(prefix)
        except tramlix.TramlixError:
            assert problems
        else:
            assert (file.to_json(), problems) == (loaded.to_json(), [])
else:  # pragma: no cover

    def test_any_prefix_recovers_a_prefix_of_the_points():
        pytest.skip("hypothesis is not installed")
