"""Reading and writing files: load, loads, convert, save, errors, hostile input and threads."""

from __future__ import annotations

import concurrent.futures
import os
import sys
import threading
import time

import pytest
from conftest import GPX_HEAD, RUN_GPX, activity_values, big_gpx

import tramlix
from tramlix import ActivityFile, TramlixError

UNRECOGNIZED = "unsupported or unrecognized activity format: "


def test_load_reads_a_gpx_file(run_gpx):
    for path in (str(run_gpx), run_gpx):
        file = tramlix.load(path)
        assert file.creator == "tramlix"
        assert file.device_info is None
        (activity,) = file.activities
        assert (activity.name, activity.sport, len(activity)) == ("Morning Run", "running", 3)
        points = activity.segments[0].points
        assert [p.heart_rate_bpm for p in points] == [140, 150, 160]
        assert points[0].time == "2024-05-01T06:30:00+00:00"
        assert activity.duration_seconds == 3600.0
        assert activity.average_heart_rate_bpm == 150.0


@pytest.mark.parametrize("format", [None, "gpx", " .GPX ", "..Gpx"])
def test_loads_format_names(format):
    assert tramlix.loads(RUN_GPX, format).point_count == 3
    assert tramlix.loads(RUN_GPX, format=format).point_count == 3


@pytest.mark.parametrize(
    ("data", "format", "message"),
    [
        (b"", None, UNRECOGNIZED + "content is not recognizable as GPX, TCX, or FIT"),
        (b"<html></html>", None, UNRECOGNIZED + "content is not recognizable as GPX, TCX, or FIT"),
        # The name is parsed before anything is read.
        (b"", "KML", UNRECOGNIZED + "kml"),
        (RUN_GPX, " .KML", UNRECOGNIZED + "kml"),
        (RUN_GPX, "", UNRECOGNIZED),
        (RUN_GPX, ". gpx", UNRECOGNIZED + " gpx"),
    ],
)
def test_loads_errors(data, format, message):
    with pytest.raises(TramlixError) as caught:
        tramlix.loads(data, format)
    assert caught.value.args == (message,)


@pytest.mark.parametrize("data", ["<gpx/>", bytearray(RUN_GPX), memoryview(RUN_GPX), None])
def test_loads_takes_bytes_only(data):
    with pytest.raises(TypeError, match="^argument 'data': "):
        tramlix.loads(data)


def test_missing_file_is_an_os_error(tmp_path):
    path = tmp_path / "missing.gpx"
    with pytest.raises(OSError) as caught:
        tramlix.load(path)
    error = caught.value
    assert not isinstance(error, TramlixError)
    assert type(error) is OSError
    assert len(error.args) == 1
    assert error.args[0].startswith(f"cannot read or write {path}: ")
    assert error.errno is None and error.filename is None


@pytest.mark.parametrize(
    ("path", "error", "message"),
    [
        (b"/tmp/run.gpx", TypeError, "^argument 'path': "),
        (7, TypeError, "^argument 'path': "),
        (None, TypeError, "^argument 'path': "),
        ("run\0.gpx", ValueError, "^argument 'path': embedded null byte"),
    ],
)
def test_unusable_paths(path, error, message):
    with pytest.raises(error, match=message):
        tramlix.load(path)
    with pytest.raises(error, match=message):
        ActivityFile().save(path)


def test_path_objects_and_fspath(tmp_path, run_gpx):
    class FsPath:
        def __fspath__(self) -> str:
            return str(run_gpx)

    class BytesPath:
        def __fspath__(self) -> bytes:
            return os.fsencode(run_gpx)

    assert tramlix.load(FsPath()).point_count == 3
    with pytest.raises(TypeError, match="^argument 'path': "):
        tramlix.load(BytesPath())


@pytest.mark.skipif(sys.platform == "darwin", reason="the file system there insists on UTF-8")
def test_undecodable_file_names_reach_the_file_system(tmp_path):
    raw = os.fsencode(str(tmp_path)) + b"/caf\xe9.gpx"
    with open(raw, "wb") as handle:
        handle.write(RUN_GPX)
    # The str form carries the byte as a surrogate escape; the core must see the byte again.
    assert tramlix.load(os.fsdecode(raw)).point_count == 3


