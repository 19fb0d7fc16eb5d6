"""Any model in, a valid document out: GPX and TCX that their published schemas accept, and a
FIT file that garmin-fit-sdk checks and decodes without an error, for models drawn without any
care for what the formats can carry (NaN and infinities, coordinates out of range, years 0 and
9999, leap seconds, duplicate times, empty segments and activities, control characters, texts
longer than FIT holds). What a writer leaves out is what ActivityFile.omissions() counts."""

import math
import shutil
import subprocess

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="hypothesis is not installed")

from conftest import CORPUS  # noqa: E402
from fit_peer import Decoder, Stream  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import times  # noqa: E402

import tramlix  # noqa: E402
from tramlix import (  # noqa: E402
    Activity,
    ActivityFile,
    ActivitySummary,
    DeviceInfo,
    Segment,
    TrackPoint,
)

SCHEMAS = {"gpx": CORPUS / "xsd" / "gpx-1.1.xsd",
           "tcx": CORPUS / "xsd" / "TrainingCenterDatabasev2.xsd"}  # fmt: skip

# Every float, but: GPX writes coordinates and elevations as xsd:decimal in full, and xmllint
# holds a decimal to 24 digits (a limit of the tool, not of the schema). So coordinates stay
# clear of the 1e-7 next to zero, and finite elevations within 1e-7 to 1e15 of it; NaN, the
# infinities and coordinates out of range are drawn all the same (the writers leave them out).
nonfinite = st.sampled_from([math.nan, math.inf, -math.inf])
anything = st.floats()
coordinates = st.floats().filter(lambda x: x == 0 or not abs(x) < 1e-7) | st.sampled_from(
    [90.0, -90.0, 180.0, -180.0, 90.000001, -180.000001]
)
elevations = nonfinite | st.floats(-1e15, 1e15).filter(lambda x: x == 0 or abs(x) >= 1e-7)
u8, u16, u32 = st.integers(0, 255), st.integers(0, 65535), st.integers(0, 2**32 - 1)
# Years 0 and 9999, leap seconds, times before the FIT epoch and past its 32-bit range.
odd_times = st.sampled_from(["0000-01-01T00:00:00Z", "0000-12-31T23:59:60Z",
                             "2016-12-31T23:59:60.5Z", "9999-12-31T23:59:59.999999999Z",
                             "1989-12-30T23:59:59Z", "2200-01-01T00:00:00Z"])  # fmt: skip
any_times = st.none() | times | odd_times
# Any text Python can encode: control characters, markup, long ones past FIT's 254 bytes.
texts = (
    st.none()
    | st.text(st.characters(blacklist_categories=("Cs",)), max_size=12)
    | st.text(st.characters(blacklist_categories=("Cs",)), min_size=240, max_size=300)
)
sports = texts | st.sampled_from(["multisport", "Running", "cycling", "biking"])
makers = st.sampled_from(["garmin", "dynastream", "favero_electronics", "wahoo_fitness", "nobody"])

points = st.builds(
    TrackPoint, time=any_times, latitude=st.none() | coordinates,
    longitude=st.none() | coordinates, elevation_m=st.none() | elevations,
    distance_m=st.none() | anything, heart_rate_bpm=st.none() | u16, cadence_rpm=st.none() | u16,
    speed_mps=st.none() | anything, power_watts=st.none() | u16,
    temperature_c=st.none() | st.integers(-32768, 32767),
)  # fmt: skip
summaries = st.builds(ActivitySummary, **{name: st.none() | anything for name in (
    "total_elapsed_seconds", "total_timer_seconds", "total_moving_seconds",
    "total_distance_meters", "average_speed_mps", "average_heart_rate_bpm",
    "total_ascent_meters", "total_descent_meters")})  # fmt: skip
activities = st.builds(
    Activity, name=texts, sport=sports, sub_sport=texts | st.just("road"), start_time=any_times,
    summary=summaries, segments=st.lists(st.lists(points, max_size=5).map(Segment), max_size=3),
)  # fmt: skip
devices = st.none() | st.builds(
    DeviceInfo, manufacturer=st.none() | makers | texts, manufacturer_id=st.none() | u16,
    product=st.none() | st.sampled_from(["fenix2", "edge200", "assioma_duo"]) | texts,
    product_id=st.none() | u16, product_name=texts, serial_number=st.none() | u32,
    software_version=st.none() | anything, device_index=st.none() | u8, source_type=texts,
)  # fmt: skip
files = st.builds(ActivityFile, st.lists(activities, max_size=4), creator=texts,
                  device_info=devices)  # fmt: skip


def xmllint(path, schema) -> str:
    check = subprocess.run(["xmllint", "--noout", "--nonet", "--schema", str(schema), str(path)],
                           capture_output=True, text=True)  # fmt: skip
    return "" if check.returncode == 0 else check.stderr


@pytest.fixture(scope="module")
def checkers():
    if not all(p.is_file() for p in SCHEMAS.values()) or shutil.which("xmllint") is None:
        pytest.skip("validation needs the corpus schemas and xmllint (libxml2-utils)")
    if Decoder is None:
        pytest.skip("garmin-fit-sdk is not installed (pip install garmin-fit-sdk==21.200.0)")


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(file=files)
def test_any_model_writes_valid_documents(checkers, tmp_path_factory, file):
    folder = tmp_path_factory.mktemp("any")
    points = file.point_count
    for fmt, point_tag, dropped in (("gpx", b"<trkpt ", "points_without_position"),
                                    ("tcx", b"<Trackpoint>", "points_without_time")):  # fmt: skip
        document = file.to_bytes(fmt)
        path = folder / f"out.{fmt}"
        path.write_bytes(document)
        assert xmllint(path, SCHEMAS[fmt]) == ""
        assert document.count(point_tag) == points - file.omissions(fmt).get(dropped, 0)
    data = file.to_fit()
    decoder = Decoder(Stream.from_byte_array(bytearray(data)))
    assert decoder.is_fit() and decoder.check_integrity()
    _, errors = Decoder(Stream.from_byte_array(bytearray(data))).read()
    assert errors == []
    # Every point is a record, so the file reads back whenever the model has a point.
    if points:
        assert tramlix.loads(data).point_count == points
    else:
        with pytest.raises(tramlix.TramlixError, match="no record messages found"):
            tramlix.loads(data)
