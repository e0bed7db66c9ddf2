"""The command connection to one scanner (TCP port 417)."""

from __future__ import annotations

import enum
import os
import struct
import threading
from typing import Optional, Union

import numpy as np
import numpy.typing as npt

from . import _lib
from .device import Device, announcement_for
from .errors import Closed, ConnectionFailed, exchange_error
from .params import ParamBlock
from .profile import Profile, Scale, decode

__all__ = ["Scanner", "FlushMode", "ANGLE_OUT_OF_RANGE", "angle_degrees"]

ANGLE_OUT_OF_RANGE = -32768
_NO_SOCKET = _lib.NO_SOCKET


class FlushMode(enum.IntEnum):
    STORE = 0  # store the scanner's current block permanently
    DEFAULTS = 1  # return the scanner to its factory block


def angle_degrees(units: int) -> float:
    """Scanner angle units in degrees: 32767 units are 60 degrees."""
    return units * 60.0 / 32767


class Scanner(_lib.SocketOwner):
    """A command connection to the scanner at an IPv4 address (or a Device
    from search(), whose scale then decodes the profiles).

    Every exchange either succeeds or raises: Timeout when the scanner sends
    nothing for 4 s, Closed when the connection is gone, ExchangeFailed for
    other errors. A failed exchange closes the connection, since a partial
    reply could still be on its way and would be taken for the next one.
    Use it as a context manager, or call close(). One thread at a time.
    """

    def __init__(self, target: Union[str, Device], scale: Optional[Scale] = None) -> None:
        if isinstance(target, Device):
            self.address = target.address
            self.scale = scale or target.scale()
        else:
            self.address = target
            self.scale = scale or Scale()
        record = announcement_for(self.address)
        self._lock = threading.Lock()
        self._socket = _NO_SOCKET
        fd, err = _lib.call("QZ417_Connect", record)
        if fd in (0, _NO_SOCKET):
            reason = f": {os.strerror(err)}" if err else ""
            raise ConnectionFailed(f"no scanner answers at {self.address}, TCP port 417{reason}")
        self._socket = fd

    def close(self) -> None:
        """Closes the connection; closing twice does nothing."""
        with self._lock:
            fd, self._socket = self._socket, _NO_SOCKET
        if fd != _NO_SOCKET:
            _lib.call("QZ417_Disconnect", fd)

    def _socket_or_raise(self, what: str) -> int:
        fd = self._socket
        if fd == _NO_SOCKET:
            raise Closed(f"{what} with {self.address}: the connection is closed")
        return fd

    def _exchange(self, function: str, what: str, *args: object) -> None:
        fd = self._socket_or_raise(what)
        result, err = _lib.call(function, fd, *args)
        if result != 1:
            self.close()
            raise exchange_error(what, self.address, err)

    def get_packet(self) -> bytes:
        """One 4100-byte profile packet as the scanner sent it."""
        buf = bytearray(_lib.PACKET_SIZE)
        self._exchange("QZ417_GetResult", "profile request", _lib.c_buffer(buf))
        return bytes(buf)

    def get_profile(self) -> Profile:
        """One profile, decoded with this connection's scale."""
        return decode(self.get_packet(), self.scale)

    def get_image(self) -> npt.NDArray[np.uint8]:
        """The camera image: 512 rows of 640 brightness values, top row first."""
        image = np.empty((_lib.IMAGE_HEIGHT, _lib.IMAGE_WIDTH), dtype=np.uint8)
        self._exchange("QZ417_GetImage", "image request", _lib.c_buffer(image))
        return image

    def read_params(self) -> ParamBlock:
        buf = bytearray(_lib.CONFIG_SIZE)
        self._exchange("QZ417_ReadParams", "parameter read", _lib.c_buffer(buf))
        return ParamBlock(buf)

    def write_params(self, block: Union[ParamBlock, bytes, bytearray]) -> None:
        """Sends the whole block; the scanner uses it at once (store it with
        flush_params to keep it over a restart)."""
        data = bytearray(bytes(block))
        if len(data) != _lib.CONFIG_SIZE:
            raise ValueError(f"the parameter block has {_lib.CONFIG_SIZE} bytes, not {len(data)}")
        self._exchange("QZ417_WriteParams", "parameter write", _lib.c_buffer(data))

    def flush_params(self, mode: FlushMode = FlushMode.STORE) -> None:
        """STORE keeps the scanner's current block permanently; DEFAULTS
        returns it to its factory block (read the block again afterwards)."""
        self._exchange("QZ417_FlushParams", "parameter store", int(FlushMode(mode)))

    def calc_angle_units(self) -> int:
        """The mounting angle the scanner calculates, in its units (32767 =
        60 degrees); ANGLE_OUT_OF_RANGE when it found none."""
        buf = bytearray(_lib.ANGLE_SIZE)
        self._exchange("QZ417_CalcAngle", "angle calculation", _lib.c_buffer(buf))
        return int(struct.unpack("<h", buf)[0])

    def calc_angle(self) -> Optional[float]:
        """The calculated mounting angle in degrees, or None when the scanner
        found no angle."""
        units = self.calc_angle_units()
        return None if units == ANGLE_OUT_OF_RANGE else angle_degrees(units)

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<Scanner {self.address} {state}>"
