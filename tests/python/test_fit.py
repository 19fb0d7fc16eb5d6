"""FIT activities of the corpus against garmin-fit-sdk, used as a black-box peer decoder."""

from operator import attrgetter

import pytest
from conftest import CORPUS
from fit_peer import Decoder, our_view, peer_view

import tramlix

FIT = CORPUS / "fit"


@pytest.mark.skipif(Decoder is None, reason="garmin-fit-sdk is not installed")
@pytest.mark.parametrize("path", sorted(FIT.rglob("*.[fF][iI][tT]")), ids=lambda p: p.name)
def test_activities_match_the_peer(path):
    activities, device, errors = peer_view(path)
    if errors:  # the invalid/ files, and compressed timestamps: see below
        pytest.skip(f"the peer cannot decode this file: {errors[0]}")
    if not activities:
        message = "^invalid FIT data: no record messages found$"
        with pytest.raises(tramlix.TramlixError, match=message):
            tramlix.load(path)
    else:
        file = tramlix.load(path)
        assert our_view(file) == activities
        ours = file.device_info
        got = {n: getattr(ours, n) for n in device}
        if "manufacturer" in device:  # one we know by number only, the peer gives as a number
            got["manufacturer"] = ours.manufacturer or ours.manufacturer_id
        assert got == device


# The peer stops at compressed timestamp headers, so these two were checked by hand against a
# byte-level walk of the records. Their session stands before the records, and their records
# are defined without field 253: the compressed header alone times them.
HAND_CHECKED = {
    "antfs-dump.63.fit": {
        "point_count": 686, "sport": "running", "start_time": "1990-07-09T07:00:41+00:00",
        "0.time": "1990-07-09T07:00:42+00:00", "685.time": "1990-07-09T07:57:47+00:00",
        "685.heart_rate_bpm": 115, "summary.total_elapsed_seconds": 3426.898,
        "summary.total_distance_meters": None, "summary.average_heart_rate_bpm": 162.0,
    },
    "compressed-speed-distance.fit": {
        "point_count": 755, "sport": "running", "start_time": "1990-07-18T06:44:24+00:00",
        "0.time": "1990-07-18T06:44:24+00:00", "754.time": "1990-07-18T07:49:04+00:00",
        "754.heart_rate_bpm": 118, "summary.total_timer_seconds": 3772.75,
        "summary.total_distance_meters": 10248.67, "summary.average_speed_mps": 2.735,
        # 12-bit speed in 1/100 m/s, 12-bit distance in 1/16 m accumulated over wraparounds.
        "1.speed_mps": 3.54, "2.distance_m": 14.25, "754.distance_m": 10248.6875,
    },
}  # fmt: skip


@pytest.mark.skipif(not FIT.is_dir(), reason=f"no corpus at {FIT}")
@pytest.mark.parametrize("name", HAND_CHECKED)
def test_files_the_peer_cannot_read(name):
    (activity,) = tramlix.load(FIT / name).activities
    (segment,) = activity.segments
    for key, want in HAND_CHECKED[name].items():
        index, _, attribute = key.partition(".") if key[0].isdigit() else ("", "", key)
        got = attrgetter(attribute)(segment.points[int(index)] if index else activity)
        assert got == (pytest.approx(want, abs=1e-12) if isinstance(want, float) else want), key
