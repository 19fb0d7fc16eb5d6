"""Reading and writing files: load, loads, convert, save, errors, hostile input and threads."""

import concurrent.futures
import errno
import json
import os
import shutil
import subprocess
import sys
import threading
from pathlib import Path

import pytest
from conftest import CORPUS, GPX_HEAD, RUN_GPX, gpx

import tramlix
from tramlix import ActivityFile, TramlixError

U = "^unsupported or unrecognized activity format: "


def test_load_reads_a_gpx_file(run_gpx):
    fspath = type("FsPath", (), {"__fspath__": lambda self: str(run_gpx)})
    loaded = [tramlix.load(path=path) for path in (str(run_gpx), run_gpx, fspath())]
    for file in [*loaded, tramlix.loads(RUN_GPX), tramlix.loads(data=RUN_GPX, format=" .GPX ")]:
        assert (file.creator, file.device_info, len(file)) == ("tramlix", None, 1)
        activity = file.activities[0]
        assert (activity.name, activity.sport, len(activity)) == ("Morning Run", "running", 3)
        assert activity.segments[0].points[2].time == "2024-05-01T01:00:00.125+00:00"


BYTES_PATH = type("BytesPath", (), {"__fspath__": lambda self: b"run.gpx"})()


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: tramlix.loads(b""), TramlixError, U + "content is not recognizable as GPX"),
        (lambda: tramlix.loads(b"", "KML"), TramlixError, U + "kml$"),  # the name is parsed first
        (lambda: tramlix.loads(RUN_GPX, ""), TramlixError, U + "$"),
        (lambda: tramlix.loads("<gpx/>"), TypeError, "^argument 'data': "),
        (lambda: tramlix.loads(bytearray(RUN_GPX)), TypeError, "^argument 'data': "),  # mutable
        (lambda: tramlix.load(b"/tmp/run.gpx"), TypeError, "^argument 'path': "),
        (lambda: ActivityFile().save(BYTES_PATH), TypeError, "^argument 'path': "),
        (lambda: tramlix.load("run\0.gpx"), ValueError, "^argument 'path': embedded null byte$"),
        (lambda: ActivityFile().save("run\0.gpx"), ValueError, "^argument 'path': embedded null"),
    ],
)
def test_argument_and_format_errors(call, error, message):
    with pytest.raises(error, match=message) as caught:
        call()
    assert type(caught.value) is error and len(caught.value.args) == 1


def test_missing_files_are_os_errors(tmp_path):
    missing = tmp_path / "missing.gpx"
    # A missing input wins over an unusable output extension, but not over an unusable path.
    for call in (tramlix.load, lambda path: tramlix.convert(path, tmp_path / "out.kml")):
        with pytest.raises(FileNotFoundError) as caught:
            call(missing)
        assert caught.value.args == (f"cannot read or write {missing}: No such file or directory",)
    with pytest.raises(TypeError, match="^argument 'output': "):
        tramlix.convert(input=missing, output=b"out.gpx")


def file_system_failures(tmp_path):
    (tmp_path / "file").write_bytes(RUN_GPX)
    (tmp_path / "locked.gpx").write_bytes(RUN_GPX)
    (tmp_path / "locked.gpx").chmod(0)
    file = tramlix.loads(RUN_GPX)
    return [
        (lambda p: tramlix.load(p), "missing.gpx", FileNotFoundError, errno.ENOENT),
        (lambda p: tramlix.load(p), ".", IsADirectoryError, errno.EISDIR),
        (lambda p: tramlix.recover(p), "file/run.gpx", NotADirectoryError, errno.ENOTDIR),
        (lambda p: tramlix.convert(tmp_path / "file", p), "no/out.gpx", FileNotFoundError, 2),
        (lambda p: file.save(p), "file/out.tcx", NotADirectoryError, errno.ENOTDIR),
        (lambda p: file.save_with_omissions(p), "no/out.fit", FileNotFoundError, errno.ENOENT),
        (lambda p: tramlix.load(p), "locked.gpx", PermissionError, errno.EACCES),
    ]


