"""UdpStream.statistics end to end: the stream of qz417sim, and packets of
chosen packetCounts sent to the stream's port, counted by the model library.
Binds fixed ports: ctest runs it in a network namespace of its own."""

from __future__ import annotations

import itertools
import os
import socket
import subprocess
import sys

import pytest

import qz417link
from conftest import start_emulator
from qz417link import FlushMode, Scanner, StreamStatistics, UdpStream

ADDRESS = "127.0.0.1"
COUNTER_START = 65520  # the stream crosses the counter's wrap within 16 packets


@pytest.fixture(scope="module")
def wrapping_emulator():
    sim = start_emulator(["--counter-start", str(COUNTER_START)])
    yield sim
    sim.stop()


def _packet(packet_count: int) -> bytes:
    packet = bytearray(qz417link.PACKET_SIZE)
    packet[2:4] = packet_count.to_bytes(2, "little")
    return bytes(packet)


def test_emulators_stream_is_counted_across_the_wrap(wrapping_emulator):
    with Scanner(ADDRESS) as scanner:
        block = scanner.read_params()
        block.update({"udpAddress": ADDRESS, "udpPort": 6011, "udpFrequency": 200})
        try:
            with UdpStream(6011, scanner.scale, timeout=2.0) as stream:
                scanner.write_params(block)
                profiles = list(itertools.islice(stream, 40))
                stats = stream.statistics
        finally:
            scanner.flush_params(FlushMode.DEFAULTS)
    counts = [p.packet_count for p in profiles]
    assert any(b < a for a, b in zip(counts, counts[1:])), f"no wrap in {counts}"
    # Every packet taken is counted; loopback at 200/s loses none.
    assert stats.received == 40
    assert (stats.lost, stats.late, stats.duplicates, stats.restarts) == (0, 0, 0, 0)
    assert stats.dropped == 0
    assert stats.receive_buffer_bytes > 0


def test_gaps_swaps_duplicates_and_restarts_on_the_wire():
    # The "seven missing, three pairs swapped" case of the shared table and a
    # restart with a duplicate, sent as datagrams to the stream's port.
    sequence = (
        [*range(0, 10), *range(11, 20), *range(22, 30), *range(31, 40), *range(43, 50)]
        + [51, 50, *range(52, 60), 61, 60, *range(62, 70), 71, 70, *range(72, 100)]
        + [5, 6, 5, 7]
    )
    with UdpStream(6012, timeout=2.0) as stream, socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as tx:
        assert stream.statistics == StreamStatistics(0, 0, 0, 0, 0, dropped=0,
                                                     receive_buffer_bytes=stream.statistics.receive_buffer_bytes)
        received = []
        for value in sequence:  # one at a time: the order on loopback is kept
            tx.sendto(_packet(value), (ADDRESS, 6012))
            tx.sendto(b"short", (ADDRESS, 6012))  # not a packet: neither taken nor counted
            packet = stream.receive_packet(timeout=2.0)
            assert packet is not None
            received.append(int.from_bytes(packet[2:4], "little"))
        assert received == sequence
        stats = stream.statistics
    assert stats.received == len(sequence)
    assert (stats.lost, stats.late, stats.duplicates, stats.restarts) == (7, 3, 1, 1)
    assert stats.out_of_order == 4
    # After close the counts and the socket's last figures stay readable.
    assert stream.statistics == stats


LIBRARY_MISSING = """
import socket, qz417link
with qz417link.UdpStream(6013, timeout=2.0) as stream:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as tx:
        tx.sendto(bytes(4100), ("127.0.0.1", 6013))
    assert stream.receive(timeout=2.0) is not None      # the stream itself works
    try:
        stream.statistics
    except qz417link.LibraryNotFound as e:
        print("LibraryNotFound:", e)
    else:
        raise SystemExit("statistics without the model library")
"""


@pytest.mark.parametrize("library", ["missing", "another library"])
def test_without_the_model_library_only_statistics_fail(library):
    # A path that does not exist, and a library without the model's functions.
    path = "/nonexistent/libqz417model_c.so" if library == "missing" else os.environ["QZ417LINK_LIBRARY"]
    env = dict(os.environ, QZ417MODEL_C_LIBRARY=path)
    done = subprocess.run([sys.executable, "-c", LIBRARY_MISSING], env=env, capture_output=True,
                          text=True, timeout=60, check=False)
    assert done.returncode == 0, done.stderr
    assert "LibraryNotFound: stream statistics are unavailable" in done.stdout
    assert path in done.stdout
    assert "QZ417MODEL_C_LIBRARY" in done.stdout
