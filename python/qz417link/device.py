"""Scanners heard on the network: their announcements and self-description."""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import List

from . import _lib
from .profile import Scale

__all__ = ["Description", "Device", "search", "ANY_TYPE"]

ANY_TYPE = 0xFFFF
_DESCRIPTION = struct.Struct("<B3sHHHHHhI")


@dataclass(frozen=True)
class Description:
    """The first 20 bytes of an announcement's description."""

    modification: int
    serial_number: int
    base_distance: int
    range_z: int
    range_x_smr: int
    range_x_emr: int
    discrete_value: int
    error_value: int
    firmware_version: int

    @classmethod
    def from_bytes(cls, raw: bytes) -> "Description":
        if len(raw) < _DESCRIPTION.size:
            raise ValueError(f"a description has at least {_DESCRIPTION.size} bytes")
        m, serial, base, rz, rxs, rxe, d, e, fw = _DESCRIPTION.unpack_from(raw)
        return cls(m, int.from_bytes(serial, "little"), base, rz, rxs, rxe, d, e, fw)

    def scale(self) -> Scale:
        """The scale this scanner's raw points are decoded with."""
        return Scale(self.range_x_emr, self.range_z, self.discrete_value, self.error_value)


@dataclass(frozen=True)
class Device:
    """One scanner heard by search()."""

    type: int
    address: str
    mac: str
    description: Description
    raw_description: bytes

    def scale(self) -> Scale:
        return self.description.scale()


def _device(node: _lib.DeviceAnnouncement) -> Device:
    raw = bytes(node.description)
    return Device(
        type=node.type,
        address=".".join(str(b) for b in node.ip),
        mac="-".join(f"{b:02X}" for b in node.mac),
        description=Description.from_bytes(raw),
        raw_description=raw,
    )


def search(time_ms: int = 5000, type_filter: int = _lib.TYPE_CODE) -> List[Device]:
    """Listens time_ms milliseconds (1..65535) for announcements on UDP port
    6001; returns the scanners heard, first heard first. type_filter ANY_TYPE
    lists scanners of every type. An empty list means none was heard (or the
    port could not be opened)."""
    if not 1 <= time_ms <= 0xFFFF:
        raise ValueError(f"time_ms must be 1..65535, not {time_ms}")
    if not 0 <= type_filter <= 0xFFFF:
        raise ValueError(f"type_filter must be 0..65535, not {type_filter}")
    head, _ = _lib.call("QZ_Search", type_filter, time_ms)
    devices: List[Device] = []
    try:
        node = head
        while node:
            devices.append(_device(node.contents))
            node = node.contents.next
    finally:
        _lib.call("QZ_ClearList", head)
    return devices


def announcement_for(address: str) -> _lib.DeviceAnnouncement:
    """A list node naming the scanner at a dotted IPv4 address, for connecting."""
    parts = address.split(".")
    if len(parts) != 4 or not all(p.isdigit() and len(p) <= 3 and int(p) <= 255 for p in parts):
        raise ValueError(f"{address!r} is not a dotted IPv4 address")
    record = _lib.DeviceAnnouncement()
    record.type = _lib.TYPE_CODE
    for i, part in enumerate(parts):
        record.ip[i] = int(part)
    return record