def test_convert_writes_gpx(tmp_path, run_gpx):
    out = tmp_path / "out.GPX"
    assert tramlix.convert(run_gpx, out) is None
    again = tramlix.load(out)
    assert activity_values(again.activities[0]) == activity_values(
        tramlix.load(run_gpx).activities[0]
    )
    assert out.read_bytes() == tramlix.load(run_gpx).to_gpx()


@pytest.mark.parametrize(
    ("output", "error", "check"),
    [
        ("out.kml", TramlixError, lambda m: m == UNRECOGNIZED + "kml"),
        (
            "out",
            TramlixError,
            lambda m: m.startswith(UNRECOGNIZED) and m.endswith("out has no file extension"),
        ),
        (".gpx", TramlixError, lambda m: m.endswith(".gpx has no file extension")),
        ("out.", TramlixError, lambda m: m == UNRECOGNIZED),
        ("no/such/dir/out.gpx", OSError, lambda m: m.startswith("cannot read or write ")),
    ],
)
def test_convert_errors_write_nothing(tmp_path, run_gpx, output, error, check):
    target = tmp_path / output
    with pytest.raises(error) as caught:
        tramlix.convert(run_gpx, target)
    assert type(caught.value) is error
    assert check(caught.value.args[0]), caught.value.args[0]
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run.gpx"]


def test_convert_reads_the_input_first(tmp_path):
    # A missing input wins over an unusable output extension.
    with pytest.raises(OSError) as caught:
        tramlix.convert(tmp_path / "missing.gpx", tmp_path / "out.kml")
    assert not isinstance(caught.value, TramlixError)
    # ...but both paths are converted before any file is touched.
    with pytest.raises(TypeError, match="^argument 'output': "):
        tramlix.convert(tmp_path / "missing.gpx", b"out.gpx")
    with pytest.raises(TypeError, match="^argument 'input': "):
        tramlix.convert(None, b"out.gpx")


def test_save_and_round_trip(tmp_path, run_gpx):
    file = tramlix.load(run_gpx)
    assert file.save(tmp_path / "copy.gpx") is None
    assert (tmp_path / "copy.gpx").read_bytes() == file.to_gpx() == file.to_bytes("gpx")
    again = tramlix.loads(file.to_gpx())
    assert again.to_json() == file.to_json()
    with pytest.raises(TramlixError, match="kml$"):
        file.save(tmp_path / "copy.kml")
    with pytest.raises(OSError):
        file.save(tmp_path / "missing" / "copy.gpx")


