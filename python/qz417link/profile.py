"""One measured profile (4100 bytes) as NumPy arrays, in millimetres.

A packet is two little-endian u16 counters and 1024 raw points; each raw
point is a little-endian i16 pair, Z first and X second. A point is invalid
when either coordinate equals the scale's error value, or when the scale's
discrete value is 0 (such a device has no usable scale). A valid coordinate
is range * raw / discrete: the product exact, the division in double
precision, the quotient rounded once to a 32-bit float, so the values are
the same, bit for bit, as the setup program's.

Decoding is a handful of whole-array operations, no loop over the points.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from typing import Union

import numpy as np
import numpy.typing as npt

from ._lib import PACKET_SIZE

__all__ = ["POINTS", "PACKET_SIZE", "Scale", "Profile", "decode", "decode_many"]

POINTS = 1024

BytesLike = Union[bytes, bytearray, memoryview]

_RAW = np.dtype("<i2")
_F64 = np.dtype(np.float64)
_F32 = np.dtype(np.float32)
_U16 = np.dtype(np.uint16)
_U64 = np.dtype(np.uint64)
# Two quiet NaNs side by side: OR-ed onto a point's (Z, X) float32 pair, it
# makes both NaN whatever they held.
_NAN_PAIR = 0x7FC000007FC00000
_COUNTERS = struct.Struct("<HH")


@dataclass(frozen=True)
class Scale:
    """How raw points become millimetres; the defaults apply until a scanner's
    description is known. range_x_emr, range_z and discrete_value are u16,
    error_value is i16."""

    range_x_emr: int = 230
    range_z: int = 250
    discrete_value: int = 16384
    error_value: int = 0
    _tables: "_ScaleTables" = field(init=False, repr=False, compare=False, hash=False)

    def __post_init__(self) -> None:
        for name in ("range_x_emr", "range_z", "discrete_value"):
            value = getattr(self, name)
            if not isinstance(value, int) or not 0 <= value <= 0xFFFF:
                raise ValueError(f"{name} must be an integer 0..65535, not {value!r}")
        if not isinstance(self.error_value, int) or not -0x8000 <= self.error_value <= 0x7FFF:
            raise ValueError(f"error_value must be an integer -32768..32767, not {self.error_value!r}")
        object.__setattr__(self, "_tables", _ScaleTables(self))


class _ScaleTables:
    """Per-scale arrays, made once so that a decode only runs array operations."""

    __slots__ = ("factor", "divisor", "error", "zero_pairs", "nan_pairs", "clear_negative_zero")

    def __init__(self, scale: Scale) -> None:
        d = scale.discrete_value
        ranges = np.array([scale.range_z, scale.range_x_emr], dtype=_F64)
        if d and d & (d - 1) == 0:
            # Dividing by a power of two only shifts the exponent: multiplying by
            # range / d (exact) gives the same double as range * raw / d.
            self.factor = np.tile(ranges / d, POINTS)
            self.divisor = None
        else:
            self.factor = np.tile(ranges, POINTS)
            self.divisor = np.full(2 * POINTS, float(d)) if d else None
        self.error = np.full(2 * POINTS, scale.error_value, dtype=_RAW)
        self.zero_pairs = np.zeros(POINTS, dtype=_U16)
        self.nan_pairs = np.full(POINTS, _NAN_PAIR, dtype=_U64)
        # A range of 0 times a negative raw value gives -0.0 in floating point,
        # where the exact integer product 0 gives +0.0.
        self.clear_negative_zero = scale.range_z == 0 or scale.range_x_emr == 0


def _decode_raw(raw: npt.NDArray[np.int16], scale: Scale) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.bool_]]:
    """raw: n * 2048 raw coordinates (Z, X of each point). Returns the n * 2048
    millimetre values, NaN for both coordinates of an invalid point, and the
    n * 1024 validity flags."""
    t = scale._tables
    n = raw.size // (2 * POINTS)
    if scale.discrete_value == 0:
        return np.full(raw.size, np.nan, dtype=_F32), np.zeros(n * POINTS, dtype=np.bool_)
    f = raw.astype(_F64)
    factor = t.factor if n == 1 else np.tile(t.factor, n)
    f *= factor
    if t.divisor is not None:
        f /= t.divisor if n == 1 else np.tile(t.divisor, n)
    if t.clear_negative_zero:
        f += 0.0
    out = f.astype(_F32)
    # The two equality flags of a point read as one u16: non-zero when either
    # coordinate carries the error value.
    error = t.error if n == 1 else np.tile(t.error, n)
    zero = t.zero_pairs if n == 1 else np.tile(t.zero_pairs, n)
    bad = (raw == error).view(_U16) != zero
    poison = bad.astype(_U64)
    poison *= t.nan_pairs if n == 1 else np.tile(t.nan_pairs, n)
    bits = out.view(_U64)
    bits |= poison
    return out, ~bad


@dataclass(frozen=True, eq=False)
class Profile:
    """A decoded profile.

    x and z are float32 arrays of 1024 millimetre values, NaN where the point
    is invalid; valid says which points are; z_raw and x_raw are the raw i16
    coordinates (read-only views of packet, the 4100 bytes the profile was
    decoded from).
    """

    measurement_count: int
    packet_count: int
    x: npt.NDArray[np.float32]
    z: npt.NDArray[np.float32]
    valid: npt.NDArray[np.bool_]
    z_raw: npt.NDArray[np.int16]
    x_raw: npt.NDArray[np.int16]
    scale: Scale
    packet: bytes = field(repr=False)

    @property
    def valid_count(self) -> int:
        return int(np.count_nonzero(self.valid))

    def points(self) -> npt.NDArray[np.float32]:
        """The valid points as an (n, 2) array of X, Z in packet order."""
        return np.column_stack((self.x[self.valid], self.z[self.valid]))

    def __len__(self) -> int:
        return POINTS


def decode(packet: BytesLike, scale: Scale = Scale()) -> Profile:
    """Decodes one 4100-byte packet with the given scale."""
    data = packet if isinstance(packet, bytes) else bytes(packet)
    if len(data) != PACKET_SIZE:
        raise ValueError(f"a profile packet has {PACKET_SIZE} bytes, not {len(data)}")
    measurement_count, packet_count = _COUNTERS.unpack_from(data)
    raw = np.frombuffer(data, _RAW, 2 * POINTS, 4)
    mm, valid = _decode_raw(raw, scale)
    return Profile(
        measurement_count,
        packet_count,
        mm[1::2],
        mm[0::2],
        valid,
        raw[0::2],
        raw[1::2],
        scale,
        data,
    )


def decode_many(
    packets: BytesLike, scale: Scale = Scale()
) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32], npt.NDArray[np.bool_]]:
    """Decodes n packets laid end to end (n * 4100 bytes) at once; returns x, z
    and valid as (n, 1024) arrays."""
    data = memoryview(packets).cast("B")
    if len(data) % PACKET_SIZE:
        raise ValueError(f"{len(data)} bytes are not a whole number of {PACKET_SIZE}-byte packets")
    n = len(data) // PACKET_SIZE
    rows = np.frombuffer(data, dtype=np.uint8).reshape(n, PACKET_SIZE)
    raw = np.ascontiguousarray(rows[:, 4:]).view(_RAW).reshape(-1)
    mm, valid = _decode_raw(raw, scale)
    mm = mm.reshape(n, POINTS, 2)
    return mm[..., 1], mm[..., 0], valid.reshape(n, POINTS)
