"""Profile decoding: the same values, bit for bit, as the setup program's."""

from __future__ import annotations

import os
import struct
import subprocess
from array import array

import numpy as np
import pytest

import qz417link
from qz417link import PACKET_SIZE, POINTS, Scale, decode, decode_many


def packet(points, measurement_count=0, packet_count=0) -> bytes:
    """A packet from (z_raw, x_raw) pairs; missing points are (1, 1)."""
    pairs = list(points) + [(1, 1)] * (POINTS - len(points))
    return struct.pack("<HH", measurement_count, packet_count) + b"".join(
        struct.pack("<hh", z, x) for z, x in pairs
    )


class TestWorkedValues:
    @pytest.mark.parametrize(
        "z_raw, x_raw, z_mm, x_mm",
        [
            (16384, 8192, 250.0, 115.0),
            (1, -8192, 0.0152587890625, -115.0),
            (32767, -32768, 499.9847412109375, -460.0),
        ],
    )
    def test_default_scale(self, z_raw, x_raw, z_mm, x_mm):
        p = decode(packet([(z_raw, x_raw)]))
        assert p.valid[0]
        assert p.z.dtype == np.float32 and p.x.dtype == np.float32
        assert float(p.z[0]) == z_mm and float(p.x[0]) == x_mm

    def test_counters_are_unsigned_and_raw_points_are_kept(self):
        p = decode(packet([(-5, 7)], measurement_count=65535, packet_count=32768))
        assert (p.measurement_count, p.packet_count) == (65535, 32768)
        assert (int(p.z_raw[0]), int(p.x_raw[0])) == (-5, 7)
        assert p.packet[:4] == b"\xff\xff\x00\x80"
        assert len(p) == POINTS and p.x.shape == (POINTS,)


class TestInvalidPoints:
    def test_error_value_in_either_coordinate_invalidates_both(self):
        scale = Scale(error_value=-7)
        p = decode(packet([(-7, 100), (100, -7), (-7, -7), (0, 0), (100, 100)]), scale)
        assert p.valid[:5].tolist() == [False, False, False, True, True]
        assert np.isnan(p.x[:3]).all() and np.isnan(p.z[:3]).all()
        # Zero is an ordinary value when the error value is not 0.
        assert float(p.x[3]) == 0.0 and float(p.z[3]) == 0.0
        assert p.valid_count == POINTS - 3

    def test_zero_is_invalid_with_the_default_error_value(self):
        p = decode(packet([(0, 5), (5, 0)]))
        assert not p.valid[0] and not p.valid[1] and p.valid[2]

    def test_all_invalid_packet_still_carries_its_counters(self):
        p = decode(struct.pack("<HH", 3, 4) + bytes(4096))
        assert p.valid_count == 0 and np.isnan(p.x).all() and np.isnan(p.z).all()
        assert (p.measurement_count, p.packet_count) == (3, 4)
        assert p.points().shape == (0, 2)

    def test_discrete_value_zero_makes_every_point_invalid(self):
        p = decode(packet([(5, 5)] * POINTS), Scale(discrete_value=0))
        assert p.valid_count == 0 and np.isnan(p.x).all()

    def test_points_are_the_valid_ones_in_order(self):
        p = decode(packet([(16384, 8192), (0, 1), (8192, -8192)]))
        pts = p.points()
        assert pts.shape == (POINTS - 1, 2)
        assert pts[0].tolist() == [115.0, 250.0] and pts[1].tolist() == [-115.0, 125.0]


@pytest.mark.parametrize(
    "scale",
    [
        Scale(),  # the usual scanner: discrete value a power of two
        Scale(range_x_emr=65535, range_z=1, discrete_value=32768, error_value=-1),
        Scale(range_x_emr=65535, range_z=65535, discrete_value=1, error_value=-32768),
        Scale(range_x_emr=1234, range_z=4321, discrete_value=1000, error_value=5),
        Scale(range_x_emr=230, range_z=250, discrete_value=3, error_value=0),
        # Multiplying by the rounded quotient range / 13 instead of dividing
        # the exact product differs after rounding to float32 for some values.
        Scale(range_x_emr=45202, range_z=45202, discrete_value=13, error_value=0),
        Scale(range_x_emr=0, range_z=77, discrete_value=16384, error_value=1),  # -0.0 trap
        Scale(range_x_emr=60000, range_z=0, discrete_value=65535, error_value=2),
    ],
    ids=["usual", "wide-range", "extremes", "decimal", "third", "rounding-trap", "zero-x-range", "zero-z-range"],
)
def test_every_raw_value_matches_the_reference_bit_for_bit(scale):
    # Every i16 value once as Z and once as X, in 64 packets of 1024 points;
    # the partner coordinate is a fixed valid value. The reference: the exact
    # integer product, one division in double (Python's float division), one
    # rounding to float32 (array("f") stores through a C float).
    raws = np.arange(-32768, 32768, dtype=np.int32)
    partner = 12345 if scale.error_value != 12345 else 12346
    for coordinate, rng in ((0, scale.range_z), (1, scale.range_x_emr)):
        pairs = np.full((raws.size, 2), partner, dtype="<i2")
        pairs[:, coordinate] = raws
        profiles = [
            decode(b"\0\0\0\0" + pairs[i : i + POINTS].tobytes(), scale)
            for i in range(0, raws.size, POINTS)
        ]
        values = np.concatenate([p.z if coordinate == 0 else p.x for p in profiles])
        valid = np.concatenate([p.valid for p in profiles])
        is_error = raws == scale.error_value
        assert np.array_equal(valid, ~is_error)
        assert np.isnan(values[is_error]).all()
        expected = array("f", (rng * r / scale.discrete_value for r in raws[~is_error].tolist()))
        got = values[~is_error]
        if got.tobytes() != expected.tobytes():
            bad = int(np.flatnonzero(got.view(np.uint32) != np.frombuffer(expected, np.uint32))[0])
            raise AssertionError(
                f"raw {raws[~is_error][bad]} with range {rng}: {got[bad]!r} != {expected[bad]!r}"
            )