def test_file_system_failures_are_the_matching_os_errors(tmp_path):
    # except FileNotFoundError and the like work, errno and filename say what and where, and the
    # text stays the whole message, as for every error of the library.
    for call, name, error, number in file_system_failures(tmp_path):
        if error is PermissionError and os.geteuid() == 0:
            continue  # root reads any file
        path = str(tmp_path / name)
        with pytest.raises(error) as caught:
            call(path)
        exception = caught.value
        message = f"cannot read or write {path}: {os.strerror(number)}"
        assert (exception.errno, exception.strerror, exception.filename) == (
            number,
            os.strerror(number),
            path,
        )
        assert (str(exception), exception.args) == (message, (message,))
        assert not isinstance(exception, TramlixError)


@pytest.mark.skipif(sys.platform == "darwin", reason="the file system there insists on UTF-8")
def test_an_os_error_names_an_undecodable_path_as_given(tmp_path):
    path = os.fsdecode(os.fsencode(tmp_path) + b"/caf\xe9.gpx")
    with pytest.raises(FileNotFoundError) as caught:
        tramlix.load(path)
    assert caught.value.filename == path
    assert str(caught.value) == f"cannot read or write {tmp_path}/caf\ufffd.gpx: " + os.strerror(2)


def test_what_is_not_a_regular_file_is_read_up_to_a_limit():
    # A stream reads like a file; one that does not end stops with an error at 1 GiB.
    stdin = subprocess.run(
        [sys.executable, "-c", "import tramlix; print(tramlix.load('/dev/stdin').point_count)"],
        input=RUN_GPX,
        capture_output=True,
        check=True,
    )
    assert stdin.stdout == b"3\n"
    with pytest.raises(TramlixError) as caught:
        tramlix.load("/dev/zero")
    assert caught.value.args == (
        "cannot read /dev/zero: the input is too large (over 1 GiB, the most read from what is "
        "not a regular file)",
    )


@pytest.mark.skipif(sys.platform == "darwin", reason="the file system there insists on UTF-8")
def test_undecodable_file_names_reach_the_file_system(tmp_path):
    raw = os.fsencode(tmp_path) + b"/caf\xe9.gpx"
    with open(raw, "wb") as handle:
        handle.write(RUN_GPX)
    # The str form carries the byte as a surrogate escape; the core must see the byte again.
    assert tramlix.load(os.fsdecode(raw)).point_count == 3


def test_convert_and_save_write_gpx(tmp_path, run_gpx):
    file = tramlix.load(run_gpx)
    assert tramlix.convert(run_gpx, tmp_path / "out.GPX") is None
    assert file.save(tmp_path / "copy.gpx") is None
    for name in ("out.GPX", "copy.gpx"):
        assert (tmp_path / name).read_bytes() == file.to_gpx() == file.to_bytes("gpx")
    assert tramlix.loads(file.to_gpx()).to_json() == file.to_json()


@pytest.mark.parametrize(
    ("output", "error", "message"),
    [
        ("out.kml", TramlixError, U + "kml$"),
        ("out", TramlixError, U + ".*out has no file extension$"),
        ("no/such/dir/out.gpx", FileNotFoundError, "^cannot read or write "),
    ],
)
def test_convert_and_save_errors_write_nothing(tmp_path, run_gpx, output, error, message):
    for write in (lambda out: tramlix.convert(run_gpx, out), tramlix.load(run_gpx).save):
        with pytest.raises(error, match=message) as caught:
            write(tmp_path / output)
        assert isinstance(caught.value, TramlixError) == (error is TramlixError)
        assert [p.name for p in tmp_path.iterdir()] == ["run.gpx"]


