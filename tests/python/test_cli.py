"""The tramlix command line."""

import json
import os
import re
import subprocess
import sys

import pytest
from conftest import RUN_GPX, blames, gpx, run
from fit_bytes import ENUM, Records

import tramlix
from tramlix.cli import main

ENV = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}


def test_convert_is_quiet_and_json_prints_the_export(capsys, tmp_path, run_gpx):
    assert run(capsys, "convert", run_gpx, tmp_path / "copy.gpx") == (0, "", "")
    assert (tmp_path / "copy.gpx").read_bytes() == tramlix.load(run_gpx).to_gpx()
    assert run(capsys, "json", run_gpx) == (0, tramlix.load(run_gpx).to_json() + "\n", "")


T = "2024-05-01T00:00:0{}Z"
P = tramlix.TrackPoint


@pytest.mark.parametrize(
    ("source", "name", "sport", "points", "target", "warning"),
    [
        ("in.fit", None, None, [P(time=T.format(0), latitude=45, longitude=7), P(time=T.format(1)),
                                P(time=T.format(2), latitude=45.1)],
         "out.gpx", "left out 2 points without a position"),
        ("in.gpx", None, None, [P(time=T.format(0), latitude=45, longitude=7, heart_rate_bpm=300),
                                P(latitude=45.1, longitude=7.1)],
         "out.TCX", "left out 1 point without a time, 1 value out of range"),
        ("in.gpx", "\u00e9" * 200, "Road Cycling",
         [P(time=T.format(0), latitude=45, longitude=7, heart_rate_bpm=300),
          P(time=T.format(9), latitude=45.1, longitude=7.1)],
         "out.fit", "left out 1 value out of range, 1 name FIT has no code for; cut 1 text short"),
    ],
)  # fmt: skip
def test_convert_warns_in_one_line_about_what_the_format_leaves_out(
    capsys, tmp_path, source, name, sport, points, target, warning
):
    activity = tramlix.Activity(name=name, sport=sport, segments=[tramlix.Segment(points)])
    tramlix.ActivityFile([activity]).save(tmp_path / source)
    code, out, err = run(capsys, "convert", tmp_path / source, tmp_path / target)
    assert (code, out, err) == (0, "", f"tramlix: warning: {tmp_path / target}: {warning}\n")
    assert tramlix.load(tmp_path / target).point_count == (1 if "point" in warning else 2)


@pytest.mark.parametrize(
    ("output", "message"),
    [("out.kml", "format: kml"), ("out", "has no file extension"), ("no/out.gpx", "cannot read")],
)
def test_convert_output_errors_blame_the_output(capsys, tmp_path, run_gpx, output, message):
    code, out, err = run(capsys, "convert", run_gpx, tmp_path / output)
    assert (code, out) == (1, "") and blames(err, tmp_path / output, message)
    assert [p.name for p in tmp_path.iterdir()] == ["run.gpx"]


def test_convert_refuses_to_replace_its_input(capsys, tmp_path, run_gpx, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "sub").mkdir()
    os.symlink("run.gpx", "link.gpx")
    os.link("run.gpx", "hard.gpx")
    # The same file by device and inode, however it is named.
    for target in (run_gpx, "run.gpx", "./run.gpx", "sub/../run.gpx", "link.gpx", "hard.gpx"):
        code, out, err = run(capsys, "convert", run_gpx, target)
        assert (code, out) == (2, "") and blames(err, target, "lossy rewrite"), target
        assert "--force" in err
    assert run_gpx.read_bytes() == RUN_GPX
    assert run(capsys, "convert", "--force", "run.gpx", "link.gpx") == (0, "", "")
    assert run_gpx.read_bytes() == tramlix.loads(RUN_GPX).to_gpx() != RUN_GPX
    assert os.readlink("link.gpx") == "run.gpx"


@pytest.mark.parametrize(
    ("content", "message"),
    [(None, "cannot read or write"), (b"", "not recognizable as GPX"), (RUN_GPX[:99], "invalid")],
)
def test_input_errors_blame_the_input(capsys, tmp_path, content, message):
    source = tmp_path / "in.gpx"
    if content is not None:
        source.write_bytes(content)
    for argv in (["convert", source, tmp_path / "out.gpx"], ["json", source], ["info", source]):
        code, out, err = run(capsys, *argv)
        assert (code, out) == (1, "") and blames(err, source, message)


