"""Pictures of activities: Activity.plot() and `tramlix plot`, rendered with matplotlib's Agg."""

import importlib.util
import struct
import sys
from pathlib import Path

import pytest
from conftest import run

import tramlix
from tramlix import Activity, Segment, TrackPoint

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "run.fit"
ACTIVITY = Activity(segments=[Segment([TrackPoint(time="2024-05-01T08:00:00Z", power_watts=1)])])


needs_matplotlib = pytest.mark.skipif(
    importlib.util.find_spec("matplotlib") is None,
    reason="matplotlib is not installed (pip install tramlix[plot])",
)


@pytest.fixture(scope="module")
def example() -> Activity:
    return tramlix.load(EXAMPLE).activities[0]


def test_plot_without_matplotlib_names_the_extra(monkeypatch, capsys, tmp_path, run_gpx):
    # As if it were not installed, even when an earlier test imported it.
    for name in [n for n in sys.modules if n == "matplotlib" or n.startswith("matplotlib.")]:
        monkeypatch.setitem(sys.modules, name, None)
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(ImportError, match=r"pip install 'tramlix\[plot\]'"):
        ACTIVITY.plot()
    code, out, err = run(capsys, "plot", run_gpx, "-o", tmp_path / "run.png")
    assert (code, out) == (1, "") and "tramlix[plot]" in err and err.count("\n") == 1
    assert not (tmp_path / "run.png").exists()


def png_size(path: Path) -> tuple[int, int]:
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", data[16:24])


def assert_not_blank(path: Path) -> None:
    import numpy as np
    from matplotlib.image import imread

    pixels = imread(path)[..., :3]
    drawn = (pixels < 0.95).any(axis=-1).mean()  # share of pixels that are not white
    colours = len(np.unique(pixels.reshape(-1, 3), axis=0))
    assert drawn > 0.05 and colours > 50, (drawn, colours)


@needs_matplotlib
def test_plot_draws_the_track_and_the_channels_it_has(example, tmp_path):
    from matplotlib.figure import Figure

    figure = example.plot()
    assert isinstance(figure, Figure)
    # The track, its colour bar, and elevation, heart rate and speed.
    labels = [axes.get_ylabel() for axes in figure.axes]
    assert labels == ["km north", "speed (km/h)", "elevation (m)", "heart rate (bpm)",
                      "speed (km/h)"]  # fmt: skip
    assert "Morning hill loop" in figure.get_suptitle()

    assert example.plot(tmp_path / "run.png") is None
    width, height = png_size(tmp_path / "run.png")
    assert (width, height) == tuple(round(v) for v in figure.get_size_inches() * figure.dpi)
    assert_not_blank(tmp_path / "run.png")
    example.plot(str(tmp_path / "run.svg"), color_by="heart_rate")
    assert b"<svg" in (tmp_path / "run.svg").read_bytes()[:1000]

    # No positions: no track; only heart rate: one panel against the point number.
    points = [TrackPoint(time=f"2024-05-01T08:00:0{i}Z", heart_rate_bpm=120 + i) for i in range(5)]
    indoor = Activity(segments=[Segment(points)]).plot()
    assert [axes.get_ylabel() for axes in indoor.axes] == ["heart rate (bpm)"]
    assert indoor.axes[-1].get_xlabel() == "point"
    Activity().plot(tmp_path / "empty.png")  # nothing to draw is still a picture
    assert png_size(tmp_path / "empty.png")[0] > 0
    with pytest.raises(ValueError, match="color_by"):
        example.plot(color_by="power")


@needs_matplotlib
def test_plot_command(capsys, tmp_path, run_gpx):
    code, out, err = run(capsys, "plot", EXAMPLE, "-o", tmp_path / "run.png")
    assert (code, out, err) == (0, "", "")
    assert_not_blank(tmp_path / "run.png")
    failures = [
        (["plot", run_gpx, "--activity", "2", "-o", tmp_path / "x.png"], run_gpx,
         "the file has 1 activity; --activity must be from 1 to 1"),
        (["plot", run_gpx, "-o", tmp_path / "x.unknown"], tmp_path / "x.unknown", "unknown"),
        (["plot", tmp_path / "missing.fit", "-o", tmp_path / "x.png"], tmp_path / "missing.fit",
         "cannot read"),
    ]  # fmt: skip
    for argv, blamed, message in failures:
        code, out, err = run(capsys, *argv)
        assert (code, out) == (1, "") and err.startswith(f"tramlix: error: {blamed}: "), err
        assert message in err and err.count("\n") == 1
    assert not (tmp_path / "x.png").exists()
