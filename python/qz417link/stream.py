"""The UDP result stream: the profiles a scanner sends unasked to a local port."""

from __future__ import annotations

import ctypes
import os
import time
from dataclasses import dataclass
from typing import Iterable, Iterator, Optional, Tuple

from . import _lib, measure
from .errors import Closed, LibraryNotFound, QZ417Error, StreamUnavailable, Timeout
from .profile import Profile, Scale, decode

__all__ = ["UdpStream", "DEFAULT_PORT", "StreamCounter", "StreamStatistics"]

DEFAULT_PORT = 6003
_NO_SOCKET = _lib.NO_SOCKET


@dataclass(frozen=True)
class StreamStatistics:
    """The counts of a profile stream, as the window, the recorder and
    qz417ctl give them (the model library's StreamStats, one implementation).

    received: every packet taken. lost: packetCount values the network
    skipped (a late arrival takes its one back). late: arrived after a later
    packet. duplicates: a packetCount seen again. restarts: the scanner began
    counting again (nothing counted lost for the jump). dropped: datagrams
    this computer's kernel dropped because the socket's receive buffer was
    full (None: unknown). receive_buffer_bytes: the buffer the kernel
    granted (0: unknown)."""

    received: int
    lost: int
    late: int
    duplicates: int
    restarts: int
    dropped: Optional[int] = None
    receive_buffer_bytes: int = 0

    @property
    def out_of_order(self) -> int:
        """Packets that arrived after a later one: late ones and duplicates."""
        return self.late + self.duplicates


class StreamCounter:
    """Counts packets of a profile stream by their 16-bit packetCount, through
    libqz417model_c. Raises LibraryNotFound when that library cannot be
    loaded. Not thread-safe."""

    def __init__(self) -> None:
        self._lib = measure._library()
        error = ctypes.create_string_buffer(256)
        handle = self._lib.qz417m_stream_stats_new(error, len(error))
        if not handle:
            raise QZ417Error(f"cannot count the stream: {error.value.decode(errors='replace')}")
        self._handle: Optional[int] = handle

    def __del__(self) -> None:
        self.free()

    def free(self) -> None:
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            self._lib.qz417m_stream_stats_free(handle)

    def _live(self) -> int:
        if not self._handle:
            raise Closed("the stream counter was freed")
        return self._handle

    def observe(self, packet_count: int) -> None:
        """One packet by its packetCount (0..65535)."""
        if not 0 <= packet_count <= 0xFFFF:
            raise ValueError(f"packetCount must be 0..65535, not {packet_count}")
        self._lib.qz417m_stream_stats_observe(self._live(), packet_count)

    def observe_all(self, packet_counts: Iterable[int]) -> None:
        for count in packet_counts:
            self.observe(count)

    def observe_packet(self, packet: bytes) -> None:
        """One packet by its 4100 bytes."""
        if len(packet) != _lib.PACKET_SIZE:
            raise ValueError(f"a profile packet has {_lib.PACKET_SIZE} bytes, not {len(packet)}")
        self._lib.qz417m_stream_stats_observe_packet(self._live(), bytes(packet), len(packet))

    def counts(self) -> StreamStatistics:
        """The counts so far (dropped and receive_buffer_bytes unknown)."""
        c = measure._StreamCounts()
        self._lib.qz417m_stream_stats_counts(self._live(), ctypes.byref(c))
        return StreamStatistics(c.received, c.lost, c.late, c.duplicates, c.restarts)


class UdpStream(_lib.SocketOwner):
    """Receives 4100-byte profile packets on a local UDP port.

    Iterating yields decoded profiles; each step waits at most `timeout`
    seconds (None: without limit) and raises Timeout when nothing came. Any
    4100-byte datagram reaching the port is taken as a packet; datagrams of
    another size are dropped. Use it as a context manager, or call close().

    `statistics` counts every packet receive_packet (and so receive and
    iteration) returned: received, lost, late, duplicates, restarts, and what
    this computer dropped, through the model library (libqz417model_c).

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
        # The counting needs libqz417model_c; without it the stream works and
        # only `statistics` fails, with the reason.
        self._counter: Optional[StreamCounter] = None
        self._counter_error: Optional[QZ417Error] = None
        try:
            self._counter = StreamCounter()
        except QZ417Error as e:
            self._counter_error = e
        self._last_receive: Tuple[int, Optional[int]] = (0, None)  # kept when the socket closes
        fd, err = _lib.call("QZ417_UDP_Connect", port)
        if fd == _NO_SOCKET:
            reason = f": {os.strerror(err)}" if err else ""
            raise StreamUnavailable(f"cannot receive on UDP port {port}{reason}")
        self._socket = fd

    def close(self) -> None:
        fd, self._socket = self._socket, _NO_SOCKET
        if fd != _NO_SOCKET:
            try:
                # The socket's last figures, for statistics after close.
                self._last_receive = self._read_receive(fd)
            except Exception:
                pass  # nothing stops the socket's closing
            finally:
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
                packet = bytes(buf)
                if self._counter is not None:
                    self._counter.observe_packet(packet)
                return packet
            if self._socket == _NO_SOCKET:
                raise Closed(f"the UDP stream on port {self.port} is closed")
            if deadline is not None and time.monotonic() >= deadline:
                return None

    def _read_receive(self, fd: int) -> Tuple[int, Optional[int]]:
        """The socket's granted receive buffer (0: unknown) and drops (None: unknown)."""
        if self._counter is None:
            return (0, None)
        r = measure._SocketReceive()
        self._counter._lib.qz417m_socket_receive_read(fd, ctypes.byref(r))
        return (int(r.granted_bytes), int(r.drops) if r.drops_known else None)

    @property
    def statistics(self) -> StreamStatistics:
        """The counts of the packets received so far (StreamStatistics), with
        the socket's receive buffer and this computer's drops (as they were at
        close() once closed). Raises LibraryNotFound when libqz417model_c
        cannot be loaded."""
        if self._counter is None:
            raise LibraryNotFound(f"stream statistics are unavailable: {self._counter_error}")
        fd = self._socket
        granted, dropped = self._read_receive(fd) if fd != _NO_SOCKET else self._last_receive
        c = self._counter.counts()
        return StreamStatistics(
            c.received, c.lost, c.late, c.duplicates, c.restarts, dropped=dropped, receive_buffer_bytes=granted
        )

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
