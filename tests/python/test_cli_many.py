"""The command line on many files: info and convert on folders and archives, convert into a
folder, table, and the progress bar."""

import csv
import gzip
import io
import sys
import zipfile

import pytest
from conftest import RUN_GPX, blames, gpx, run

import tramlix


@pytest.fixture
def rides(tmp_path):
    """Two good files in a folder with a damaged one and a text file, and a zip of one more."""
    folder = tmp_path / "rides"
    (folder / "sub").mkdir(parents=True)
    (folder / "a.fit").write_bytes(tramlix.loads(gpx(20, "Ride")).to_fit())
    (folder / "sub" / "b.gpx.gz").write_bytes(gzip.compress(RUN_GPX))
    (folder / "sub" / "cut.tcx").write_bytes(tramlix.loads(RUN_GPX).to_tcx()[:300])
    (folder / "notes.txt").write_text("ignored")
    with zipfile.ZipFile(tmp_path / "export.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("activities/c.tcx", tramlix.loads(gpx(5, "Walk")).to_tcx())
    return folder


def test_info_reports_every_file_of_folders_and_archives_in_order(capsys, rides, tmp_path):
    code, out, err = run(capsys, "info", "-j", "2", rides, tmp_path / "export.zip")
    assert code == 1
    assert blames(err, rides / "sub" / "cut.tcx", "invalid TCX data")
    headers = [line for line in out.splitlines() if not line.startswith(" ") and line]
    assert headers == [
        f"{rides}/a.fit",
        f"{rides}/sub/b.gpx.gz",
        f"{tmp_path}/export.zip/activities/c.tcx",
    ]
    assert "Ride" in out and "Morning Run" in out and "Walk" in out
    # The same figures as for the one file alone.
    code, alone, _ = run(capsys, "info", rides / "a.fit")
    assert alone in out


def test_info_warns_of_a_source_without_activity_files(capsys, tmp_path):
    (tmp_path / "empty").mkdir()
    code, out, err = run(capsys, "info", "--json", tmp_path / "empty")
    assert (code, out) == (0, "[]\n")
    assert err == f"tramlix: warning: {tmp_path / 'empty'}: no FIT, GPX or TCX files found in it\n"


def test_convert_many_into_a_folder(capsys, rides, tmp_path):
    (rides / "sub" / "a.gpx").write_bytes(RUN_GPX)  # would be written to out/a.gpx again
    out_dir = tmp_path / "out" / "new"
    code, out, err = run(
        capsys, "convert", rides, tmp_path / "export.zip", "--to", "GPX", "-o", out_dir
    )
    assert code == 1
    assert sorted(p.name for p in out_dir.iterdir()) == ["a.gpx", "b.gpx", "c.gpx"]
    assert (out_dir / "a.gpx").read_bytes() == tramlix.load(rides / "a.fit").to_gpx()
    assert (out_dir / "b.gpx").read_bytes() == tramlix.loads(RUN_GPX).to_gpx()
    lines = err.splitlines()
    assert len(lines) == 2
    assert blames(lines[0] + "\n", rides / "sub" / "a.gpx", f"{out_dir}/a.gpx was written from")
    assert blames(lines[1] + "\n", rides / "sub" / "cut.tcx", "invalid TCX data")
    assert out == f"converted 3 of 5 files to GPX in {out_dir}; 2 failed\n"


def test_convert_many_gzip_and_a_quiet_success(capsys, rides, tmp_path):
    (rides / "sub" / "cut.tcx").unlink()
    code, out, err = run(
        capsys, "convert", rides, "--to", "tcx", "--gzip", "-o", tmp_path / "o", "--no-progress"
    )
    assert (code, err) == (0, "")
    assert out == f"converted 2 of 2 files to TCX in {tmp_path / 'o'}\n"
    written = tramlix.load(tmp_path / "o" / "b.tcx.gz")
    assert written.to_json() == tramlix.loads(tramlix.loads(RUN_GPX).to_tcx()).to_json()
    assert gzip.decompress((tmp_path / "o" / "a.tcx.gz").read_bytes()).startswith(b"<?xml")


@pytest.mark.parametrize(
    "argv",
    [["convert", "a", "b", "c"], ["convert", "a", "--to", "gpx"], ["convert", "a", "-o", "x"],
     ["convert", "--gzip", "a", "b.gpx"], ["convert", "a", "--to", "kml", "-o", "x"],
     ["info", "-j", "0", "a"], ["table", "a"], ["table", "a", "-o", "out.xlsx"],
     ["table", "--help"], ["convert", "--help"]],
)  # fmt: skip
def test_usage_errors_and_help(capsys, argv):
    with pytest.raises(SystemExit) as caught:
        tramlix.cli.main(argv)
    out, err = capsys.readouterr()
    if "--help" in argv:
        assert (caught.value.code, err) == (0, "") and out.startswith("usage: tramlix")
    else:
        assert (caught.value.code, out) == (2, "") and "usage: tramlix" in err


def test_table_summaries_as_csv(capsys, rides, tmp_path):
    target = tmp_path / "activities.csv"
    code, out, err = run(
        capsys, "table", "--summaries", rides, tmp_path / "export.zip", "-o", target
    )
    assert (code, out) == (1, "") and blames(err, rides / "sub" / "cut.tcx", "invalid TCX data")
    rows = list(csv.DictReader(io.StringIO(target.read_text())))
    assert [row["source"] for row in rows] == [
        f"{rides}/a.fit", f"{rides}/sub/b.gpx.gz", f"{rides}/sub/cut.tcx",
        f"{tmp_path}/export.zip/activities/c.tcx",
    ]  # fmt: skip
    run_row, failed = rows[1], rows[2]
    assert run_row["name"] == "Morning Run" and run_row["error"] == ""
    assert run_row["start_time"] == "2024-05-01T00:00:00.125Z"
    assert run_row["distance_meters"] == "3001.0" and run_row["points"] == "3"
    assert failed["error"].startswith("invalid TCX data")
    assert all(failed[c] == "" for c in failed if c not in ("source", "error"))


def test_table_points_in_every_format(capsys, rides, tmp_path):
    pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed")
    import pyarrow.feather
    import pyarrow.parquet

    (rides / "sub" / "cut.tcx").unlink()
    want = pa.table(tramlix.points(rides))
    readers = {"p.parquet": pyarrow.parquet.read_table, "p.feather": pyarrow.feather.read_table,
               "p.ARROW": pyarrow.feather.read_table}  # fmt: skip
    for name, read in readers.items():
        assert run(capsys, "table", rides, "-o", tmp_path / name) == (0, "", "")
        assert read(tmp_path / name).equals(want), name
    assert run(capsys, "table", rides, "-o", tmp_path / "p.csv") == (0, "", "")
    lines = (tmp_path / "p.csv").read_text().splitlines()
    assert lines[0] == ",".join(want.column_names) and len(lines) == 1 + want.num_rows
    p = tramlix.load(rides / "a.fit").activities[0].segments[0].points[0]
    values = (p.latitude, p.longitude, p.elevation_m, p.distance_m, p.heart_rate_bpm)
    time = p.time.replace("+00:00", "Z")
    assert lines[1] == f"{rides}/a.fit,0,0,{time},{','.join(map(repr, values))},,,,"
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.startswith(".")) == []


