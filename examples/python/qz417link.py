"""qz417link for Python: the device link library's C functions through ctypes.

Standard library only. The shared library is loaded from $QZ417LINK_LIBRARY
if set, else by its name libqz417link.so.1 (found through the usual library
search path, as installed by the libqz417link1 package).

    import qz417link
    for dev in qz417link.search(time_ms=2000):
        print(dev.address, dev.mac, dev.description.serial_number)
    with qz417link.Scanner("127.0.0.1") as scanner:
        block = scanner.read_params()                  # 512 bytes
        profile = scanner.get_profile()                # decoded, millimetres
"""

import ctypes
import ctypes.util
import os
import struct

ANNOUNCEMENT_SIZE = 268
PACKET_SIZE = 4100
IMAGE_WIDTH = 640
IMAGE_HEIGHT = 512
IMAGE_SIZE = IMAGE_WIDTH * IMAGE_HEIGHT
CONFIG_SIZE = 512
TYPE_CODE = 417
FLUSH_STORE = 0
FLUSH_DEFAULTS = 1
ANGLE_OUT_OF_RANGE = -32768


class QZ417Error(Exception):
    """A call into the library failed (no scanner, time-out, closed connection)."""


class DeviceAnnouncement(ctypes.Structure):
    pass


DeviceAnnouncement._fields_ = [
    ("type", ctypes.c_uint16),
    ("ip", ctypes.c_uint8 * 4),
    ("mac", ctypes.c_uint8 * 6),
    ("description", ctypes.c_uint8 * 255),
    ("reserved", ctypes.c_uint8),
    ("next", ctypes.POINTER(DeviceAnnouncement)),
]


def _load():
    path = os.environ.get("QZ417LINK_LIBRARY") or ctypes.util.find_library("qz417link")
    lib = ctypes.CDLL(path or "libqz417link.so.1", use_errno=True)
    i32, buf = ctypes.c_int32, ctypes.c_void_p
    signatures = {
        "QZ417_Connect": (i32, [ctypes.POINTER(DeviceAnnouncement)]),
        "QZ417_Disconnect": (i32, [i32]),
        "QZ417_GetResult": (i32, [i32, buf]),
        "QZ417_GetImage": (i32, [i32, buf]),
        "QZ417_ReadParams": (i32, [i32, buf]),
        "QZ417_WriteParams": (i32, [i32, buf]),
        "QZ417_FlushParams": (i32, [i32, i32]),
        "QZ417_CalcAngle": (i32, [i32, buf]),
        "QZ_Search": (ctypes.POINTER(DeviceAnnouncement), [i32, i32]),
        "QZ_ClearList": (None, [ctypes.POINTER(DeviceAnnouncement)]),
        "QZ417_UDP_Connect": (i32, [i32]),
        "QZ417_UDP_GetResult": (i32, [i32, buf]),
        "QZ417_UDP_Disconnect": (i32, [i32]),
    }
    for name, (restype, argtypes) in signatures.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return lib


_lib = _load()


class Description:
    """The first 20 bytes of an announcement's description field."""

    def __init__(self, raw):
        (self.modification, s0, s1, s2, self.base_distance, self.range_z,
         self.range_x_smr, self.range_x_emr, self.discrete_value, self.error_value,
         self.firmware_version) = struct.unpack_from("<BBBBHHHHHhI", bytes(raw[:20]))
        self.serial_number = s0 | (s1 << 8) | (s2 << 16)

    def scale(self):
        return Scale(self.range_x_emr, self.range_z, self.discrete_value, self.error_value)


class Scale:
    """How raw points become millimetres; the defaults are the usual scanner's."""

    def __init__(self, range_x_emr=230, range_z=250, discrete_value=16384, error_value=0):
        self.range_x_emr = range_x_emr
        self.range_z = range_z
        self.discrete_value = discrete_value
        self.error_value = error_value


class Device:
    """One scanner heard by search()."""

    def __init__(self, node):
        self.type = node.type
        self.address = ".".join(str(b) for b in node.ip)
        self.mac = "-".join("%02X" % b for b in node.mac)
        self.description = Description(node.description)


