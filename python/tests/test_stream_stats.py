"""The stream's counts through the Python binding: the table of packetCount
sequences that the model library's own test (tests/model/stream_stats_test.cpp)
checks, read from the same file, must give exactly the same figures."""

from __future__ import annotations

import json
from pathlib import Path
from typing import Any, Dict, List

import pytest

import qz417link
from qz417link import StreamCounter, StreamStatistics

CASES_FILE = Path(__file__).resolve().parents[2] / "tests" / "model" / "data" / "stream_cases.json"


def _counters(items: List[Any]) -> List[int]:
    """A list of numbers and [first, last] or [first, last, step] runs."""
    out: List[int] = []
    for item in items:
        if isinstance(item, list):
            step = item[2] if len(item) > 2 else 1
            out.extend(v & 0xFFFF for v in range(item[0], item[1] + 1, step))
        else:
            out.append(item & 0xFFFF)
    return out


def _cases() -> List[Dict[str, Any]]:
    return json.loads(CASES_FILE.read_text())["cases"]


def test_the_table_holds_the_kinds_of_cases():
    names = " ".join(c["name"] for c in _cases())
    assert len(_cases()) >= 15
    for kind in ("gap", "wrap", "swapped", "duplicate", "restart", "stale"):
        assert kind in names


@pytest.mark.parametrize("case", _cases(), ids=lambda c: c["name"])
def test_every_case_of_the_shared_table(case):
    counters = _counters(case["counters"])
    expected = case["expected"]
    counter = StreamCounter()
    counter.observe_all(counters)
    got = counter.counts()
    assert got == StreamStatistics(
        received=len(counters),
        lost=expected["lost"],
        late=expected.get("late", 0),
        duplicates=expected.get("duplicates", 0),
        restarts=expected.get("restarts", 0),
    )
    assert got.out_of_order == got.late + got.duplicates


def _packet(packet_count: int) -> bytes:
    packet = bytearray(qz417link.PACKET_SIZE)
    packet[0:2] = (0xBEEF).to_bytes(2, "little")  # measurementCount: not counted
    packet[2:4] = packet_count.to_bytes(2, "little")
    return bytes(packet)


def test_packets_are_counted_by_their_packet_count():
    by_count, by_packet = StreamCounter(), StreamCounter()
    sequence = [65534, 65535, 1, 0, 0, 2]  # a wrap, a swap, a duplicate
    for value in sequence:
        by_count.observe(value)
        by_packet.observe_packet(_packet(value))
    assert by_packet.counts() == by_count.counts()
    assert by_packet.counts() == StreamStatistics(received=6, lost=0, late=1, duplicates=1, restarts=0)


def test_bad_input_is_refused_before_it_reaches_the_library():
    counter = StreamCounter()
    with pytest.raises(ValueError):
        counter.observe(65536)
    with pytest.raises(ValueError):
        counter.observe(-1)
    with pytest.raises(ValueError):
        counter.observe_packet(bytes(4099))
    assert counter.counts().received == 0
    counter.free()
    counter.free()  # twice is harmless
    with pytest.raises(qz417link.Closed):
        counter.observe(1)
