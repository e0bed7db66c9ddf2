#!/usr/bin/python3
"""The ten-line reader of docs/recording-format.md, checked against a file
written by the recorder: `read_recording.py FILE N` expects N profiles whose
packetCount runs 0, 1, 2, ... and prints what the reader prints."""
import sys

try:
    import h5py
    import numpy as np
except ImportError:
    print("h5py or NumPy is not installed (python3-h5py)")
    sys.exit(77)

path, expected = sys.argv[1], int(sys.argv[2])
# --- the reader, as in the document ---
with h5py.File(path, "r", swmr=True) as f:        # swmr: also while it is written
    assert f.attrs["format"] == b"qz417-recording" and f.attrs["format_version"] <= 1
    n = min(len(f["packets"]), len(f["receive_time_monotonic_ns"]))
    packets = f["packets"][:n]                            # n x 4100 uint8
    t = f["receive_time_monotonic_ns"][:n] / 1e9          # seconds
    counters = packets[:, :4].copy().view("<u2")          # measurementCount, packetCount
    points = packets[:, 4:].copy().view("<i2").reshape(n, 1024, 2)   # zRaw, xRaw
    lost = int(np.sum((np.diff(counters[:, 1].astype(np.int64)) % 65536 - 1).clip(0, 32767)))
    print(n, "profiles over", t[-1] - t[0] if n else 0, "s,", lost, "packets lost")
# --- checks ---
assert n == expected, (n, expected)
assert (counters[:, 1] == np.arange(n) % 65536).all()
assert (counters[:, 0] == (3 * np.arange(n)) % 65536).all()
assert points.shape == (n, 1024, 2)
assert (points[:, :, 1] == np.arange(1024) * 16 - 8192).all()   # xRaw of the test packets
assert lost == 0
