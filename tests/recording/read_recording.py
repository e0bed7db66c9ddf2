#!/usr/bin/python3
"""The reader of docs/recording-format.md, checked against a file written by
the recorder: `read_recording.py FILE N` expects N profiles whose packetCount
runs 0, 1, 2, ... and prints what the reader prints. `read_recording.py FILE N
results` reads a file of version 1.1 with measurement results (the helper's
job) through the same, unchanged reader, then its results through the
document's `read_results`. Its `stream_stats` is
taken from the document itself and checked against every case of
tests/model/data/stream_cases.json, the table the C++ counts are tested with."""
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DOC = os.path.join(HERE, "..", "..", "docs", "recording-format.md")
CASES = os.path.join(HERE, "..", "model", "data", "stream_cases.json")

# The reader's code block, as the document shows it.
with open(DOC, encoding="utf-8") as doc:
    text = doc.read()
block = re.search(r"```python\n(import h5py.*?)```", text, re.S).group(1)
definition = block[block.index("def stream_stats"):block.index("\nwith h5py.File")]
namespace = {}
exec(definition, namespace)  # pylint: disable=exec-used
exec(re.search(r"```python\n(def read_results.*?)```", text, re.S).group(1),  # pylint: disable=exec-used
     namespace)
stream_stats = namespace["stream_stats"]
read_results = namespace["read_results"]


def expand(items):
    out = []
    for item in items:
        if isinstance(item, list):
            step = item[2] if len(item) > 2 else 1
            out.extend(range(item[0], item[1] + 1, step))
        else:
            out.append(item)
    return [v % 65536 for v in out]


with open(CASES, encoding="utf-8") as f:
    for case in json.load(f)["cases"]:
        counters = expand(case["counters"])
        want = dict(received=len(counters), lost=case["expected"]["lost"], late=0,
                    duplicates=0, restarts=0)
        want.update({k: v for k, v in case["expected"].items() if k != "lost"})
        got = stream_stats(counters)
        assert got == want, (case["name"], got, want)

try:
    import h5py
    import numpy as np
except ImportError:
    print("h5py or NumPy is not installed (python3-h5py)")
    sys.exit(77)

path, expected = sys.argv[1], int(sys.argv[2])
with_results = len(sys.argv) > 3 and sys.argv[3] == "results"
# --- the reader, as in the document (the file name is the argument) ---
with h5py.File(path, "r", swmr=True) as f:        # swmr: also while it is written
    assert f.attrs["format"] == b"qz417-recording" and f.attrs["format_version"] <= 1
    n = min(len(f["packets"]), len(f["receive_time_monotonic_ns"]))
    packets = f["packets"][:n]                            # n x 4100 uint8
    t = f["receive_time_monotonic_ns"][:n] / 1e9          # seconds
    counters = packets[:, :4].copy().view("<u2")          # measurementCount, packetCount
    points = packets[:, 4:].copy().view("<i2").reshape(n, 1024, 2)   # zRaw, xRaw
    stats = stream_stats(counters[:, 1])
    print(n, "profiles over", t[-1] - t[0] if n else 0, "s,", stats["lost"], "packets lost")
# --- checks ---
assert n == expected, (n, expected)
assert (counters[:, 1] == np.arange(n) % 65536).all()
assert (counters[:, 0] == (3 * np.arange(n)) % 65536).all()
assert points.shape == (n, 1024, 2)
assert (points[:, :, 1] == np.arange(1024) * 16 - 8192).all()   # xRaw of the test packets
assert stats == dict(received=n, lost=0, late=0, duplicates=0, restarts=0), stats

with h5py.File(path, "r", swmr=True) as f:
    jobs = read_results(f, n)
if not with_results:
    assert jobs == [], jobs
    sys.exit(0)
# The helper's job: "middle" (height over -50..50 mm, max <= 175) and
# "outside" (height over 500..600 mm, where no point lies).
assert len(jobs) == 1, jobs
job = jobs[0]
assert json.loads(job["job"])["tools"][0]["name"] == "middle", job["job"]
assert job["first_profile"] == 0
names = [f"{tool}.{o}" for tool in ("middle", "outside")
         for o in ("min", "max", "mean", "median", "count")]
assert job["outputs"] == names, job["outputs"]
assert job["units"] == ["mm"] * 4 + ["points"] + ["mm"] * 4 + ["points"], job["units"]
assert (job["profiles"] == np.arange(n)).all()
values, status = job["values"], job["status"]
assert values.shape == (n, 10) and status.shape == (n, 10)
assert np.isfinite(values[:, :5]).all() and np.isnan(values[:, 5:]).all()
assert (status[:, 5:] == 1).all()
assert set(job["reasons"][0][5:]) == {"no valid points in the region"}, job["reasons"][0]
assert job["reasons"][0][:5] == [""] * 5
# Status 2 exactly where the maximum lies above its limit.
assert ((status[:, 1] == 2) == (values[:, 1] > 175)).all()
assert (status[:, [0, 2, 3, 4]] == 0).all()
assert ((values[:, 0] <= values[:, 2]) & (values[:, 2] <= values[:, 1])).all()
print(n, "profiles with results of", len(names), "outputs")
