"""qz417link for Python: QZ417 laser profile scanners through libqz417link.

    import itertools, qz417link

    devices = qz417link.search(time_ms=2000)
    with qz417link.Scanner(devices[0]) as scanner:
        profile = scanner.get_profile()         # x, z: float32 arrays in mm, NaN = invalid
        image = scanner.get_image()             # 512 x 640 uint8 array
        block = scanner.read_params()           # fields by name
        block["laserLevel"] = 20
        scanner.write_params(block)
    with qz417link.UdpStream(6003, devices[0].scale()) as stream:
        for profile in itertools.islice(stream, 10):
            print(profile.measurement_count, profile.valid_count)

Failures raise QZ417Error subclasses (ConnectionFailed, Timeout, Closed, ...).
The shared library is loaded on first use from $QZ417LINK_LIBRARY, else as
libqz417link.so.1 (package libqz417link1).
"""

from ._lib import CONFIG_SIZE, IMAGE_HEIGHT, IMAGE_SIZE, IMAGE_WIDTH, PACKET_SIZE, TYPE_CODE
from .device import ANY_TYPE, Description, Device, search
from .errors import (
    Closed,
    ConnectionFailed,
    ExchangeFailed,
    FieldTableMissing,
    LibraryNotFound,
    QZ417Error,
    StreamUnavailable,
    Timeout,
)
from .measure import Job, JobError, MeasureError, RecordingResults, Results, StoredResults, ToolResult, stored_results
from .params import Field, ParamBlock, fields
from .profile import POINTS, Profile, Scale, decode, decode_many
from .scanner import ANGLE_OUT_OF_RANGE, FlushMode, Scanner, angle_degrees
from .stream import DEFAULT_PORT, StreamCounter, StreamStatistics, UdpStream

__version__ = "1.0.0"

__all__ = [
    "ANGLE_OUT_OF_RANGE",
    "ANY_TYPE",
    "CONFIG_SIZE",
    "Closed",
    "ConnectionFailed",
    "DEFAULT_PORT",
    "Description",
    "Device",
    "ExchangeFailed",
    "Field",
    "FieldTableMissing",
    "FlushMode",
    "Job",
    "JobError",
    "MeasureError",
    "RecordingResults",
    "Results",
    "ToolResult",
    "IMAGE_HEIGHT",
    "IMAGE_SIZE",
    "IMAGE_WIDTH",
    "LibraryNotFound",
    "PACKET_SIZE",
    "POINTS",
    "ParamBlock",
    "Profile",
    "QZ417Error",
    "Scale",
    "Scanner",
    "StreamCounter",
    "StreamStatistics",
    "StreamUnavailable",
    "TYPE_CODE",
    "Timeout",
    "UdpStream",
    "angle_degrees",
    "decode",
    "decode_many",
    "fields",
    "search",
]