def test_info_text(capsys, tmp_path, run_gpx):
    bare = tmp_path / "bare.gpx"
    tramlix.ActivityFile([tramlix.Activity(segments=[tramlix.Segment()])]).save(bare)
    code, out, err = run(capsys, "info", run_gpx, bare)
    assert (code, err) == (0, "")
    first, second = out.split("\n\n")
    lines = first.splitlines()
    assert lines[:2] == [str(run_gpx), "  activity 1 of 1"]
    rows = dict(re.fullmatch(r"\s+(\S+(?: \S+)*)\s\s+(.*)", line).groups() for line in lines[2:])
    assert rows == {
        "sport": "running", "name": "Morning Run", "start": "2024-05-01 00:00:00.125 UTC",
        "end": "2024-05-01 01:00:00.125 UTC", "duration": "1:00:00", "distance": "3.00 km",
        "moving time": "1:00:00", "stopped time": "0:00:00", "elevation gain": "5 m",
        "elevation loss": "2 m", "filtered gain": "5 m", "filtered loss": "0 m",
        "avg heart rate": "141 bpm", "max speed": "2.7 km/h", "points": "3",
        "bounds": "lat 45.000000 to 45.020000, lon 13.000000 to 13.020000",
    }  # fmt: skip
    assert (
        len({line.index(value) for line, value in zip(lines[2:], rows.values(), strict=False)}) == 1
    )
    absent = {line.split()[0]: line.split()[-1] for line in second.splitlines()[2:]}
    assert [absent[k] for k in ("sport", "name", "start", "end", "duration", "bounds")] == ["-"] * 6
    assert "0.00 km" in second and "-0.00" not in second


def test_info_json(capsys, tmp_path, run_gpx):
    # A NaN latitude and an infinite elevation must not make the output invalid JSON.
    point = tramlix.TrackPoint(latitude=float("nan"), longitude=1.0, elevation_m=float("inf"))
    odd, missing = tmp_path / "odd.gpx", tmp_path / "missing.gpx"
    tramlix.ActivityFile([tramlix.Activity(segments=[tramlix.Segment([point, point])])]).save(odd)
    code, out, err = run(capsys, "info", "--json", run_gpx, missing, odd)
    assert code == 1 and blames(err, missing, "cannot read or write")
    good, bad, _ = json.loads(out, parse_constant=lambda name: pytest.fail(f"{name} in JSON"))
    message = err.split(": ", 3)[3][:-1]
    assert bad == {"path": str(missing), "error": message, "device": None, "activities": []}
    assert (good["path"], good["error"], good["device"]) == (str(run_gpx), None, None)
    assert good["activities"] == [{
        "sport": "running", "name": "Morning Run", "start_time": "2024-05-01T00:00:00.125+00:00",
        "end_time": "2024-05-01T01:00:00.125+00:00", "duration_seconds": 3600.0,
        "distance_meters": 3001.0, "moving_time_seconds": 3600.0, "stopped_time_seconds": 0.0,
        "elevation_gain_meters": 5.0, "elevation_loss_meters": 2.0,
        "average_heart_rate_bpm": 141.0, "max_speed_mps": pytest.approx(0.7565, rel=1e-3),
        "point_count": 3,
        "bounds": {"min_latitude": 45.0, "max_latitude": 45.02, "min_longitude": 13.0,
                   "max_longitude": 13.02},
        # Climbs and descents of at least 5 m: the 2 m back down is noise.
        "filtered_elevation_gain_meters": 5.0, "filtered_elevation_loss_meters": 0.0,
    }]  # fmt: skip
    # New keys come after the ones there were, which keep their order.
    assert list(good["activities"][0])[-2:] == [
        "filtered_elevation_gain_meters", "filtered_elevation_loss_meters"]  # fmt: skip


@pytest.mark.parametrize(
    "argv",
    [[], ["frobnicate"], ["convert", "a"], ["info"], ["json", "a", "b"], ["info", "--yaml", "a"],
     ["repair", "a"], ["plot", "a"], ["plot", "a", "-o", "b.png", "--color-by", "power"],
     ["--help"], ["convert", "--help"], ["info", "--help"], ["json", "--help"],
     ["repair", "--help"], ["plot", "--help"]],
)  # fmt: skip
def test_usage_errors_and_help(capsys, argv):
    with pytest.raises(SystemExit) as caught:
        main(argv)
    out, err = capsys.readouterr()
    if "--help" not in argv:
        assert (caught.value.code, out) == (2, "") and "usage: tramlix" in err
    else:
        assert (caught.value.code, err) == (0, "") and out.startswith("usage: tramlix")
        assert all(word in out for word in ("example", "FIT", "GPX", "TCX"))


def run_process(*argv: object) -> subprocess.CompletedProcess[str]:
    command = [sys.executable, "-m", "tramlix", *map(str, argv)]
    return subprocess.run(command, capture_output=True, text=True, timeout=120, env=ENV)


def test_as_a_process_errors_are_one_line_without_traceback(tmp_path, run_gpx):
    missing = tmp_path / "missing.fit"
    result = run_process("info", run_gpx, missing)
    assert result.returncode == 1 and "Morning Run" in result.stdout
    assert blames(result.stderr, missing, f"cannot read or write {missing}: No such file or")
    assert run_process("--version").stdout == "tramlix 0.1.0\n"


def test_plain_convert_imports_neither_argparse_json_nor_typing(tmp_path, run_gpx):
    # `tramlix convert IN OUT` runs in batches: its start must stay small. The other commands
    # and `--force` go through argparse.
    script = (
        "import sys; before = set(sys.modules); from tramlix.cli import main; "
        "code = main(sys.argv[1:]); "
        "print(code, sorted({'argparse', 'json', 'typing'} & (set(sys.modules) - before)))"
    )
    out = tmp_path / "out.fit"
    for argv, imported in [((run_gpx, out), "[]"), (("--force", run_gpx, out), "['argparse']")]:
        command = [sys.executable, "-c", script, "convert", *map(str, argv)]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120, env=ENV)
        assert result.stdout == f"0 {imported}\n", result.stderr


