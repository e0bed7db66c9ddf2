"""Measurement jobs through libqz417model_c: the C++ tools on NumPy
profiles, on decoded packets and on whole recordings, and the job errors."""

from __future__ import annotations

import json
import os
import subprocess
import struct

import numpy as np
import pytest

import qz417link
from qz417link import Job, JobError, MeasureError, Scale, decode

JOB = {
    "format": "qz417-measure-job",
    "version": 1,
    "tools": [
        {"name": "step", "tool": "step", "regions": [{"x": [-35, -5]}, {"x": [5, 35]}],
         "limits": {"step": {"min": 0.5, "max": 1.3}}},
        {"name": "top", "tool": "height", "region": {"x": [10, 30]}},
        {"name": "vee", "tool": "angle", "regions": [{"x": [-30, -2]}, {"x": [2, 30]}]},
        {"name": "nothing", "tool": "height", "region": {"x": [100, 200]},
         "limits": {"count": {"min": 1}}},
    ],
}


@pytest.fixture
def job(tmp_path):
    path = tmp_path / "job.json"
    path.write_text(json.dumps(JOB))
    with Job.load(path) as j:
        yield j


def test_job_describes_its_tools(job):
    assert [t.name for t in job.tools] == ["step", "top", "vee", "nothing"]
    assert job.tools[0].kind == "step"
    assert job.tools[0].outputs == (("step", "mm"), ("x", "mm"))
    assert job.tools[0].limits == (qz417link.measure.Limit("step", 0.5, 1.3),)
    assert job.tools[3].limits[0].max is None
    assert qz417link.measure.format_version() == 1
    assert json.loads(job.to_json())["tools"][1]["region"] == {"x": [10.0, 30.0]}


def test_measures_numpy_arrays_with_nan_as_invalid(job):
    x = np.linspace(-40, 40, 1024)
    z = np.where(x > 0, 51.2, 50.0)
    z[::7] = np.nan  # invalid points
    z[3::50] += 9.0  # outliers, rejected by the line fit
    r = job.measure(x, z)
    assert r["step"].ok and r["step"].passed
    assert r["step"].values["step"] == pytest.approx(1.2, abs=1e-9)
    assert r["step"].limits == {"step": "pass"}
    assert r["top"].values["median"] == pytest.approx(51.2)
    assert r["top"].values["count"] == np.count_nonzero((x >= 10) & (x <= 30) & ~np.isnan(z))
    # No result: a reason, no values, and its limit counts as failed.
    assert not r["nothing"].ok
    assert r["nothing"].reason == "no valid points in the region"
    assert r["nothing"].values == {}
    assert r["nothing"].limits == {"count": "no result"}
    assert not r.passed
    # The same as a pair and as lists.
    assert job.measure((x, z))["step"].values == r["step"].values
    assert job.measure(list(x), list(z))["top"].values == r["top"].values
    with pytest.raises(ValueError):
        job.measure(x, z[:-1])


def test_v_groove_angle(job):
    x = np.linspace(-40, 40, 1024)
    z = 20.0 + np.abs(x - 1.0)  # 90 degrees, vertex at (1, 20)
    r = job.measure(x, z)
    assert r["vee"].values["angle"] == pytest.approx(90.0, abs=1e-6)
    assert r["vee"].values["x"] == pytest.approx(1.0, abs=1e-6)
    assert r["vee"].values["z"] == pytest.approx(20.0, abs=1e-6)


def step_packet(step: float, count: int = 0) -> bytes:
    head = struct.pack("<HH", count, 0)
    body = bytearray()
    for k in range(1024):
        x = -40.0 + 80.0 * k / 1023.0
        z = 50.0 + (step if x > 0 else 0.0)
        body += struct.pack("<hh", round(z * 16384 / 250), round(x * 16384 / 230))
    return head + bytes(body)


def test_measures_a_decoded_profile(job):
    profile = decode(step_packet(1.0), Scale())
    r = job.measure(profile)
    # Each level rounds to one raw Z value: the step is off by at most one unit.
    assert r["step"].values["step"] == pytest.approx(1.0, abs=250 / 16384)


