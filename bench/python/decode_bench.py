#!/usr/bin/env python3
"""decode_bench.py [SECONDS]

Times the decoding of one 1024-point profile packet by the qz417link package
(NumPy) against the per-point loop of the earlier ctypes-only module (kept
below, unchanged, as the baseline). Both decode the same packet in
alternating rounds, so that a change of the machine's load falls on both
alike; each figure is the mean time per decode over all rounds.
Prints one FIGURE line for bench/run. Needs PYTHONPATH=<build>/python.
"""

import statistics
import struct
import sys
import time

import qz417link

PACKET_SIZE = 4100
TARGET_RATIO = 50.0


class LoopScale:
    def __init__(self, range_x_emr=230, range_z=250, discrete_value=16384, error_value=0):
        self.range_x_emr = range_x_emr
        self.range_z = range_z
        self.discrete_value = discrete_value
        self.error_value = error_value


class LoopProfile:
    """The earlier module's decoding: one Python step per point."""

    def __init__(self, packet, scale):
        self.measurement_count, self.packet_count = struct.unpack_from("<HH", packet, 0)
        self.points = []
        for z, x in struct.iter_unpack("<hh", packet[4:PACKET_SIZE]):
            if x == scale.error_value or z == scale.error_value or scale.discrete_value == 0:
                self.points.append(None)
            else:
                self.points.append((scale.range_x_emr * x / scale.discrete_value,
                                    scale.range_z * z / scale.discrete_value))


def make_packet() -> bytes:
    """A belt-like profile: X across the line, Z about 70 % of the range, every
    tenth point invalid."""
    points = []
    for i in range(1024):
        x = -8192 + 16 * i
        z = 11469 + (i * 37) % 200
        if i % 10 == 3:
            z = 0
        points.append(struct.pack("<hh", z, x if x != 0 else 1))
    return struct.pack("<HH", 417, 1) + b"".join(points)


def per_call(fn, count: int) -> float:
    started = time.perf_counter()
    for _ in range(count):
        fn()
    return (time.perf_counter() - started) / count


def main() -> int:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 3.0
    packet = make_packet()
    scale = qz417link.Scale()
    loop_scale = LoopScale()

    # The two must agree before they are compared: same validity, and the
    # loop's doubles round to the package's float32 values.
    profile = qz417link.decode(packet, scale)
    loop = LoopProfile(packet, loop_scale)
    for i, p in enumerate(loop.points):
        assert (p is not None) == bool(profile.valid[i]), i
        if p is not None:
            assert struct.pack("<ff", *p) == struct.pack("<ff", profile.x[i], profile.z[i]), i

    new_rounds, old_rounds = [], []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline or len(new_rounds) < 5:
        new_rounds.append(per_call(lambda: qz417link.decode(packet, scale), 400))
        old_rounds.append(per_call(lambda: LoopProfile(packet, loop_scale), 20))
    # Every round decodes the same count of packets each way, so the means are
    # the totals' ratio: a change of the machine's load falls on both alike.
    new = statistics.fmean(new_rounds)
    old = statistics.fmean(old_rounds)
    ratio = old / new
    print(f"decode_bench: {len(new_rounds)} rounds; numpy {new * 1e6:.1f} us, "
          f"per-point loop {old * 1e6:.1f} us per 1024-point packet", file=sys.stderr)
    print("FIGURE\t{}\t{}\t{}\t{}\t{}\t{}".format(
        "Python: decode one 1024-point profile (NumPy vs per-point loop)",
        f"{new * 1e6:.1f} us",
        f"{old * 1e6:.1f} us",
        f"{ratio:.1f}",
        f">= {TARGET_RATIO:.0f}",
        "yes" if ratio >= TARGET_RATIO else "no"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
