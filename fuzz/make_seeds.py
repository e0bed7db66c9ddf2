#!/usr/bin/env python3
"""Writes the seed corpora of the harnesses into corpus/<harness>/.

The seeds are small well-formed and deliberately broken inputs in each
harness's input layout; run again after changing a layout.
"""
import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(harness, name, data):
    d = os.path.join(HERE, "corpus", harness)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def description(modification=0x2F, serial=10001, base=80, rz=250, rxs=140, rxe=230,
                discrete=16384, error=0, version=417):
    head = bytes([modification]) + serial.to_bytes(3, "little")
    head += struct.pack("<HHHHHhI", base, rz, rxs, rxe, discrete, error, version)
    return head + bytes(255 - len(head))


def announcement(ip, type_code=417, mac=(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E), desc=None):
    body = struct.pack("<H", type_code) + bytes(ip) + bytes(mac)
    body += desc if desc is not None else description()
    return body + b"\x00"


def framed(datagram):
    return struct.pack("<H", len(datagram)) + datagram


# Discovery: filter, node budget, framed datagrams.
a = announcement((127, 0, 0, 2))
b = announcement((127, 0, 0, 3), desc=description(serial=10002))
write("discovery_list_fuzzer", "two_scanners", struct.pack("<HB", 417, 0) + framed(a) + framed(b))
write("discovery_list_fuzzer", "duplicate_address",
      struct.pack("<HB", 417, 0) + framed(a) + framed(announcement((127, 0, 0, 2), mac=(1,) * 6)))
write("discovery_list_fuzzer", "wrong_sizes",
      struct.pack("<HB", 417, 0) + framed(a[:267]) + framed(a + b"\x00") + framed(b))
write("discovery_list_fuzzer", "other_type_every_filter",
      struct.pack("<HB", 0xFFFF, 0) + framed(announcement((10, 0, 0, 1), type_code=418)) + framed(a))
write("discovery_list_fuzzer", "zero_address",
      struct.pack("<HB", 417, 0) + framed(announcement((0, 0, 0, 0))) + framed(a))
write("discovery_list_fuzzer", "out_of_memory",
      struct.pack("<HB", 417, 2) + framed(a) + framed(b) + framed(announcement((127, 0, 0, 4))))


# Profile packets: scale, then the packet.
def packet(count, packets, points):
    out = struct.pack("<HH", count, packets)
    for z, x in points:
        out += struct.pack("<hh", z, x)
    return out + bytes(4100 - len(out))


default_scale = struct.pack("<HHHh", 230, 250, 16384, 0)
line = [(8192 + i, i * 16 - 8192) for i in range(1024)]
write("profile_packet_fuzzer", "line", default_scale + packet(7, 3, line))
write("profile_packet_fuzzer", "extremes",
      default_scale + packet(65535, 0, [(32767, -32768), (-32768, 32767), (1, 1), (0, 5)] * 256))
write("profile_packet_fuzzer", "error_value_scale",
      struct.pack("<HHHh", 230, 250, 16384, -32768) + packet(1, 1, [(-32768, 5), (5, -32768)] * 512))
write("profile_packet_fuzzer", "zero_discrete", struct.pack("<HHHh", 230, 250, 0, 0) + packet(2, 2, line))
write("profile_packet_fuzzer", "huge_range",
      struct.pack("<HHHh", 65535, 65535, 1, 0) + packet(3, 3, [(32767, -32767)] * 1024))
write("profile_packet_fuzzer", "short", default_scale + b"\x01\x00\x02\x00")

# Device descriptions.
write("device_description_fuzzer", "emulated", description())
write("device_description_fuzzer", "all_options", description(modification=0xFF, serial=0xFFFFFF,
                                                            error=-32768, version=0xFFFFFFFF))
write("device_description_fuzzer", "none", bytes(255))
write("device_description_fuzzer", "current_out", description(modification=0x17, discrete=0))

# Command replies: operation, piece size, flags, flush mode (4 bytes), reply bytes.
def reply(op, piece, flags, body, mode=0):
    return bytes([op, piece, flags]) + struct.pack("<i", mode) + body