def test_bad_jobs_name_the_entry(tmp_path):
    bad = dict(JOB, tools=[{"name": "w", "tool": "width", "region": {"x": [0, 1]}, "level": 0,
                             "limits": {"width": {"min": 3, "max": 2}}}])
    with pytest.raises(JobError, match=r'^tools\[0\] "w": limits.width: min 3 is above max 2$'):
        Job.parse(json.dumps(bad))
    with pytest.raises(JobError, match="unknown tool \"diameter\""):
        Job.parse(json.dumps(dict(JOB, tools=[{"tool": "diameter", "region": {"x": [0, 1]}}])))
    with pytest.raises(JobError, match="not a measurement job"):
        Job.parse("{}")
    path = tmp_path / "missing.json"
    with pytest.raises(JobError, match="missing.json: cannot be read"):
        Job.load(path)


@pytest.fixture
def recording(tmp_path):
    writer = os.environ.get("QZ417_MEASURE_RECORDING_WRITER")
    if not writer:
        pytest.skip("QZ417_MEASURE_RECORDING_WRITER is not set (ctest sets it)")
    path = tmp_path / "r.h5"
    subprocess.run([writer, str(path), "5"], check=True, timeout=60)
    return path


def test_measures_a_recording(job, recording):
    run = job.measure_recording(recording)
    assert len(run) == 5
    assert list(run.measurement_count) == [0, 1, 2, 3, 4]
    # Steps 1, 1.25, 1.5, 1.75, 2 mm against 0.5 .. 1.3.
    np.testing.assert_allclose(run.values["step"]["step"], [1.0, 1.25, 1.5, 1.75, 2.0], atol=250 / 16384)
    assert list(run.tool_passed["step"]) == [True, True, False, False, False]
    assert np.isnan(run.values["nothing"]["mean"]).all()
    assert run.reasons["nothing"] == ["no valid points in the region"] * 5
    assert run.reasons["step"] == [None] * 5
    assert not run.passed.any()  # "nothing" has a limit and no result

    # A range, and another scale (twice the Z range: twice the step).
    part = job.measure_recording(recording, first=1, count=2, scale=Scale(230, 500, 16384, 0))
    assert len(part) == 2 and part.first == 1
    np.testing.assert_allclose(part.values["step"]["step"], [2.5, 3.0], atol=500 / 16384)

    with pytest.raises(MeasureError, match="lie beyond"):
        job.measure_recording(recording, first=4, count=3)
    with pytest.raises(MeasureError):
        job.measure_recording(recording.parent / "none.h5")


def test_reads_the_results_a_recording_stores(job, tmp_path):
    writer = os.environ.get("QZ417_MEASURE_RECORDING_WRITER")
    if not writer:
        pytest.skip("QZ417_MEASURE_RECORDING_WRITER is not set (ctest sets it)")
    path = tmp_path / "stored.h5"
    job_file = tmp_path / "job.json"
    job_file.write_text(json.dumps(JOB))
    subprocess.run([writer, str(path), "5", str(job_file)], check=True, timeout=60)
    stored = qz417link.stored_results(path)
    assert len(stored) == 1
    entry = stored[0]
    assert entry.first_profile == 0
    assert list(entry.profiles) == [0, 1, 2, 3, 4]
    assert [t.name for t in entry.job.tools] == ["step", "top", "vee", "nothing"]
    # The values the recorder stored are those measured on the file now.
    run = job.measure_recording(path)
    assert list(entry.results.measurement_count) == list(run.measurement_count)
    for tool, outputs in run.values.items():
        for name, values in outputs.items():
            np.testing.assert_array_equal(entry.results.values[tool][name], values)
        assert list(entry.results.tool_passed[tool]) == list(run.tool_passed[tool])
        assert entry.results.reasons[tool] == run.reasons[tool]
    assert list(entry.results.passed) == list(run.passed)
    # A recording without results stores none.
    plain = tmp_path / "plain.h5"
    subprocess.run([writer, str(plain), "2"], check=True, timeout=60)
    assert qz417link.stored_results(plain) == []
    with pytest.raises(MeasureError):
        qz417link.stored_results(tmp_path / "none.h5")


def test_closed_job_refuses(job):
    job.close()
    with pytest.raises(ValueError):
        job.measure(np.zeros(3), np.zeros(3))
