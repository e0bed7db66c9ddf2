"""The UDP result stream: the profiles a scanner sends unasked to a local port."""

from __future__ import annotations

import os
import time
from typing import Iterator, Optional

from . import _lib
from .errors import Closed, StreamUnavailable, Timeout
from .profile import Profile, Scale, decode

__all__ = ["UdpStream", "DEFAULT_PORT"]

DEFAULT_PORT = 6003
_NO_SOCKET = _lib.NO_SOCKET


class UdpStream(_lib.SocketOwner):
    """Receives 4100-byte profile packets on a local UDP port.

    Iterating yields decoded profiles; each step waits at most `timeout`
    seconds (None: without limit) and raises Timeout when nothing came. Any
    4100-byte datagram reaching the port is taken as a packet; datagrams of
    another size are dropped. Use it as a context manager, or call close().

        with UdpStream(6003, device.scale(), timeout=1.0) as stream:
            for profile in itertools.islice(stream, 100):
                ...
    """

    def __init__(
        self, port: int = DEFAULT_PORT, scale: Optional[Scale] = None, timeout: Optional[float] = 1.0
    ) -> None:
        if not 0 <= port <= 0xFFFF:
            raise ValueError(f"port must be 0..65535, not {port}")
        if timeout is not None and timeout < 0:
            raise ValueError("timeout must not be negative")
        self.port = port
        self.scale = scale or Scale()
        self.timeout = timeout
        self._socket = _NO_SOCKET
        fd, err = _lib.call("QZ417_UDP_Connect", port)
        if fd == _NO_SOCKET:
            reason = f": {os.strerror(err)}" if err else ""
            raise StreamUnavailable(f"cannot receive on UDP port {port}{reason}")
        self._socket = fd

    def close(self) -> None:
        fd, self._socket = self._socket, _NO_SOCKET
        if fd != _NO_SOCKET:
            _lib.call("QZ417_UDP_Disconnect", fd)

    def receive_packet(self, timeout: Optional[float] = None) -> Optional[bytes]:
        """The next packet's 4100 bytes, or None when none came within timeout
        seconds (by steps of about 50 ms; 0 tries once)."""
        fd = self._socket
        if fd == _NO_SOCKET:
            raise Closed(f"the UDP stream on port {self.port} is closed")
        buf = bytearray(_lib.PACKET_SIZE)
        target = _lib.c_buffer(buf)
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            result, _ = _lib.call("QZ417_UDP_GetResult", fd, target)
            if result == 1:
                return bytes(buf)
            if self._socket == _NO_SOCKET:
                raise Closed(f"the UDP stream on port {self.port} is closed")
            if deadline is not None and time.monotonic() >= deadline:
                return None

    def receive(self, timeout: Optional[float] = None) -> Optional[Profile]:
        """The next profile, decoded with this stream's scale, or None when none
        came within timeout seconds."""
        packet = self.receive_packet(timeout)
        return None if packet is None else decode(packet, self.scale)

    def __iter__(self) -> Iterator[Profile]:
        return self

    def __next__(self) -> Profile:
        profile = self.receive(self.timeout)
        if profile is None:
            raise Timeout(f"no profile on UDP port {self.port} within {self.timeout} s")
        return profile

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<UdpStream port {self.port} {state}>"
