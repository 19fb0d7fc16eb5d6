"""tramlix.dask on a real cluster: two worker processes make the partitions."""

import gzip

import pytest
from conftest import RUN_GPX, gpx

import tramlix

dd = pytest.importorskip("dask.dataframe", reason="dask is not installed (tramlix[dask])")
distributed = pytest.importorskip(
    "distributed", reason="distributed is not installed (tramlix[dask])"
)
pd = pytest.importorskip("pandas")

import tramlix.dask  # noqa: E402  (after the skips: it needs nothing, but its functions do)


@pytest.fixture(scope="module")
def client():
    with (
        distributed.LocalCluster(
            n_workers=2, processes=True, threads_per_worker=1, dashboard_address=":0"
        ) as cluster,
        distributed.Client(cluster) as connected,
    ):
        yield connected


@pytest.fixture
def history(tmp_path):
    folder = tmp_path / "history"
    folder.mkdir()
    for i in range(7):
        (folder / f"run{i}.gpx").write_bytes(gpx(10 + i, f"Run {i}"))
    (folder / "ride.fit.gz").write_bytes(gzip.compress(tramlix.loads(gpx(30)).to_fit()))
    (folder / "broken.tcx").write_bytes(b"<TrainingCenterDatabase><Activities>")
    return folder


def same_frames(got, want) -> None:
    """Equal values and nulls, whatever string type each side chose."""
    assert list(got.columns) == list(want.columns)
    assert len(got) == len(want)
    for column in want.columns:
        assert got[column].isna().tolist() == want[column].isna().tolist(), column
        kept = want[column].notna()
        assert got[column][kept].tolist() == want[column][kept].tolist(), column


def test_summaries_on_the_cluster_equal_summaries(client, history):
    frame = tramlix.dask.read_summaries(history, files_per_partition=3)
    assert frame.npartitions == 3
    got = frame.compute().reset_index(drop=True)
    want = tramlix.summaries(history).to_pandas()
    same_frames(got, want)
    assert got["error"].notna().sum() == 1 and got["name"].tolist()[2] == "Run 0"


def test_points_on_the_cluster_equal_points(client, history):
    (history / "broken.tcx").unlink()
    got = tramlix.dask.read_points(history, files_per_partition=4).compute().reset_index(drop=True)
    want = tramlix.points(history).to_pandas()
    got["source"] = got["source"].astype(str)
    want["source"] = want["source"].astype(str)
    same_frames(got, want)


def test_urls_are_read_through_fsspec_on_the_workers(client, history, tmp_path):
    pytest.importorskip("fsspec")
    (tmp_path / "lone.gpx").write_bytes(RUN_GPX)
    sources = [
        f"file://{history}",
        f"file://{tmp_path / 'lone.gpx'}",
        f"file://{tmp_path / 'no.gpx'}",
    ]
    got = tramlix.dask.read_summaries(sources, files_per_partition=4).compute()
    got = got.reset_index(drop=True)
    want = tramlix.summaries([history, tmp_path / "lone.gpx"]).to_pandas()
    assert [s.removeprefix("file://") for s in got["source"][:-1]] == want["source"].tolist()
    same_frames(got.drop(columns="source")[:-1], want.drop(columns="source"))
    assert got["source"].iloc[-1].endswith("no.gpx") and "no.gpx" in got["error"].iloc[-1]
    with pytest.raises(FileNotFoundError):
        tramlix.dask.read_points(sources[1:], files_per_partition=4).compute()