write("command_reply_fuzzer", "profile_whole", reply(0, 0, 0, packet(1, 1, line)))
write("command_reply_fuzzer", "profile_bytewise", reply(0, 1, 0, packet(9, 9, line[:16])))
write("command_reply_fuzzer", "profile_cut", reply(0, 7, 0, packet(1, 1, line)[:3000]))
write("command_reply_fuzzer", "image_repeated", reply(1, 3, 1, bytes(range(256))))
write("command_reply_fuzzer", "image_cut", reply(1, 0, 0, bytes(range(256)) * 20))
write("command_reply_fuzzer", "read_whole", reply(2, 0, 0, bytes(range(256)) * 2))
write("command_reply_fuzzer", "read_bytewise_cut", reply(2, 1, 0, bytes(300)))
write("command_reply_fuzzer", "write", reply(3, 0, 0, b""))
write("command_reply_fuzzer", "flush_defaults", reply(4, 1, 0, b"\x01\x00", mode=1))
write("command_reply_fuzzer", "flush_negative_mode", reply(4, 0, 0, b"\x00", mode=-2))
write("command_reply_fuzzer", "angle", reply(5, 1, 0, struct.pack("<h", -1234)))
write("command_reply_fuzzer", "angle_extra", reply(5, 0, 0, b"\x01\x02\x03\x04"))


# Parameter blocks, then page actions.
def block(**fields):
    b = bytearray(512)
    b[0] = fields.get("laser", 12)
    b[1:3] = struct.pack("<H", fields.get("integration", 99))
    b[3:5] = b"\xAB\xCD"
    b[5:10] = bytes([10, 200, 20, 180, 3])
    b[10:12] = struct.pack("<h", fields.get("angle", 546))
    b[12] = fields.get("sync", 0x85)
    b[13] = 0x5A
    b[14:18] = bytes(fields.get("lists", [3, 10, 2, 9]))
    b[18:22] = bytes([30, 1, 168, 192])
    b[22:26] = bytes([0, 255, 255, 255])
    b[26:30] = bytes([1, 0, 0, 127])
    b[30:32] = struct.pack("<H", 6003)
    b[32] = fields.get("udp", 0)
    for i in range(33, 512):
        b[i] = (i * 37 + 11) & 0xFF
    return bytes(b)


write("parameter_block_fuzzer", "typical", block())
write("parameter_block_fuzzer", "out_of_range",
      block(laser=255, angle=-32768, sync=0xFF, lists=[255, 255, 200, 255], udp=255))
write("parameter_block_fuzzer", "all_ones", b"\xFF" * 512)
write("parameter_block_fuzzer", "zeros", bytes(512))
# Actions: check boxes, radio buttons, list items, edits, track bars, a description.
actions = bytes([0, 1, 1, 2, 3, 0, 4, 5, 1, 6])
actions += bytes([7, 5, 0, 8, 0, 1, 9, 9, 0, 10, 0, 0, 11, 7, 0])
actions += bytes([12, 0, 3, 3, 0, 0, 12, 5, 3, 2, 5, 5, 12, 9, 0])
actions += bytes([13, 5, 7, 0, 0, 0, 0, 13, 4, 6, 0, 0, 4])
actions += bytes([14, 0, 40, 0, 14, 2, 0, 128]) + bytes([15]) + description(modification=0x17)
write("parameter_block_fuzzer", "edits", block() + actions)


