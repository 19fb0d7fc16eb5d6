"""gzip-compressed files: read by content everywhere, written for names ending in .gz."""

import gzip
import re
import zlib

import pytest
from conftest import RUN_GPX, blames, run

import tramlix
from tramlix import TramlixError

RUN = tramlix.loads(RUN_GPX)
PLAIN = {"gpx": RUN.to_gpx(), "tcx": RUN.to_tcx(), "fit": RUN.to_fit()}


@pytest.mark.parametrize("kind", PLAIN)
def test_compressed_files_read_and_write_like_plain_ones(tmp_path, kind):
    plain = PLAIN[kind]
    expected = tramlix.loads(plain).to_json()
    # Two members, as `cat a.gz b.gz` makes them; and a format named for the bytes inside.
    members = gzip.compress(plain[:100]) + gzip.compress(plain[100:])
    for data in (gzip.compress(plain), members):
        assert tramlix.loads(data).to_json() == expected
        assert tramlix.loads(data, kind).to_json() == expected

    # Any letter case of ".gz" after a known extension; what is inside is the plain writer's.
    written = tmp_path / f"out.{kind.upper()}.Gz"
    RUN.save(written)
    assert gzip.decompress(written.read_bytes()) == plain
    assert tramlix.load(written).to_json() == expected
    tramlix.convert(written, tmp_path / f"again.{kind}.gz")
    assert gzip.decompress((tmp_path / f"again.{kind}.gz").read_bytes()) == plain
    tramlix.convert(written, tmp_path / f"again.{kind}")
    assert (tmp_path / f"again.{kind}").read_bytes() == plain


GOOD = gzip.compress(RUN_GPX, mtime=0)
DAMAGED = {
    "cut short": (GOOD[:-3], "cut short: the stream ends before its end marker"),
    "wrong CRC": (GOOD[:-8] + bytes([GOOD[-8] ^ 0xFF]) + GOOD[-7:], "incorrect data check"),
    "trailing garbage": (GOOD + b"garbage", f"after the end of the stream, at offset {len(GOOD)}"),
    "compressed twice": (gzip.compress(GOOD), "the uncompressed data is gzip-compressed again"),
}


@pytest.mark.parametrize(("data", "message"), DAMAGED.values(), ids=DAMAGED.keys())
def test_damaged_streams_are_errors_naming_the_problem(capsys, tmp_path, data, message):
    with pytest.raises(TramlixError, match="^invalid gzip data: .*" + message):
        tramlix.loads(data)
    source = tmp_path / "in.gpx.gz"
    source.write_bytes(data)
    for argv in (["convert", source, tmp_path / "out.gpx"], ["info", source], ["json", source]):
        code, out, err = run(capsys, *argv)
        assert (code, out) == (1, "") and blames(err, source, message)
    assert [p.name for p in tmp_path.iterdir()] == ["in.gpx.gz"]


def test_output_names_without_a_format_before_gz_are_refused(tmp_path):
    for name, message in (("out.gz", "gz"), ("out.kml.gz", "kml")):
        with pytest.raises(TramlixError, match=f"activity format: {message}$"):
            RUN.save(tmp_path / name)
    assert list(tmp_path.iterdir()) == []


def test_cli_converts_and_summarises_compressed_files(capsys, tmp_path):
    source = tmp_path / "ride.fit.gz"
    source.write_bytes(gzip.compress(PLAIN["fit"]))
    assert run(capsys, "convert", source, tmp_path / "ride.tcx.gz") == (0, "", "")
    code, out, err = run(capsys, "info", tmp_path / "ride.tcx.gz")
    assert (code, err) == (0, "") and re.search(r"\n +points +3\n", out)


def test_a_zip_bomb_stops_at_one_gibibyte():
    # 17 members of 64 MiB of zeros each, 1088 MiB in all, from about a megabyte.
    member = zlib.compressobj(9, zlib.DEFLATED, 31)
    member = member.compress(bytes(64 << 20)) + member.flush()
    with pytest.raises(TramlixError, match="exceeds the limit of 1 GiB$"):
        tramlix.loads(member * 17)
