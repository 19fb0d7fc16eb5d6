"""The tramlix command line."""

from __future__ import annotations

import json
import os
import subprocess
import sys

import pytest
from conftest import RUN_GPX, big_gpx

import tramlix
from tramlix.cli import main


def run(capsys, *argv: str) -> tuple[int, str, str]:
    code = main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def run_process(*argv: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "tramlix", *map(str, argv)],
        capture_output=True,
        text=True,
        timeout=120,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )


def test_convert_is_quiet_and_writes_the_file(capsys, tmp_path, run_gpx):
    out = tmp_path / "copy.gpx"
    assert run(capsys, "convert", run_gpx, out) == (0, "", "")
    assert out.read_bytes() == tramlix.load(run_gpx).to_gpx()


@pytest.mark.parametrize(
    ("output", "blamed", "message"),
    [
        ("out.kml", "out.kml", "unsupported or unrecognized activity format: kml"),
        ("out", "out", "has no file extension"),
        ("missing/out.gpx", "missing/out.gpx", "cannot read or write"),
    ],
)
def test_convert_output_errors(capsys, tmp_path, run_gpx, output, blamed, message):
    code, out, err = run(capsys, "convert", run_gpx, tmp_path / output)
    assert (code, out) == (1, "")
    (line,) = err.splitlines()
    assert line.startswith(f"tramlix: error: {tmp_path / blamed}: ")
    assert message in line
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run.gpx"]


@pytest.mark.parametrize(
    ("content", "message"),
    [
        (None, "cannot read or write"),
        (b"", "not recognizable as GPX, TCX, or FIT"),
        (RUN_GPX[:100], "invalid GPX data"),
    ],
)
def test_input_errors_name_the_input(capsys, tmp_path, content, message):
    source = tmp_path / "in.gpx"
    if content is not None:
        source.write_bytes(content)
    for argv in (["convert", source, tmp_path / "out.gpx"], ["json", source], ["info", source]):
        code, out, err = run(capsys, *argv)
        assert code == 1
        assert out == ""
        (line,) = err.splitlines()
        assert line.startswith(f"tramlix: error: {source}: ")
        assert message in line


def test_info_text(capsys, run_gpx):
    code, out, err = run(capsys, "info", run_gpx)
    assert (code, err) == (0, "")
    lines = out.splitlines()
    assert lines[0] == str(run_gpx)
    assert lines[1].strip() == "activity 1 of 1"
    rows = dict(line.strip().split("  ", 1) for line in lines[2:])
    rows = {label.strip(): value.strip() for label, value in rows.items()}
    activity = tramlix.load(run_gpx).activities[0]
    assert rows["sport"] == "running"
    assert rows["name"] == "Morning Run"
    assert rows["start"] == "2024-05-01 06:30:00 UTC"
    assert rows["end"] == "2024-05-01 07:30:00 UTC"
    assert rows["duration"] == "1:00:00"
    assert rows["distance"] == f"{activity.distance_meters / 1000:.2f} km"
    assert rows["elevation gain"] == "6 m"
    assert rows["elevation loss"] == "2 m"
    assert rows["avg heart rate"] == "150 bpm"
    assert rows["max speed"].endswith(" km/h")
    assert rows["points"] == "3"
    assert rows["bounds"] == "lat 52.500000 to 52.520000, lon 13.400000 to 13.410000"
    # Values line up in one column.
    assert len({line.index(value) for line, value in zip(lines[2:], rows.values())}) == 1


def test_info_shows_absent_values(capsys, tmp_path):
    path = tmp_path / "bare.gpx"
    tramlix.ActivityFile([tramlix.Activity(segments=[tramlix.Segment()])]).save(path)
    code, out, _ = run(capsys, "info", path)
    assert code == 0
    rows = {line.split()[0]: line for line in out.splitlines()[2:]}
    for label in ("sport", "name", "start", "end", "duration", "bounds"):
        assert rows[label].split()[-1] == "-"
    assert "0.00 km" in out and "-0.00" not in out