def recording_reader_seeds():
    """Mode byte, then: 0 a file built with HDF5, 1 a valid recording cut
    (24-bit length), 2 byte changes (superblock or profile, offset, value)."""
    h = "recording_reader_fuzzer"
    # Mode 0: newest format, the right format name, version 1 as uint32, then
    # the datasets of a recording: name index, type code, rank, rows, row
    # size (4100 or 512), chunked, filled.
    ds = b""
    for name, type_code, rank, row in ((0, 0, 2, 0), (1, 5, 1, 0), (2, 5, 1, 0), (4, 0, 2, 1),
                                       (5, 6, 1, 0), (6, 5, 1, 0), (7, 6, 1, 0)):
        ds += bytes([name, type_code, rank - 1]) + struct.pack("<H", 2)
        ds += bytes([1 if row == 0 else 0, 0, 1 if row else 0, 1, 7, 1]) + bytes(range(64))
    write(h, "built_valid", bytes([0, 1, 0, 1, 1, 0, 4, 7]) + ds)
    write(h, "built_wrong_name", bytes([0, 1, 1, 1, 1, 0, 4, 0]))
    write(h, "built_version_2", bytes([0, 1, 0, 1, 2, 0, 4, 7]) + ds)
    write(h, "built_no_version", bytes([0, 0, 0, 0, 7]) + ds)
    for n in (0, 8, 47, 48, 500, 2000, 50000, 90000):
        write(h, "cut_%d" % n, bytes([1, (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF]))
    write(h, "superblock_byte", bytes([2, 1, 20, 0xFF]))
    write(h, "superblock_signature", bytes([2, 1, 3, 0x00]))
    write(h, "profile_bytes", bytes([2, 0, 0x10, 0x00, 0x55, 0, 0x20, 0x01, 0xAA]))


recording_reader_seeds()


def params_document(b, fields=None, version=1, lines=None):
    """The parameter file of qz417ctl params save, with the given named fields."""
    hex_lines = ["%03x:%s" % (i * 16, "".join(" %02x" % v for v in b[i * 16:i * 16 + 16]))
                 for i in range(32)]
    if lines is not None:
        hex_lines = lines(hex_lines)
    if fields is None:
        fields = {"laserLevel": b[0], "integration": struct.unpack("<H", b[1:3])[0],
                  "angle": struct.unpack("<h", b[10:12])[0],
                  "netAddress": "%d.%d.%d.%d" % tuple(b[21:17:-1]),
                  "udpPort": struct.unpack("<H", b[30:32])[0], "udpFrequency": b[32]}
    return (json.dumps({"format": "qz417 parameter block", "version": version,
                        "address": "127.0.0.1", "fields": fields, "block": hex_lines},
                       indent=2) + "\n").encode()


typical = block()
write("params_file_fuzzer", "typical", params_document(typical))
write("params_file_fuzzer", "edited_field",
      params_document(typical, fields={"laserLevel": 20, "udpAddress": "127.0.0.1"}))
write("params_file_fuzzer", "out_of_range_edit", params_document(typical, fields={"laserLevel": 99}))
write("params_file_fuzzer", "unknown_field", params_document(typical, fields={"colour": 1}))
write("params_file_fuzzer", "no_fields", params_document(typical, fields={}))
write("params_file_fuzzer", "short_block", params_document(typical, lines=lambda l: l[:31]))
write("params_file_fuzzer", "bad_hex",
      params_document(typical, lines=lambda l: l[:5] + [l[5].replace(" ", " g", 1)] + l[6:]))
write("params_file_fuzzer", "version_2", params_document(typical, version=2))
write("params_file_fuzzer", "nested", b"[" * 200 + b"]" * 200)
write("params_file_fuzzer", "escapes", b'{"format": "qz417 \\u0070arameter block\\n", "x": "\\ud800"}')


def measure_job(tools, fmt="qz417-measure-job", version=1):
    return (json.dumps({"format": fmt, "version": version, "tools": tools}, indent=1) + "\n").encode()


every_tool = [
    {"name": "top", "tool": "height", "region": {"x": [-10, 10], "z": [None, 60]},
     "limits": {"mean": {"min": 49, "max": 51}}},
    {"name": "flat", "tool": "line", "region": {"x": [-55, -30]}, "fit": {"rejectSigma": 2.5, "iterations": 4},
     "limits": {"straightness": {"max": 0.1}}},
    {"name": "step", "tool": "step", "regions": [{"x": [-15, 0]}, {"x": [10, 25]}], "referenceX": 5},
    {"name": "edge", "tool": "edge", "region": {"x": [0, 10]}, "level": 1, "levelBase": [{"x": [-15, 0]}],
     "direction": "rising", "pick": "last"},
    {"name": "groove", "tool": "width", "region": {"x": [-30, -10]}, "level": 48.5, "polarity": "groove"},
    {"name": "joint", "tool": "gap", "regions": [{"x": [15, 27]}, {"x": [33, 50]}], "tolerance": 0.3},
    {"name": "vee", "tool": "angle", "regions": [{"x": [-50, -30]}, {"x": [10, 25]}], "fit": {"level": True}},
    {"name": "fill", "tool": "area", "region": {"x": [-30, -10]}, "base": [{"x": [-50, -30]}, {"x": [-5, 0]}]},
    {"name": "fixed", "tool": "area", "region": {"x": [-30, -10]}, "base": {"angle": 1.5, "offset": 50}},
]
write("measure_job_fuzzer", "every_tool", measure_job(every_tool))
write("measure_job_fuzzer", "one_height", measure_job([{"tool": "height", "region": {"x": [-1, 1]}}]))
write("measure_job_fuzzer", "inverted_limits", measure_job(
    [{"name": "w", "tool": "step", "regions": [{"x": [-5, -1]}, {"x": [1, 5]}], "limits": {"step": {"min": 2, "max": 1}}}]))
write("measure_job_fuzzer", "inverted_region", measure_job([{"tool": "height", "region": {"x": [5, -5]}}]))
write("measure_job_fuzzer", "unknown_tool", measure_job([{"tool": "diameter", "region": {"x": [0, 1]}}]))
write("measure_job_fuzzer", "foreign", measure_job([], fmt="qz417 parameter block"))
write("measure_job_fuzzer", "version_2", measure_job(every_tool[:1], version=2))
write("measure_job_fuzzer", "nested", b'{"format": "qz417-measure-job", "version": 1, "tools": ' + b"[" * 300 + b"]" * 300 + b"}")
write("measure_job_fuzzer", "huge_number", measure_job([{"tool": "height", "region": {"x": [0, 1e308]}}]))