HOSTILE = {
    "truncated": RUN_GPX[: len(RUN_GPX) // 2],
    "mismatched tags": (GPX_HEAD + "<trk><trkseg></trk></trkseg></gpx>").encode(),
    "no track": (GPX_HEAD + "<rte><rtept lat='1' lon='2'/></rte></gpx>").encode(),
    "billion laughs": (
        '<?xml version="1.0"?><!DOCTYPE gpx ['
        '<!ENTITY a "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa">'
        + "".join(f'<!ENTITY {c} "{("&" + p + ";") * 16}">' for p, c in zip("abcdefgh", "bcdefghi"))
        + "]><gpx><trk><name>&i;</name><trkseg></trkseg></trk></gpx>"
    ).encode(),
    "external entity": (
        '<?xml version="1.0"?><!DOCTYPE gpx [<!ENTITY x SYSTEM "file:///etc/passwd">]>'
        "<gpx><trk><name>&x;</name><trkseg></trkseg></trk></gpx>"
    ).encode(),
    "external dtd": (
        '<?xml version="1.0"?><!DOCTYPE gpx SYSTEM "file:///etc/passwd">'
        "<gpx><trk><name>&x;</name><trkseg></trkseg></trk></gpx>"
    ).encode(),
    "deep nesting": ("<gpx>" + "<a>" * 200000 + "</a>" * 200000 + "</gpx>").encode(),
    "invalid UTF-8": GPX_HEAD.encode() + b"<trk><name>\xff\xfe</name><trkseg></trkseg></trk></gpx>",
    "NUL byte": GPX_HEAD.encode() + b"<trk><name>a\x00b</name><trkseg></trkseg></trk></gpx>",
    "bad character reference": (
        GPX_HEAD + "<trk><name>&#0;</name><trkseg></trkseg></trk></gpx>"
    ).encode(),
    "unknown entity": (GPX_HEAD + "<trk><name>&nbsp;</name><trkseg></trkseg></trk></gpx>").encode(),
    "two roots": RUN_GPX + RUN_GPX,
    "garbage after the marker": b"<gpx" + bytes(range(256)) * 64,
}


@pytest.mark.parametrize("data", HOSTILE.values(), ids=HOSTILE.keys())
def test_hostile_documents_are_refused(data):
    with pytest.raises(TramlixError) as caught:
        tramlix.loads(data)
    message = caught.value.args[0]
    assert message.startswith("invalid GPX data: ")
    assert "root:" not in message  # nothing of /etc/passwd leaked into the message


def test_corpus_gpx_files(corpus):
    paths = sorted((corpus / "gpx").glob("*.gpx"))
    assert paths
    for path in paths:
        if b"trkseg" not in path.read_bytes():
            # Routes and waypoints only: nothing the model holds.
            with pytest.raises(TramlixError, match="^invalid GPX data: no track segments found$"):
                tramlix.load(path)
            continue
        file = tramlix.load(path)
        assert file.creator == "tramlix"
        again = tramlix.loads(file.to_gpx())
        assert again.to_json() == file.to_json(), path.name


# ---- threads ----

BIG = big_gpx(4000)


def test_concurrent_calls_give_identical_results(tmp_path):
    reference = tramlix.loads(BIG)
    expected_json, expected_gpx = reference.to_json(), reference.to_gpx()
    source = tmp_path / "big.gpx"
    source.write_bytes(BIG)

    def work(n: int) -> tuple[str, bytes, bytes]:
        file = tramlix.loads(BIG)
        out = tmp_path / f"out{n}.gpx"
        tramlix.convert(source, out)
        return file.to_json(), reference.to_bytes("gpx"), out.read_bytes()

    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(work, range(24)))
    for text, gpx, written in results:
        assert text == expected_json
        assert gpx == expected_gpx
        assert written == expected_gpx


def _runs_while(call) -> bool:
    """Whether another Python thread ran during `call()`.

    With a huge switch interval the interpreter never takes the lock away from a running
    thread, so the counter can only move while `call` has released it.
    """
    counter = 0
    stop = threading.Event()
    ready = threading.Event()

    def spin() -> None:
        nonlocal counter
        ready.set()
        while not stop.is_set():
            counter += 1
            time.sleep(0)  # hands the lock back at once

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    thread = threading.Thread(target=spin, daemon=True)
    try:
        thread.start()
        ready.wait()
        for _ in range(50):
            before = counter
            call()
            if counter != before:
                return True
        return False
    finally:
        stop.set()
        sys.setswitchinterval(previous)
        thread.join()


@pytest.mark.parametrize("operation", ["loads", "load", "convert", "to_gpx", "to_bytes", "save"])
def test_the_lock_is_released(tmp_path, operation):
    source = tmp_path / "big.gpx"
    source.write_bytes(BIG)
    file = tramlix.loads(BIG)
    calls = {
        "loads": lambda: tramlix.loads(BIG),
        "load": lambda: tramlix.load(source),
        "convert": lambda: tramlix.convert(source, tmp_path / "out.gpx"),
        "to_gpx": file.to_gpx,
        "to_bytes": lambda: file.to_bytes("gpx"),
        "save": lambda: file.save(tmp_path / "saved.gpx"),
    }
    assert _runs_while(calls[operation])