def test_info_json(capsys, tmp_path, run_gpx):
    missing = tmp_path / "missing.gpx"
    code, out, err = run(capsys, "info", "--json", run_gpx, missing)
    assert code == 1
    (line,) = err.splitlines()
    assert line.startswith(f"tramlix: error: {missing}: cannot read or write")
    good, bad = json.loads(out)
    assert bad == {"path": str(missing), "error": line.split(": ", 3)[3], "activities": []}
    assert good["path"] == str(run_gpx)
    assert good["error"] is None
    (figures,) = good["activities"]
    activity = tramlix.load(run_gpx).activities[0]
    moving = activity.moving_data()
    assert figures == {
        "sport": "running",
        "name": "Morning Run",
        "start_time": "2024-05-01T06:30:00+00:00",
        "end_time": "2024-05-01T07:30:00+00:00",
        "duration_seconds": 3600.0,
        "distance_meters": activity.distance_meters,
        "moving_time_seconds": moving.moving_time_seconds,
        "stopped_time_seconds": moving.stopped_time_seconds,
        "elevation_gain_meters": 6.0,
        "elevation_loss_meters": 2.0,
        "average_heart_rate_bpm": 150.0,
        "max_speed_mps": moving.max_speed_mps,
        "point_count": 3,
        "bounds": {
            "min_latitude": 52.5,
            "max_latitude": 52.52,
            "min_longitude": 13.4,
            "max_longitude": 13.41,
        },
    }


def test_info_json_has_no_nan(capsys, tmp_path):
    path = tmp_path / "odd.gpx"
    point = tramlix.TrackPoint(latitude=float("nan"), longitude=1.0, elevation_m=float("inf"))
    tramlix.ActivityFile([tramlix.Activity(segments=[tramlix.Segment([point, point])])]).save(path)
    code, out, _ = run(capsys, "info", "--json", path)
    assert code == 0
    json.loads(out, parse_constant=lambda name: pytest.fail(f"{name} in JSON output"))


def test_json_export(capsys, run_gpx):
    code, out, err = run(capsys, "json", run_gpx)
    assert (code, err) == (0, "")
    assert out == tramlix.load(run_gpx).to_json() + "\n"
    json.loads(out)


@pytest.mark.parametrize(
    "argv",
    [
        [],
        ["frobnicate"],
        ["convert", "only-one"],
        ["convert", "a", "b", "c"],
        ["info"],
        ["json"],
        ["json", "a", "b"],
        ["info", "--yaml", "a"],
    ],
)
def test_usage_errors_exit_2(capsys, argv):
    with pytest.raises(SystemExit) as caught:
        main(argv)
    assert caught.value.code == 2
    out, err = capsys.readouterr()
    assert out == ""
    assert "usage: tramlix" in err


@pytest.mark.parametrize("argv", [[], ["convert"], ["info"], ["json"]])
def test_help(capsys, argv):
    with pytest.raises(SystemExit) as caught:
        main([*argv, "--help"])
    assert caught.value.code == 0
    out = capsys.readouterr().out
    assert out.startswith("usage: tramlix")
    assert "example" in out
    for word in ("FIT", "GPX", "TCX"):
        assert word in out


def test_version(capsys):
    with pytest.raises(SystemExit) as caught:
        main(["--version"])
    assert caught.value.code == 0
    assert capsys.readouterr().out == "tramlix 0.1.0\n"


def test_as_a_process_errors_are_one_line_without_traceback(tmp_path, run_gpx):
    result = run_process("info", run_gpx, tmp_path / "missing.fit")
    assert result.returncode == 1
    assert "Morning Run" in result.stdout
    assert "Traceback" not in result.stderr
    assert result.stderr.splitlines() == [
        f"tramlix: error: {tmp_path / 'missing.fit'}: cannot read or write "
        f"{tmp_path / 'missing.fit'}: No such file or directory"
    ]
    usage = run_process("convert")
    assert usage.returncode == 2
    assert "Traceback" not in usage.stderr
    assert run_process("--version").stdout == "tramlix 0.1.0\n"


def test_a_closed_pipe_is_not_a_traceback(tmp_path):
    path = tmp_path / "big.gpx"
    path.write_bytes(big_gpx(3000))
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    producer = subprocess.Popen(
        [sys.executable, "-m", "tramlix", "json", str(path)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=env,
    )
    producer.stdout.read(10)
    producer.stdout.close()
    _, err = producer.communicate(timeout=120)
    assert err == b""