def test_table_names_the_extra_when_pyarrow_is_missing(capsys, monkeypatch, rides, tmp_path):
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    code, out, err = run(capsys, "table", rides, "-o", tmp_path / "p.parquet")
    assert (code, out) == (1, "")
    assert err == (
        f"tramlix: error: {tmp_path / 'p.parquet'}: writing .parquet needs pyarrow: "
        "pip install 'tramlix[pandas]'\n"
    )
    assert not (tmp_path / "p.parquet").exists()


class Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


@pytest.mark.parametrize("tqdm_installed", [True, False])
def test_a_terminal_gets_a_progress_bar_unless_told_not_to(
    monkeypatch, rides, tmp_path, tqdm_installed
):
    if tqdm_installed:
        pytest.importorskip("tqdm", reason="tqdm is not installed")
    else:
        monkeypatch.setitem(sys.modules, "tqdm", None)
    (rides / "sub" / "cut.tcx").unlink()
    screen = Terminal()
    monkeypatch.setattr(sys, "stderr", screen)
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    assert tramlix.cli.main(["info", str(rides)]) == 0
    assert ("2/2" if tqdm_installed else "2 of 2 files") in screen.getvalue()
    for argv in (["info", "--no-progress", str(rides)], ["info", str(rides / "a.fit")]):
        screen.seek(0), screen.truncate()
        assert tramlix.cli.main(argv) == 0
        assert screen.getvalue() == ""  # silenced, or only one file


def test_as_a_process(rides, tmp_path):
    import os
    import subprocess

    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    command = [sys.executable, "-m", "tramlix", "table", "--summaries", str(rides), "-j", "2"]
    result = subprocess.run(
        [*command, "-o", str(tmp_path / "a.csv")], capture_output=True, text=True, env=env
    )
    assert result.returncode == 1 and result.stdout == ""
    assert result.stderr.startswith(f"tramlix: error: {rides}/sub/cut.tcx: invalid TCX data")
    assert len((tmp_path / "a.csv").read_text().splitlines()) == 4  # header, 2 activities, error