@pytest.mark.parametrize("scale", [Scale(), Scale(230, 250, 1000, 0)], ids=["usual", "decimal"])
def test_decode_many_equals_decode_of_each_packet(scale):
    rng = np.random.default_rng(417)
    data = b"".join(
        struct.pack("<HH", i, i) + rng.integers(-40, 40, 2 * POINTS).astype("<i2").tobytes()
        for i in range(5)
    )
    x, z, valid = decode_many(data, scale)
    for i in range(5):
        p = decode(data[i * 4100 : (i + 1) * 4100], scale)
        assert np.array_equal(x[i], p.x, equal_nan=True)
        assert np.array_equal(z[i], p.z, equal_nan=True)
        assert np.array_equal(valid[i], p.valid)


class TestRejectedInput:
    @pytest.mark.parametrize("size", [0, 4099, 4101])
    def test_packet_of_another_size(self, size):
        with pytest.raises(ValueError):
            decode(bytes(size))

    def test_decode_many_needs_whole_packets(self):
        with pytest.raises(ValueError):
            decode_many(bytes(4100 * 2 + 1))

    @pytest.mark.parametrize(
        "kwargs",
        [{"range_z": 65536}, {"range_x_emr": -1}, {"discrete_value": 1 << 16}, {"error_value": 32768}],
    )
    def test_scale_out_of_its_fields_ranges(self, kwargs):
        with pytest.raises(ValueError):
            Scale(**kwargs)


def test_description_gives_the_scale():
    raw = struct.pack("<B3sHHHHHhI", 0x2F, (10000).to_bytes(3, "little"), 80, 250, 140, 230, 16384, -3, 417)
    d = qz417link.Description.from_bytes(raw + bytes(235))
    assert d.serial_number == 10000 and d.firmware_version == 417
    assert d.scale() == Scale(range_x_emr=230, range_z=250, discrete_value=16384, error_value=-3)


REFERENCE_SCALES = [
    Scale(),
    Scale(1234, 4321, 1000, 5),
    Scale(45202, 45202, 13, 0),
    Scale(0, 77, 16384, 1),
    Scale(65535, 65535, 1, -32768),
    Scale(230, 250, 0, 0),
]


@pytest.mark.parametrize("scale", REFERENCE_SCALES, ids=lambda s: "-".join(
    str(v) for v in (s.range_x_emr, s.range_z, s.discrete_value, s.error_value)))
def test_same_points_as_the_programs_decoding(scale):
    """Against the C++ decoding itself (decode_reference, built with the
    model library): every i16 value in both coordinates, and random packets
    with the error value sprinkled in."""
    program = os.environ.get("QZ417_DECODE_REFERENCE")
    if not program:
        pytest.fail("QZ417_DECODE_REFERENCE is not set: the path of decode_reference")
    rng = np.random.default_rng(scale.discrete_value + 7)
    sweep = np.arange(-32768, 32768, dtype=np.int32).astype("<i2")
    raws = np.concatenate([
        np.column_stack((sweep, sweep[::-1])).reshape(-1),
        rng.integers(-32768, 32768, 2 * POINTS * 16).astype("<i2"),
    ])
    raws[rng.integers(0, raws.size, 2000)] = scale.error_value
    packets = raws.reshape(-1, 2 * POINTS)
    data = b"".join(struct.pack("<HH", i, i) + row.tobytes() for i, row in enumerate(packets))

    done = subprocess.run(
        [program, str(scale.range_x_emr), str(scale.range_z), str(scale.discrete_value),
         str(scale.error_value)],
        input=data, capture_output=True, timeout=60, check=True,
    )
    expected = np.frombuffer(done.stdout, dtype=[("valid", "u1"), ("x", "<f4"), ("z", "<f4")])
    assert expected.size == packets.shape[0] * POINTS

    profiles = [decode(data[i * PACKET_SIZE:(i + 1) * PACKET_SIZE], scale) for i in range(packets.shape[0])]
    valid = np.concatenate([p.valid for p in profiles])
    x = np.concatenate([p.x for p in profiles])
    z = np.concatenate([p.z for p in profiles])
    assert np.array_equal(valid, expected["valid"] == 1)
    assert np.array_equal(x[valid].view(np.uint32), expected["x"][valid].view(np.uint32))
    assert np.array_equal(z[valid].view(np.uint32), expected["z"][valid].view(np.uint32))
    assert np.isnan(x[~valid]).all() and np.isnan(z[~valid]).all()
    many_x, many_z, many_valid = decode_many(data, scale)
    assert np.array_equal(many_x.reshape(-1).view(np.uint32)[valid], x[valid].view(np.uint32))
    assert np.array_equal(many_valid.reshape(-1), valid)