class Profile:
    """One measured profile: counters and 1024 points, None for invalid ones."""

    def __init__(self, packet, scale):
        self.measurement_count, self.packet_count = struct.unpack_from("<HH", packet, 0)
        self.points = []
        for z, x in struct.iter_unpack("<hh", packet[4:PACKET_SIZE]):
            if x == scale.error_value or z == scale.error_value or scale.discrete_value == 0:
                self.points.append(None)
            else:
                self.points.append((scale.range_x_emr * x / scale.discrete_value,
                                    scale.range_z * z / scale.discrete_value))

    def valid_points(self):
        return [p for p in self.points if p is not None]


def search(type_filter=TYPE_CODE, time_ms=5000):
    """Listens time_ms (1..65535) for announcements; returns a list of Device."""
    head = _lib.QZ_Search(type_filter, time_ms)
    devices = []
    node = head
    while node:
        devices.append(Device(node.contents))
        node = node.contents.next
    _lib.QZ_ClearList(head)
    return devices


def _fail(what, address):
    err = ctypes.get_errno()
    reason = os.strerror(err) if err else "connection closed"
    return QZ417Error("%s with %s failed: %s" % (what, address, reason))


class Scanner:
    """A command connection to the scanner at an IPv4 address."""

    def __init__(self, address, scale=None):
        self.address = address
        self.scale = scale or Scale()
        record = DeviceAnnouncement()
        record.type = TYPE_CODE
        for i, part in enumerate(address.split(".")):
            record.ip[i] = int(part)
        self._socket = _lib.QZ417_Connect(ctypes.byref(record))
        if self._socket == -1:
            raise QZ417Error("no scanner at %s" % address)

    def close(self):
        if self._socket not in (0, -1):
            _lib.QZ417_Disconnect(self._socket)
        self._socket = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _exchange(self, fn, size, what):
        buf = ctypes.create_string_buffer(size)
        if fn(self._socket, buf) != 1:
            raise _fail(what, self.address)
        return buf.raw

    def get_packet(self):
        return self._exchange(_lib.QZ417_GetResult, PACKET_SIZE, "profile request")

    def get_profile(self):
        return Profile(self.get_packet(), self.scale)

    def get_image(self):
        """640 x 512 brightness bytes, top row first."""
        return self._exchange(_lib.QZ417_GetImage, IMAGE_SIZE, "image request")

    def read_params(self):
        return self._exchange(_lib.QZ417_ReadParams, CONFIG_SIZE, "parameter read")

    def write_params(self, block):
        if len(block) != CONFIG_SIZE:
            raise ValueError("the parameter block has 512 bytes")
        buf = ctypes.create_string_buffer(bytes(block), CONFIG_SIZE)
        if _lib.QZ417_WriteParams(self._socket, buf) != 1:
            raise _fail("parameter write", self.address)

    def flush_params(self, mode=FLUSH_STORE):
        if _lib.QZ417_FlushParams(self._socket, mode) != 1:
            raise _fail("parameter store", self.address)

    def calc_angle(self):
        """Degrees, or None when the scanner found no angle."""
        units = struct.unpack("<h", self._exchange(_lib.QZ417_CalcAngle, 2, "angle calculation"))[0]
        return None if units == ANGLE_OUT_OF_RANGE else units * 60.0 / 32767


class Stream:
    """Receives the UDP profile stream on a local port."""

    def __init__(self, port=6003):
        self._socket = _lib.QZ417_UDP_Connect(port)
        if self._socket == -1:
            raise QZ417Error("cannot receive on UDP port %d" % port)

    def receive(self):
        """One 4100-byte packet, or None after about 50 ms without one."""
        buf = ctypes.create_string_buffer(PACKET_SIZE)
        return buf.raw if _lib.QZ417_UDP_GetResult(self._socket, buf) == 1 else None

    def close(self):
        if self._socket != -1:
            _lib.QZ417_UDP_Disconnect(self._socket)
        self._socket = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
