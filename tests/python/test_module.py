"""The module's surface: attributes, the exception class, signatures and class behaviour."""

import importlib
import importlib.metadata
import inspect
import os
import pickle
import subprocess
import sys

import pytest
from conftest import POINT_FIELDS, RUN_GPX

import tramlix
from tramlix import Activity, ActivityFile, Segment, TrackPoint, _tramlix

NAMES = ("__version__ TramlixError TrackPoint Segment ActivitySummary DeviceInfo ElevationGain "
         "MovingData Bounds Activity ActivityFile load loads convert").split()  # fmt: skip


def test_module_attributes_and_error_class():
    # recover, Table, the stats classes, laps and splits are the package's, not in the module's
    # fixed list; the functions for many files are the package's own, and fit is its module.
    extra = ["recover", "Table", "ChannelStats", "ActivityStats", "laps", "splits"]
    many = ["load_many", "summaries", "points"]
    assert (_tramlix.__all__, tramlix.__all__) == (NAMES, [*NAMES, *extra, *many, "fit"])
    assert all(getattr(tramlix, n) is getattr(_tramlix, n) for n in [*NAMES, *extra])
    assert not any(hasattr(_tramlix, name) for name in many)
    assert tramlix.fit.__all__ == ["messages", "iter_messages"]
    assert (tramlix.__version__, _tramlix.__doc__) == ("0.1.0", None)
    # The module and the package metadata each state the version; they must agree.
    assert importlib.metadata.version("tramlix") == tramlix.__version__
    error = tramlix.TramlixError
    assert (error.__bases__, error.__module__, error.__qualname__, error.__doc__) == (
        (ValueError,), "_tramlix", "TramlixError", None)  # fmt: skip


def test_reimport_gives_the_same_module():
    original = sys.modules.pop("tramlix._tramlix")
    try:
        again = importlib.reload(importlib.import_module("tramlix._tramlix"))
        # Registration did not run a second time.
        assert again is original and again.__all__ == NAMES and again.TrackPoint is TrackPoint
    finally:
        sys.modules["tramlix._tramlix"] = original


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_sub_interpreters_are_refused(config):
    if sys.version_info >= (3, 13):
        name, create = "_interpreters", f"create(sub.new_config({config!r}))"
    else:
        name, create = "_xxsubinterpreters", f"create(isolated={config == 'isolated'})"
    # In a child: a sub-interpreter that got hold of the module would share its types.
    inner = "try:\n import tramlix._tramlix\nexcept ImportError as error:\n print(error)"
    script = f"import tramlix, {name} as sub\nsub.run_string(sub.{create}, {inner!r})"
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    command = [sys.executable, "-c", script]
    run = subprocess.run(command, capture_output=True, text=True, timeout=120, env=env)
    assert run.returncode == 0, run.stderr
    assert "does not support" in run.stdout and "interpreters" in run.stdout, run.stdout


def properties(cls: type) -> list[str]:
    return [n for n, v in vars(cls).items() if inspect.isdatadescriptor(v) and n[0] != "_"]


def keywords(names: list[str]) -> str:
    return "(*, " + ", ".join(f"{name}=None" for name in names) + ")"


SIGNATURES = [
    (tramlix.load, "(path)"),
    (tramlix.loads, "(data, format=None)"),
    (tramlix.convert, "(input, output)"),
    (tramlix.recover, "(source)"),
    (TrackPoint, keywords(POINT_FIELDS)),
    (Segment, "(points=...)"),
    # The records take their properties, in order, as keyword-only arguments.
    (tramlix.ActivitySummary, keywords(properties(tramlix.ActivitySummary))),
    (tramlix.DeviceInfo, keywords(properties(tramlix.DeviceInfo))),
    (Activity, "(*, name=None, sport=None, sub_sport=None, start_time=None, summary=None, "
               "segments=...)"),
    (ActivityFile, "(activities=..., *, creator=None, device_info=None)"),
    (Activity.moving_data, "($self, stopped_speed_kph=1.0)"),
    *[(cls.simplified, "($self, max_distance_m=10.0)") for cls in (Activity, ActivityFile)],
    (ActivityFile.to_bytes, "($self, format)"),
    (ActivityFile.with_device_info, "($self, device_info)"),
    (ActivityFile.save, "($self, path)"),
    *[(getattr(ActivityFile, m), "($self)") for m in ("to_gpx", "to_tcx", "to_fit", "to_json")],
    *[(cls.to_arrow, "($self)") for cls in (Activity, ActivityFile)],
    (tramlix.Table.__arrow_c_stream__, "($self, requested_schema=None)"),
    (tramlix.Table.to_pandas, "($self, **kwargs)"),
    *[
        (getattr(tramlix.Table, m), "($self)")
        for m in ("__arrow_c_schema__", "to_pyarrow", "to_polars")
    ],
]  # fmt: skip


@pytest.mark.parametrize("target, text", SIGNATURES, ids=[t.__qualname__ for t, _ in SIGNATURES])
def test_text_signatures(target, text):
    assert target.__text_signature__ == text
    assert not target.__doc__  # the signature is the whole docstring
    shown = text.replace("$self, ", "self, /, ").replace("($self)", "(self, /)")
    assert str(inspect.signature(target)) == shown.replace("=...", "=Ellipsis")


INSTANCES = {
    TrackPoint: lambda: TrackPoint(latitude=1.0),
    tramlix.ElevationGain: lambda: Activity().elevation_gain,
    tramlix.MovingData: lambda: Activity().moving_data(),
    tramlix.Bounds: lambda: tramlix.loads(RUN_GPX).activities[0].bounds,
}


@pytest.mark.parametrize("cls", [getattr(tramlix, name) for name in NAMES[2:11]], ids=NAMES[2:11])
def test_value_classes_are_immutable_final_plain_objects(cls):
    assert (cls.__module__, cls.__qualname__) == ("tramlix", cls.__name__)
    obj, other = INSTANCES.get(cls, cls)(), INSTANCES.get(cls, cls)()
    assert type(obj) is cls and not hasattr(obj, "__dict__")
    prop = properties(cls)[0]
    for change in (lambda: setattr(obj, prop, None), lambda: delattr(obj, prop),
                   lambda: setattr(obj, "extra", 1)):  # fmt: skip
        with pytest.raises(AttributeError):
            change()
    # Identity semantics, no pickling (refusing beats a half-made object), no subclasses.
    assert obj == obj and obj != other and hash(obj) != hash(other)
    for refused in (lambda: obj < other, lambda: pickle.dumps(obj), lambda: type("S", (cls,), {})):
        with pytest.raises(TypeError):
            refused()
    for make in (cls, lambda: cls.__new__(cls)) if cls.__name__ in NAMES[6:9] else ():  # results
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            make()


def test_stub_matches_module(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed")
    command = [sys.executable, "-m", "mypy.stubtest", "tramlix"]
    run = subprocess.run(command, capture_output=True, text=True, timeout=600, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
