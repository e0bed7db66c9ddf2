"""ctypes bindings of the thirteen C functions of libqz417link.

The library is loaded on first use, so that decoding and the parameter block
work without it. It is taken from $QZ417LINK_LIBRARY if that is set, else by
its soname libqz417link.so.1 through the usual library search path (as
installed by the libqz417link1 package).
"""

from __future__ import annotations

import ctypes
import os
from types import TracebackType
import threading
from typing import Any, Callable, Dict, List, Optional, Tuple, Type, TypeVar

from .errors import LibraryNotFound

ANNOUNCEMENT_SIZE = 268
PACKET_SIZE = 4100
IMAGE_WIDTH = 640
IMAGE_HEIGHT = 512
IMAGE_SIZE = IMAGE_WIDTH * IMAGE_HEIGHT
CONFIG_SIZE = 512
ANGLE_SIZE = 2
TYPE_CODE = 417
DESCRIPTION_SIZE = 255
SONAME = "libqz417link.so.1"


class DeviceAnnouncement(ctypes.Structure):
    """A node of the device list; the first 268 bytes are the announcement."""


DeviceAnnouncement._fields_ = [
    ("type", ctypes.c_uint16),
    ("ip", ctypes.c_uint8 * 4),
    ("mac", ctypes.c_uint8 * 6),
    ("description", ctypes.c_uint8 * DESCRIPTION_SIZE),
    ("reserved", ctypes.c_uint8),
    ("next", ctypes.POINTER(DeviceAnnouncement)),
]

_i32 = ctypes.c_int32
_buf = ctypes.c_void_p
_node = ctypes.POINTER(DeviceAnnouncement)

_SIGNATURES: dict[str, Tuple[Any, list[Any]]] = {
    "QZ417_Connect": (_i32, [_node]),
    "QZ417_Disconnect": (_i32, [_i32]),
    "QZ417_GetResult": (_i32, [_i32, _buf]),
    "QZ417_GetImage": (_i32, [_i32, _buf]),
    "QZ417_ReadParams": (_i32, [_i32, _buf]),
    "QZ417_WriteParams": (_i32, [_i32, _buf]),
    "QZ417_FlushParams": (_i32, [_i32, _i32]),
    "QZ417_CalcAngle": (_i32, [_i32, _buf]),
    "QZ_Search": (_node, [_i32, _i32]),
    "QZ_ClearList": (None, [_node]),
    "QZ417_UDP_Connect": (_i32, [_i32]),
    "QZ417_UDP_GetResult": (_i32, [_i32, _buf]),
    "QZ417_UDP_Disconnect": (_i32, [_i32]),
}

_loaded: Optional[ctypes.CDLL] = None
_load_lock = threading.Lock()


def bind_signatures(
    lib: ctypes.CDLL, signatures: Dict[str, Tuple[Any, List[Any]]], missing: Callable[[str], str]
) -> None:
    """Sets the result and argument types of every function in `signatures`;
    a function the library lacks raises LibraryNotFound(missing(name))."""
    for name, (restype, argtypes) in signatures.items():
        try:
            fn = getattr(lib, name)
        except AttributeError:
            raise LibraryNotFound(missing(name)) from None
        fn.restype = restype
        fn.argtypes = argtypes


def library() -> ctypes.CDLL:
    """The loaded library with every function's signature set."""
    global _loaded
    with _load_lock:
        if _loaded is None:
            path = os.environ.get("QZ417LINK_LIBRARY") or SONAME
            try:
                lib = ctypes.CDLL(path, use_errno=True)
            except OSError as e:
                raise LibraryNotFound(
                    f"cannot load {path} ({e}); install libqz417link1 "
                    "or set QZ417LINK_LIBRARY to the library's path"
                ) from None
            bind_signatures(lib, _SIGNATURES, lambda name: f"{path} does not export {name}")
            _loaded = lib
        return _loaded


def call(name: str, *args: Any) -> Tuple[Any, int]:
    """Calls one function; returns its result and the errno it left (0 if none)."""
    fn: Callable[..., Any] = getattr(library(), name)
    ctypes.set_errno(0)
    result = fn(*args)
    return result, ctypes.get_errno()


def c_buffer(buffer: Any) -> Any:
    """A writable buffer (bytearray, C-contiguous NumPy array) as a ctypes array
    over the same memory, to be passed for a void * argument without a copy."""
    return (ctypes.c_char * memoryview(buffer).nbytes).from_buffer(buffer)


# A socket handle that is none (what the library returns for a failure).
NO_SOCKET = -1


_Owner = TypeVar("_Owner", bound="SocketOwner")


class SocketOwner:
    """What Scanner and UdpStream share: one socket of the library, closed by
    close() (defined by each), by leaving a with-block, or at the latest with
    the object."""

    _socket: int = NO_SOCKET

    def close(self) -> None:
        raise NotImplementedError

    def __enter__(self: _Owner) -> _Owner:
        return self

    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None:
        self.close()

    def __del__(self) -> None:
        # A forgotten socket is closed at the latest with its object
        # (quietly: at interpreter exit the modules may be gone already).
        if getattr(self, "_socket", NO_SOCKET) != NO_SOCKET:
            try:
                self.close()
            except Exception:
                pass

    @property
    def closed(self) -> bool:
        return self._socket == NO_SOCKET