def test_a_closed_pipe_is_not_a_traceback(tmp_path):
    (tmp_path / "big.gpx").write_bytes(gpx(3000))
    command = [sys.executable, "-m", "tramlix", "json", str(tmp_path / "big.gpx")]
    reader_gone = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
    reader_gone.stdout.close()
    assert reader_gone.communicate(timeout=120)[1] == b""


def test_info_reports_fit_activities_and_their_device(capsys):
    from conftest import CORPUS

    path = CORPUS / "fit" / "garmin-fenix-5-run.fit"
    if not path.is_file():
        pytest.skip(f"the shared corpus is not at {CORPUS} (a clone without it)")
    code, out, err = run(capsys, "info", path)
    assert (code, err) == (0, "")
    # The watch, not the heart-rate strap or the sensors paired with it.
    assert "  device garmin fenix5, serial 3945849289, software 4.1\n" in out
    assert "    sport           running\n" in out and "    points          21\n" in out
    code, out, err = run(capsys, "info", "--json", path)
    (report,) = json.loads(out)
    assert report["device"]["serial_number"] == 3945849289
    assert report["activities"][0]["point_count"] == 21


def cut_in_half(path) -> None:
    data = path.read_bytes()
    path.write_bytes(data[: len(data) // 2])


@pytest.mark.parametrize("output", ["kept.gpx", "kept.fit.gz"])
def test_repair_writes_what_a_damaged_file_holds(capsys, tmp_path, output):
    damaged = tmp_path / "cut.fit"
    tramlix.loads(gpx(50)).save(damaged)
    cut_in_half(damaged)
    file, problems = tramlix.recover(damaged)
    assert file.point_count > 0 and problems
    code, out, err = run(capsys, "repair", damaged, tmp_path / output)
    assert (code, out) == (0, "")
    assert err == "".join(f"tramlix: warning: {damaged}: {problem}\n" for problem in problems)
    written = tramlix.load(tmp_path / output)
    assert written.to_json() == tramlix.loads(file.to_bytes(output.split(".")[1])).to_json()


def test_repair_of_an_intact_file_converts_it_quietly(capsys, tmp_path, run_gpx):
    assert run(capsys, "repair", run_gpx, tmp_path / "copy.gpx") == (0, "", "")
    assert (tmp_path / "copy.gpx").read_bytes() == tramlix.load(run_gpx).to_gpx()


@pytest.mark.parametrize(
    ("content", "problems"),
    [(b"<gpx><trk><trkseg><trkpt lat='1' lon='2'>",
      ["no element found at line 1, column 42", "no track segments found"]),
     (b"", ["unsupported or unrecognized activity format: content is not recognizable as GPX, "
            "TCX, or FIT"])],
)  # fmt: skip
def test_repair_keeping_nothing_writes_nothing(capsys, tmp_path, content, problems):
    source = tmp_path / "in.gpx"
    source.write_bytes(content)
    code, out, err = run(capsys, "repair", source, tmp_path / "out.gpx")
    assert (code, out) == (1, "")
    assert err == "".join(f"tramlix: error: {source}: {problem}\n" for problem in problems)
    assert not (tmp_path / "out.gpx").exists()
    code, _, err = run(capsys, "repair", tmp_path / "missing.gpx", tmp_path / "out.gpx")
    assert code == 1 and blames(err, tmp_path / "missing.gpx", "cannot read or write")


def test_repair_never_writes_over_its_input(capsys, tmp_path):
    damaged = tmp_path / "cut.gpx"
    damaged.write_bytes(gpx(20)[:1000])
    code, out, err = run(capsys, "repair", damaged, tmp_path / "." / "cut.gpx")
    assert (code, out) == (2, "") and blames(err, tmp_path / "." / "cut.gpx", "is the input")
    assert damaged.read_bytes() == gpx(20)[:1000]


def test_info_hints_at_repair_when_it_would_keep_something(capsys, tmp_path):
    damaged, settings = tmp_path / "cut.gpx", tmp_path / "settings.fit"
    damaged.write_bytes(gpx(20))
    cut_in_half(damaged)
    # An intact FIT file without records: not damaged, and nothing repair could keep.
    settings.write_bytes(Records().define(0, 0, [(0, 1, ENUM)]).message(0, b"\x02").file())
    code, out, err = run(capsys, "info", damaged, settings)
    assert (code, out) == (1, "")
    hinted, plain = err.splitlines()
    assert hinted.startswith(f"tramlix: error: {damaged}: invalid GPX data: ")
    assert hinted.endswith("; try `tramlix repair` to keep what it holds")
    assert plain == f"tramlix: error: {settings}: invalid FIT data: no record messages found"
