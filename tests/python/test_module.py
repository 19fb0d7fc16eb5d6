"""The module's surface: attributes, the exception class, signatures and class behaviour."""

from __future__ import annotations

import copy
import importlib
import inspect
import os
import pickle
import subprocess
import sys
import textwrap

import pytest

import tramlix
from tramlix import (
    Activity,
    ActivityFile,
    ActivitySummary,
    Bounds,
    DeviceInfo,
    ElevationGain,
    MovingData,
    Segment,
    TrackPoint,
    TramlixError,
    _tramlix,
)

NAMES = [
    "__version__",
    "TramlixError",
    "TrackPoint",
    "Segment",
    "ActivitySummary",
    "DeviceInfo",
    "ElevationGain",
    "MovingData",
    "Bounds",
    "Activity",
    "ActivityFile",
    "load",
    "loads",
    "convert",
]


def test_module_attributes_in_order():
    assert _tramlix.__all__ == NAMES
    assert tramlix.__all__ == NAMES
    for name in NAMES:
        assert getattr(tramlix, name) is getattr(_tramlix, name)
    assert _tramlix.__version__ == "0.1.0"
    assert tramlix.__version__ == "0.1.0"
    assert _tramlix.__doc__ is None


def test_tramlix_error_class():
    assert TramlixError.__bases__ == (ValueError,)
    assert TramlixError.__module__ == "_tramlix"
    assert TramlixError.__qualname__ == "TramlixError"
    assert TramlixError.__doc__ is None
    with pytest.raises(ValueError) as caught:
        tramlix.loads(b"")
    assert type(caught.value) is TramlixError
    assert caught.value.args == (
        "unsupported or unrecognized activity format: "
        "content is not recognizable as GPX, TCX, or FIT",
    )


