"""Shared fixtures: the package under test, and emulated scanners.

The emulator tests need QZ417SIM (path of qz417sim) and QZ417LINK_LIBRARY
(path of libqz417link.so.1); ctest sets both. They bind TCP port 417 on
127.0.0.x and UDP ports 6001 and 6003, so ctest runs them in a network
namespace of their own.
"""

from __future__ import annotations

import os
import socket
import subprocess
import time
from typing import Iterator, List

import pytest

START_TIMEOUT_S = 10.0
STOP_TIMEOUT_S = 10.0


class Emulator:
    """A running qz417sim process, stopped by its own PID."""

    def __init__(self, args: List[str]) -> None:
        path = os.environ.get("QZ417SIM")
        if not path:
            pytest.fail("QZ417SIM is not set: the path of the qz417sim emulator")
        self.args = [path, "--quiet", *args]
        self.process = subprocess.Popen(self.args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def wait_listening(self, address: str) -> None:
        deadline = time.monotonic() + START_TIMEOUT_S
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                err = self.process.stderr.read().decode(errors="replace") if self.process.stderr else ""
                pytest.fail(f"qz417sim ended at start ({self.process.returncode}): {err}")
            try:
                with socket.create_connection((address, 417), timeout=0.2):
                    return
            except OSError:
                time.sleep(0.05)
        self.stop()
        pytest.fail(f"qz417sim did not listen on {address}:417 within {START_TIMEOUT_S} s")

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=STOP_TIMEOUT_S)
        if self.process.stderr:
            self.process.stderr.close()


def start_emulator(args: List[str], scanners: int = 1) -> Emulator:
    emulator = Emulator(["--count", str(scanners), *args])
    for k in range(scanners):
        emulator.wait_listening(f"127.0.0.{k + 1}")
    return emulator


@pytest.fixture(scope="module")
def emulator() -> Iterator[Emulator]:
    """One well-behaved scanner at 127.0.0.1, announcing every 100 ms."""
    sim = start_emulator(["--announce-interval", "100"])
    yield sim
    sim.stop()


def open_fds() -> int:
    return len(os.listdir("/proc/self/fd"))
