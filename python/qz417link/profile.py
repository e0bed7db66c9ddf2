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
from typing import Optional, Union

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
    """Per-scale arrays, made once, so that a decode is a few array operations.

    The two equality flags of a point (Z, X against the error value), read as
    one u16, are 0 for a valid point and 1, 256 or 257 for an invalid one.
    `factors` maps that number to the point's pair of multipliers: the scale's
    for a valid point, NaN for both coordinates of an invalid one.
    """

    __slots__ = ("error", "factors", "single", "divisor", "clear_negative_zero")

    def __init__(self, scale: Scale) -> None:
        d = scale.discrete_value
        rz, rx = scale.range_z, scale.range_x_emr
        self.error = np.full(2 * POINTS, scale.error_value, dtype=_RAW)
        power_of_two = d != 0 and d & (d - 1) == 0
        # With a power-of-two discrete value, range / d is exact in float32
        # and dividing only shifts the exponent, so the float32 product
        # raw * (range / d), rounded once from the exact value, is the
        # once-rounded double quotient. Otherwise the product and the division
        # are done in double and rounded once to float32. A range of 0 takes
        # the double path, which mends the sign of zero.
        self.single = power_of_two and rz > 0 and rx > 0
        if self.single:
            table = np.full(258, complex(np.nan, np.nan), dtype=np.complex64)
            table[0] = complex(rz / d, rx / d)
            self.divisor = None
        else:
            table = np.full(258, complex(np.nan, np.nan), dtype=np.complex128)
            table[0] = complex(rz, rx)
            self.divisor = float(d) if d else None
        self.factors = table
        # A range of 0 times a negative raw value gives -0.0 in floating point
        # where the exact integer product 0 gives +0.0.
        self.clear_negative_zero = rz == 0 or rx == 0


def _decode_raw(raw: npt.NDArray[np.int16], scale: Scale) -> npt.NDArray[np.float32]:
    """raw: n * 2048 raw coordinates (Z, X of each point). Returns the n * 2048
    millimetre values, NaN in both coordinates of an invalid point."""
    t = scale._tables
    if scale.discrete_value == 0:
        return np.full(raw.size, np.nan, dtype=_F32)
    error = t.error if raw.size == t.error.size else np.resize(t.error, raw.size)
    flags = (raw == error).view(_U16)
    if t.single:
        out = raw.astype(_F32)
        out *= t.factors.take(flags).view(_F32)
        return out
    f = raw.astype(_F64)
    f *= t.factors.take(flags).view(_F64)
    if t.divisor is not None:
        f /= t.divisor
    if t.clear_negative_zero:
        f += 0.0
    return f.astype(_F32)


class Profile:
    """A decoded profile.

    x and z: float32 arrays of the 1024 points in millimetres, NaN where the
    point is invalid; valid: which points are valid; z_raw and x_raw: the raw
    i16 coordinates; packet: the 4100 bytes it was decoded from.
    """

    __slots__ = ("measurement_count", "packet_count", "x", "z", "scale", "packet", "_valid")

    def __init__(
        self,
        measurement_count: int,
        packet_count: int,
        x: npt.NDArray[np.float32],
        z: npt.NDArray[np.float32],
        scale: Scale,
        packet: bytes,
    ) -> None:
        self.measurement_count = measurement_count
        self.packet_count = packet_count
        self.x = x
        self.z = z
        self.scale = scale
        self.packet = packet
        self._valid: Optional[npt.NDArray[np.bool_]] = None

    @property
    def valid(self) -> npt.NDArray[np.bool_]:
        # An invalid point is NaN in both coordinates, a valid one never.
        if self._valid is None:
            self._valid = ~np.isnan(self.z)
        return self._valid

    @property
    def valid_count(self) -> int:
        return int(np.count_nonzero(self.valid))

    @property
    def z_raw(self) -> npt.NDArray[np.int16]:
        return np.frombuffer(self.packet, _RAW, 2 * POINTS, 4)[0::2]

    @property
    def x_raw(self) -> npt.NDArray[np.int16]:
        return np.frombuffer(self.packet, _RAW, 2 * POINTS, 4)[1::2]

    def points(self) -> npt.NDArray[np.float32]:
        """The valid points as an (n, 2) array of X, Z in packet order."""
        valid = self.valid
        return np.column_stack((self.x[valid], self.z[valid]))

    def __len__(self) -> int:
        return POINTS

    def __repr__(self) -> str:
        return (f"Profile(measurement_count={self.measurement_count}, "
                f"packet_count={self.packet_count}, valid_count={self.valid_count})")


def decode(packet: BytesLike, scale: Scale = Scale()) -> Profile:
    """Decodes one 4100-byte packet with the given scale."""
    data = packet if type(packet) is bytes else bytes(packet)
    if len(data) != PACKET_SIZE:
        raise ValueError(f"a profile packet has {PACKET_SIZE} bytes, not {len(data)}")
    measurement_count, packet_count = _COUNTERS.unpack_from(data)
    raw = np.frombuffer(data, _RAW, 2 * POINTS, 4)
    t = scale._tables
    if t.single:
        # _decode_raw's usual case, inline: the call alone is a tenth of the time.
        mm = raw.astype(_F32)
        mm *= t.factors.take((raw == t.error).view(_U16)).view(_F32)
    else:
        mm = _decode_raw(raw, scale)
    return Profile(measurement_count, packet_count, mm[1::2], mm[0::2], scale, data)


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
    mm = _decode_raw(raw, scale).reshape(n, POINTS, 2)
    return mm[..., 1], mm[..., 0], ~np.isnan(mm[..., 0])
