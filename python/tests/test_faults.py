"""Failures of the scanner become exceptions, and end the connection."""

from __future__ import annotations

import time

import pytest

import qz417link
from conftest import start_emulator
from qz417link import Scanner


@pytest.fixture(scope="module")
def faulty():
    # Scanner 1 (127.0.0.2) stalls after two commands; scanner 2 (127.0.0.3)
    # would close mid-reply, but one emulator takes one fault kind, so the
    # closing scanner runs in a second emulator below.
    sim = start_emulator(["--stall-after", "2", "--fault-scanner", "1"], scanners=2)
    yield sim
    sim.stop()


def test_silent_scanner_raises_timeout_and_closes(faulty):
    with Scanner("127.0.0.2") as s:
        s.get_packet()
        s.get_packet()
        started = time.monotonic()
        with pytest.raises(qz417link.Timeout):
            s.get_packet()
        assert 3.5 <= time.monotonic() - started < 8.0
        assert s.closed
        with pytest.raises(qz417link.Closed):
            s.get_packet()


def test_healthy_scanner_beside_the_faulty_one_answers(faulty):
    with Scanner("127.0.0.1") as s:
        for _ in range(4):
            assert s.get_profile().valid_count > 0


def test_scanner_closing_mid_reply_raises_closed(faulty):
    faulty.stop()
    sim = start_emulator(["--close-mid-reply-after", "1"])
    try:
        with Scanner("127.0.0.1") as s:
            s.read_params()
            with pytest.raises(qz417link.Closed):
                s.get_image()
            assert s.closed
    finally:
        sim.stop()