def test_convert_rewrites_a_file_in_its_own_place(tmp_path):
    # The content decides what is read, the name what is written: FIT in "run.gpx" becomes GPX.
    path = tmp_path / "run.gpx"
    path.write_bytes(tramlix.loads(RUN_GPX).to_fit())
    before = tramlix.load(path)
    tramlix.convert(path, path)
    assert path.read_bytes() == before.to_gpx()
    assert os.listdir(tmp_path) == ["run.gpx"]


# Every model encodes, so what can still fail while a document is built is memory: with the
# address space capped just above what the process holds, building a large document runs out.
OUT_OF_MEMORY = """
import os, resource, sys
import tramlix
example, target = sys.argv[1:]
activity = tramlix.load(example).activities[0]
big = tramlix.ActivityFile([activity] * 200)
with open("/proc/self/statm") as statm:
    held = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
resource.setrlimit(resource.RLIMIT_AS, (held + (16 << 20), resource.RLIM_INFINITY))
for write in (lambda: big.save(target), lambda: big.save_with_omissions(target)):
    try:
        write()
    except MemoryError:
        print("MemoryError")
"""


def test_a_failure_while_encoding_leaves_the_old_file(tmp_path):
    target = tmp_path / "out.gpx"
    target.write_bytes(b"old")
    example = Path(__file__).resolve().parents[2] / "examples" / "run.fit"
    run = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY, str(example), str(target)],
                         capture_output=True, text=True, check=True)  # fmt: skip
    assert run.stdout.split() == ["MemoryError"] * 2, run.stderr
    assert target.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["out.gpx"]


# Reading runs out of memory as surely, in expat or in our own code: each call is made with the
# address space capped just above what the process holds, and reports what it raised.
OUT_OF_MEMORY_READING = """
import os, resource, sys
import tramlix
point = b"<trkpt lat='46.5' lon='14.5'><time>2024-05-01T10:00:00Z</time></trkpt>"
gpx = b"<gpx><trk><trkseg>" + point * 800_000 + b"</trkseg></trk></gpx>"
fit = tramlix.loads(gpx[: 18 + 300_000 * len(point)] + b"</trkseg></trk></gpx>").to_fit()
with open("/proc/self/statm") as statm:
    held = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
resource.setrlimit(resource.RLIMIT_AS, (held + (16 << 20), resource.RLIM_INFINITY))
for read in (lambda: tramlix.loads(gpx), lambda: tramlix.recover(gpx), lambda: tramlix.loads(fit)):
    try:
        read()
        print("read")
    except Exception as error:
        print(type(error).__name__)
"""


def test_running_out_of_memory_while_reading_is_a_memory_error():
    run = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY_READING],
                         capture_output=True, text=True, check=True)  # fmt: skip
    assert run.stdout.split() == ["MemoryError"] * 3, run.stderr


# Run in a mount namespace of its own, so that its mounts vanish with it: writes over "old" in
# out.gpx on a small tmpfs that is full or read-only, by convert and by save, and reports what
# each raised, what out.gpx holds after and what the disk holds.
ON_A_SMALL_DISK = """
import json, os, subprocess, sys
import tramlix
disk, how, source = sys.argv[1:]
subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk], check=True)
target = os.path.join(disk, "out.gpx")
with open(target, "w") as handle:
    handle.write("old")
if how == "read-only":
    subprocess.run(["mount", "-o", "remount,ro", disk], check=True)
raised = []
for write in (lambda: tramlix.convert(source, target), lambda: tramlix.load(source).save(target)):
    try:
        write()
        raised.append(None)
    except Exception as error:
        raised.append([type(error).__name__, *error.args])
with open(target) as handle:
    print(json.dumps([raised, handle.read(), sorted(os.listdir(disk))]))
"""


