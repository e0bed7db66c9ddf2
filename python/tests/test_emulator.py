"""The package against the emulated scanner: search, command channel, stream."""

from __future__ import annotations

import itertools
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest

import qz417link
from conftest import open_fds
from qz417link import FlushMode, ParamBlock, Scanner, UdpStream

ADDRESS = "127.0.0.1"


@pytest.fixture
def scanner(emulator):
    with Scanner(ADDRESS) as s:
        yield s
        if not s.closed:
            s.flush_params(FlushMode.DEFAULTS)  # leave the factory block for the next test


def test_search_finds_the_scanner_with_its_description(emulator):
    devices = qz417link.search(time_ms=600)
    assert [d.address for d in devices] == [ADDRESS]
    device = devices[0]
    assert device.type == 417 and len(device.mac.split("-")) == 6
    d = device.description
    assert (d.serial_number, d.range_z, d.range_x_emr, d.discrete_value) == (10000, 250, 230, 16384)
    assert device.scale() == qz417link.Scale(230, 250, 16384, 0)
    # A search for another type code hears nothing.
    assert qz417link.search(time_ms=300, type_filter=418) == []


class TestCommands:
    def test_profile_is_decoded_with_the_connections_scale(self, scanner):
        first = scanner.get_profile()
        # The scanner measures on: a later profile has another counter (the
        # emulator measures 1000 times a second; 2 s at most).
        deadline = time.monotonic() + 2.0
        second = scanner.get_profile()
        while second.measurement_count == first.measurement_count and time.monotonic() < deadline:
            second = scanner.get_profile()
        assert first.valid_count > 100
        assert np.isfinite(first.x[first.valid]).all()
        assert (first.z[first.valid] >= -1).all() and (first.z[first.valid] <= 260).all()
        assert second.measurement_count != first.measurement_count
        # The same bytes decode to the same profile outside the connection.
        again = qz417link.decode(first.packet, scanner.scale)
        assert np.array_equal(again.x, first.x, equal_nan=True)

    def test_image_is_a_512_by_640_array(self, scanner):
        image = scanner.get_image()
        assert image.shape == (512, 640) and image.dtype == np.uint8
        assert image.max() > image.min()  # the laser line shows

    def test_parameter_change_is_written_and_read_back(self, scanner):
        block = scanner.read_params()
        assert isinstance(block, ParamBlock) and block["laserLevel"] == 16
        block["laserLevel"] = 20
        block["udpPort"] = 6010
        block["netMask"] = "255.255.0.0"
        scanner.write_params(block)
        again = scanner.read_params()
        assert again == block
        assert (again["laserLevel"], again["udpPort"], again["netMask"]) == (20, 6010, "255.255.0.0")

    def test_uninterpreted_bytes_travel_unchanged(self, scanner):
        raw = bytearray(bytes(scanner.read_params()))
        raw[3], raw[13], raw[100], raw[511] = 0xA5, 0x5A, 0x42, 0x24
        scanner.write_params(bytes(raw))
        back = bytes(scanner.read_params())
        assert back == bytes(raw)
        assert back[12] & 0x80  # the emulator's factory block sets bit 7 of the sync flags

    def test_defaults_restore_the_factory_block(self, scanner):
        factory = scanner.read_params()
        changed = factory.copy()
        changed["syncDelay"] = 77
        scanner.write_params(changed)
        scanner.flush_params(FlushMode.DEFAULTS)
        assert scanner.read_params() == factory

    def test_angle_is_the_emulated_tilt(self, scanner):
        angle = scanner.calc_angle()
        assert angle is not None and abs(angle - 3.0) < 0.5


class TestStream:
    def test_iterating_yields_decoded_profiles_of_the_stream(self, scanner):
        block = scanner.read_params()
        block.update({"udpAddress": "127.0.0.1", "udpPort": 6003, "udpFrequency": 100})
        with UdpStream(6003, scanner.scale, timeout=2.0) as stream:
            scanner.write_params(block)
            profiles = list(itertools.islice(stream, 5))
        counts = [p.packet_count for p in profiles]
        assert all((b - a) % 65536 >= 1 for a, b in zip(counts, counts[1:]))
        assert all(p.valid_count > 100 for p in profiles)

    def test_silent_port_times_out_within_its_bound(self, emulator):
        with UdpStream(6004, timeout=0.3) as stream:
            started = time.monotonic()
            with pytest.raises(qz417link.Timeout):
                next(stream)
            assert 0.25 <= time.monotonic() - started < 2.0
            assert stream.receive(timeout=0) is None

    def test_port_in_use_is_refused(self, emulator):
        with UdpStream(6005):
            with pytest.raises(qz417link.StreamUnavailable):
                UdpStream(6005)


class TestLifetime:
    def test_context_managers_close_their_sockets(self, emulator):
        before = open_fds()
        with Scanner(ADDRESS) as s:
            s.get_packet()
            with UdpStream(6006):
                assert open_fds() == before + 2
        assert open_fds() == before
        assert s.closed

    def test_closed_scanner_raises_closed(self, emulator):
        s = Scanner(ADDRESS)
        s.close()
        s.close()  # twice is harmless
        with pytest.raises(qz417link.Closed):
            s.read_params()
        stream = UdpStream(6007)
        stream.close()
        with pytest.raises(qz417link.Closed):
            stream.receive_packet(timeout=0)

    def test_nobody_listening_is_connection_failed(self, emulator):
        with pytest.raises(qz417link.ConnectionFailed, match="127.0.0.9"):
            Scanner("127.0.0.9")

    def test_malformed_address_is_a_value_error(self):
        with pytest.raises(ValueError):
            Scanner("127.0.0")


def test_scan_example_saves_a_profile(emulator, tmp_path):
    example = Path(__file__).resolve().parents[2] / "examples" / "python" / "scan_example.py"
    output = tmp_path / "profile.csv"
    done = subprocess.run(
        [sys.executable, str(example), "--time", "600", "--output", str(output)],
        capture_output=True, text=True, timeout=30, check=False,
    )
    assert done.returncode == 0, done.stderr
    assert "laser level 16" in done.stdout
    lines = output.read_text().splitlines()
    assert lines[0] == "point,x_mm,z_mm" and len(lines) > 100
    point, x, z = lines[1].split(",")
    assert int(point) >= 1 and -115 <= float(x) <= 115 and 0 <= float(z) <= 250