def test_reimport_gives_the_same_module():
    original = sys.modules.pop("tramlix._tramlix")
    try:
        again = importlib.import_module("tramlix._tramlix")
        assert again is original
        # Registration did not run a second time.
        assert again.__all__ == NAMES
        assert again.TramlixError is TramlixError
        assert again.TrackPoint is TrackPoint
        importlib.reload(again)
        assert again.__all__ == NAMES
    finally:
        sys.modules["tramlix._tramlix"] = original


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_sub_interpreters_are_refused(config):
    # Run in a child: a sub-interpreter that got hold of the module would share its types.
    script = textwrap.dedent(
        f"""
        import sys
        import tramlix
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters
        if hasattr(interpreters, "new_config"):
            interp = interpreters.create(interpreters.new_config({config!r}))
        else:
            interp = interpreters.create(isolated={config == "isolated"})
        code = (
            "import sys\\n"
            f"sys.path[:0] = {{sys.path!r}}\\n"
            "try:\\n"
            "    import tramlix._tramlix\\n"
            "    print('imported')\\n"
            "except ImportError as error:\\n"
            "    print('ImportError:', error)\\n"
        )
        interpreters.run_string(interp, code)
        interpreters.destroy(interp)
        """
    )
    probe = "import _interpreters" if sys.version_info >= (3, 13) else "import _xxsubinterpreters"
    if subprocess.run([sys.executable, "-c", probe], capture_output=True).returncode:
        pytest.skip("this interpreter has no sub-interpreter module")
    result = subprocess.run(
        [sys.executable, "-c", script],
        capture_output=True,
        text=True,
        timeout=120,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("ImportError:"), result.stdout
    assert "interpreters" in result.stdout


SIGNATURES = [
    (tramlix.load, "(path)"),
    (tramlix.loads, "(data, format=None)"),
    (tramlix.convert, "(input, output)"),
    (
        TrackPoint,
        "(*, time=None, latitude=None, longitude=None, elevation_m=None, distance_m=None, "
        "heart_rate_bpm=None, cadence_rpm=None, speed_mps=None, power_watts=None, "
        "temperature_c=None)",
    ),
    (Segment, "(points=...)"),
    (
        ActivitySummary,
        "(*, total_elapsed_seconds=None, total_timer_seconds=None, total_moving_seconds=None, "
        "total_distance_meters=None, average_speed_mps=None, average_heart_rate_bpm=None, "
        "total_ascent_meters=None, total_descent_meters=None)",
    ),
    (
        DeviceInfo,
        "(*, manufacturer=None, manufacturer_id=None, product=None, product_id=None, "
        "product_name=None, serial_number=None, software_version=None, device_index=None, "
        "source_type=None)",
    ),
    (
        Activity,
        "(*, name=None, sport=None, sub_sport=None, start_time=None, summary=None, segments=...)",
    ),
    (ActivityFile, "(activities=..., *, creator=None, device_info=None)"),
    (Activity.moving_data, "($self, stopped_speed_kph=1.0)"),
    (Activity.simplified, "($self, max_distance_m=10.0)"),
    (ActivityFile.to_bytes, "($self, format)"),
    (ActivityFile.to_gpx, "($self)"),
    (ActivityFile.to_tcx, "($self)"),
    (ActivityFile.to_fit, "($self)"),
    (ActivityFile.with_device_info, "($self, device_info)"),
    (ActivityFile.save, "($self, path)"),
    (ActivityFile.to_json, "($self)"),
    (ActivityFile.simplified, "($self, max_distance_m=10.0)"),
]


@pytest.mark.parametrize(
    ("target", "text"), SIGNATURES, ids=lambda v: getattr(v, "__qualname__", "")
)
def test_text_signatures(target, text):
    assert target.__text_signature__ == text
    # The text signature is the whole docstring: nothing is left once it is taken off.
    assert not target.__doc__
    shown = str(inspect.signature(target))
    expected = text.replace("$self, ", "self, /, ").replace("($self)", "(self, /)")
    assert shown == expected.replace("=...", "=Ellipsis")


def test_bound_method_signatures():
    assert str(inspect.signature(Activity().moving_data)) == "(stopped_speed_kph=1.0)"
    assert str(inspect.signature(ActivityFile().save)) == "(path)"


def test_functions_accept_keywords():
    with pytest.raises(OSError):
        tramlix.load(path="/nonexistent/x.gpx")
    with pytest.raises(TramlixError, match="kml$"):
        tramlix.loads(data=b"", format="kml")
    with pytest.raises(TypeError):
        tramlix.load()
    with pytest.raises(TypeError):
        tramlix.load("a", "b")
    with pytest.raises(TypeError):
        tramlix.loads(b"", "gpx", path="x")


def _bounded_activity() -> Activity:
    return Activity(segments=[Segment([TrackPoint(latitude=1.0, longitude=2.0)])])


# Each class with a way to get an instance and one of its properties.
INSTANCES = [
    (TrackPoint, lambda: TrackPoint(latitude=1.0), "latitude"),
    (Segment, lambda: Segment(), "points"),
    (ActivitySummary, lambda: ActivitySummary(), "total_timer_seconds"),
    (DeviceInfo, lambda: DeviceInfo(), "manufacturer"),
    (ElevationGain, lambda: Activity().elevation_gain, "uphill_meters"),
    (MovingData, lambda: Activity().moving_data(), "max_speed_mps"),
    (Bounds, lambda: _bounded_activity().bounds, "min_latitude"),
    (Activity, lambda: Activity(), "name"),
    (ActivityFile, lambda: ActivityFile(), "creator"),
]


@pytest.mark.parametrize(
    ("cls", "make", "prop"), INSTANCES, ids=lambda v: getattr(v, "__name__", "")
)
def test_value_classes_are_immutable_final_plain_objects(cls, make, prop):
    assert cls.__module__ == "tramlix"
    assert cls.__qualname__ == cls.__name__
    obj = make()
    assert type(obj) is cls
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        setattr(obj, prop, getattr(obj, prop))
    with pytest.raises(AttributeError):
        delattr(obj, prop)
    with pytest.raises(AttributeError):
        obj.extra = 1
    # Identity semantics: no equality, ordering or hashing of their own.
    other = make()
    assert obj == obj
    assert obj != other
    assert hash(obj) != hash(other)
    with pytest.raises(TypeError):
        _ = obj < other
    # No pickling support: refusing beats producing a half-made object.
    with pytest.raises(TypeError):
        pickle.dumps(obj)
    with pytest.raises(TypeError):
        copy.copy(obj)


@pytest.mark.parametrize("cls", [MovingData, ElevationGain, Bounds])
def test_result_classes_cannot_be_constructed(cls):
    with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}"):
        cls()
    with pytest.raises(TypeError, match="^No constructor defined for"):
        cls.__new__(cls)
    assert cls.__doc__ is None


def test_init_cannot_change_a_constructed_object():
    point = TrackPoint(latitude=1.0)
    point.__init__(latitude=2.0)
    assert point.latitude == 1.0


def test_stub_matches_module(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed")
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "tramlix"],
        capture_output=True,
        text=True,
        timeout=600,
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_stub_type_checks_typical_use(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed")
    use = tmp_path / "use.py"
    use.write_text(
        textwrap.dedent(
            """
            import datetime
            import pathlib
            import tramlix

            point = tramlix.TrackPoint(time=datetime.datetime.now(), latitude=1, heart_rate_bpm=60)
            segment = tramlix.Segment((point,))
            activity = tramlix.Activity(segments=[segment], start_time="2024-05-01T00:00:00Z")
            file = tramlix.ActivityFile([activity], creator="me")
            moving: float = activity.moving_data(2).moving_time_seconds
            bounds = activity.bounds
            south: float | None = bounds.min_latitude if bounds else None
            data: bytes = file.to_gpx()
            again: tramlix.ActivityFile = tramlix.loads(data, format="gpx")
            tramlix.convert(pathlib.Path("a.fit"), "b.gpx")
            try:
                tramlix.load("missing.gpx")
            except tramlix.TramlixError as error:
                message: str = error.args[0]
            """
        )
    )
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(use)],
        capture_output=True,
        text=True,
        timeout=600,
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stdout + result.stderr