@pytest.mark.parametrize(
    ("how", "reason"), [("full", "No space left on device"), ("read-only", "Read-only file system")]
)
def test_a_failed_write_leaves_the_old_file(tmp_path, how, reason):
    unshare = shutil.which("unshare")
    if os.geteuid() != 0 or unshare is None:
        pytest.skip("needs root and unshare(1) to mount a small tmpfs")
    source, disk = tmp_path / "big.gpx", tmp_path / "disk"
    source.write_bytes(gpx(3000))  # 750 kB, more than the disk holds
    disk.mkdir()
    command = [unshare, "--mount", "--propagation", "private", sys.executable, "-c",
               ON_A_SMALL_DISK, disk, how, source]  # fmt: skip
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    result = subprocess.run(command, capture_output=True, text=True, timeout=120, env=env)
    if result.returncode != 0 and result.stderr.startswith("unshare:"):
        pytest.skip(result.stderr.strip())
    assert result.returncode == 0, result.stderr
    raised, old, names = json.loads(result.stdout)
    message = f"cannot read or write {disk / 'out.gpx'}: {reason}"
    assert raised == [["OSError", message]] * 2
    assert (old, names) == ("old", ["out.gpx"])


def named(name: bytes, doctype: bytes = b"") -> bytes:
    body = b"<gpx><trk><name>" + name + b"</name><trkseg></trkseg></trk></gpx>"
    return b'<?xml version="1.0"?>' + doctype + body


LAUGHS = "".join(
    f'<!ENTITY {c} "{("&" + p + ";") * 16}">' for p, c in zip("abcdefgh", "bcdefghi", strict=True)
)
HOSTILE = {
    "truncated": RUN_GPX[: len(RUN_GPX) // 2],
    "mismatched tags": (GPX_HEAD + "<trk><trkseg></trk></trkseg></gpx>").encode(),
    "billion laughs": named(b"&i;", f'<!DOCTYPE gpx [<!ENTITY a "aaaaaaaa">{LAUGHS}]>'.encode()),
    "external entity": named(b"&x;", b'<!DOCTYPE gpx [<!ENTITY x SYSTEM "file:///etc/passwd">]>'),
    "deep nesting": b"<gpx>" + b"<a>" * 200000 + b"</a>" * 200000 + b"</gpx>",
    "invalid UTF-8": named(b"\xff\xfe"),
}


@pytest.mark.parametrize("data", HOSTILE.values(), ids=HOSTILE.keys())
def test_hostile_documents_are_refused(data):
    with pytest.raises(TramlixError, match="^invalid GPX data: ") as caught:
        tramlix.loads(data)
    assert "root:" not in caught.value.args[0]  # nothing of /etc/passwd leaked into the message


# What route planners and bulk exports write: untimed self-closing points between timed ones and
# times without an offset, which are UTC.
PLANNER_GPX = (
    '<?xml version="1.0" encoding="UTF-8"?><gpx version="1.1" creator="planner"><trk><trkseg>'
    '<trkpt lat="46.05" lon="14.5"><time>2013-01-01T12:00:04</time></trkpt>'
    '<trkpt lat="46.06" lon="14.51"/>'
    '<trkpt lat="46.07" lon="14.52"><time>2013-01-01t12:10:00.250000z</time></trkpt>'
    "</trkseg></trk></gpx>"
)
EXPORT_TCX = (
    '<?xml version="1.0" encoding="UTF-8"?><TrainingCenterDatabase><Activities>'
    '<Activity Sport="Running"><Id>2013-01-01T12:00:00</Id><Lap><Track>'
    "<Trackpoint><Time>2013-01-01T12:00:04</Time></Trackpoint><Trackpoint/>"
    "<Trackpoint><Time>2013-01-01T12:10:00.250000</Time></Trackpoint>"
    "</Track></Lap></Activity></Activities></TrainingCenterDatabase>"
)


@pytest.mark.parametrize(("text", "start"), [(PLANNER_GPX, "12:00:04"), (EXPORT_TCX, "12:00:00")])
def test_self_closing_points_and_times_without_offset(text, start):
    activity = tramlix.loads(text.encode()).activities[0]
    points = activity.segments[0].points
    times = ["2013-01-01T12:00:04+00:00", None, "2013-01-01T12:10:00.250+00:00"]
    assert [p.time for p in points] == times
    assert activity.start_time == f"2013-01-01T{start}+00:00"
    assert points[1].latitude == (46.06 if text is PLANNER_GPX else None)
    # The untimed point stands between the timed ones: no interval joins them.
    assert activity.moving_data().moving_time_seconds == 0.0


def wrapped(text: str, how: str) -> bytes:
    utf16 = text.replace('encoding="UTF-8"', 'encoding="UTF-16"')
    prolog = "<!--" + "<gpx>" * 1000 + "-->\n<!DOCTYPE x [<!ENTITY e '>'>]><?pi?>"
    return {
        "blanks": ("\r\n \t" + text).encode(),
        "bom, blanks": b"\xef\xbb\xbf\n " + text.encode(),
        "utf-16-le": utf16.encode("utf-16-le"),
        "utf-16-be": utf16.encode("utf-16-be"),
        "utf-16 bom, blanks": ("\n" + utf16).encode("utf-16"),
        "long prolog": text.replace("?>", "?>" + prolog, 1).encode(),
    }[how]


@pytest.mark.parametrize("text", [PLANNER_GPX, EXPORT_TCX], ids=["gpx", "tcx"])
@pytest.mark.parametrize(
    "how", ["blanks", "bom, blanks", "utf-16-le", "utf-16-be", "utf-16 bom, blanks", "long prolog"]
)
def test_documents_are_recognised_and_read_whatever_precedes_the_root(tmp_path, text, how):
    (tmp_path / "in").write_bytes(wrapped(text, how))
    assert tramlix.load(tmp_path / "in").to_json() == tramlix.loads(text.encode()).to_json()


def test_corpus_gpx_files():
    if not CORPUS.is_dir():
        pytest.skip(f"the shared corpus is not at {CORPUS} (a clone without it)")
    for path in sorted((CORPUS / "gpx").glob("*.gpx")):
        if b"trkseg" not in path.read_bytes():  # routes and waypoints only
            with pytest.raises(TramlixError, match="^invalid GPX data: no track segments found$"):
                tramlix.load(path)
        else:
            file = tramlix.load(path)
            assert tramlix.loads(file.to_gpx()).to_json() == file.to_json(), path.name


BIG = gpx(20000)
FILE = tramlix.loads(BIG)


def test_concurrent_calls_give_identical_results(tmp_path):
    (tmp_path / "big.gpx").write_bytes(BIG)

    def work(n: int) -> tuple[str, bytes, bytes]:
        tramlix.convert(tmp_path / "big.gpx", tmp_path / f"{n}.gpx")
        text = tramlix.loads(BIG).to_json()
        return text, FILE.to_bytes("gpx"), (tmp_path / f"{n}.gpx").read_bytes()

    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        assert set(pool.map(work, range(24))) == {(FILE.to_json(), FILE.to_gpx(), FILE.to_gpx())}


@pytest.mark.parametrize(
    "call",
    [lambda d: tramlix.loads(BIG), lambda d: tramlix.load(d / "big.gpx"), lambda d: FILE.to_gpx(),
     lambda d: tramlix.convert(d / "big.gpx", d / "out.gpx"), lambda d: FILE.save(d / "out.gpx"),
     lambda d: tramlix.recover(BIG), lambda d: tramlix.recover(d / "big.gpx")],
    ids=["loads", "load", "to_gpx", "convert", "save", "recover bytes", "recover path"],
)  # fmt: skip
def test_the_lock_is_released(tmp_path, call):
    (tmp_path / "big.gpx").write_bytes(BIG)
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        # A thread woken but kept off the lock can only run while `call` has released it:
        # with a huge switch interval the interpreter never takes the lock from this thread.
        for _ in range(20):
            go, ran = threading.Event(), threading.Event()
            thread = threading.Thread(target=lambda go=go, ran=ran: go.wait() and ran.set())
            thread.start()
            go.set()
            call(tmp_path)
            released = ran.is_set()
            thread.join()
            if released:
                break
        assert released
    finally:
        sys.setswitchinterval(previous)
