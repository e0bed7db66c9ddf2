"""The exceptions of qz417link: every failure is one of these, never a 0 or -1."""

from __future__ import annotations

import errno as _errno
import os

__all__ = [
    "QZ417Error",
    "LibraryNotFound",
    "ConnectionFailed",
    "ExchangeFailed",
    "Timeout",
    "Closed",
    "StreamUnavailable",
    "FieldTableMissing",
]


class QZ417Error(Exception):
    """Base of every error raised by qz417link."""


class LibraryNotFound(QZ417Error):
    """The shared library libqz417link.so.1 could not be loaded."""


class ConnectionFailed(QZ417Error):
    """No command connection could be opened to the scanner."""


class ExchangeFailed(QZ417Error):
    """A request on the command channel failed; the connection is closed."""


class Timeout(ExchangeFailed):
    """The scanner (or the stream) sent nothing within the waiting time."""


class Closed(ExchangeFailed):
    """The connection is closed: by the scanner, by a reset, or by close()."""


class StreamUnavailable(QZ417Error):
    """The local UDP port of the result stream could not be opened."""


class FieldTableMissing(QZ417Error):
    """The generated table of parameter fields is not part of this installation."""


_TIMEOUT_ERRNOS = {_errno.EAGAIN, _errno.EWOULDBLOCK, _errno.ETIMEDOUT}
_CLOSED_ERRNOS = {
    _errno.ECONNRESET,
    _errno.EPIPE,
    _errno.ENOTCONN,
    _errno.ESHUTDOWN,
    _errno.EBADF,
    _errno.ECONNABORTED,
}


def exchange_error(what: str, address: str, err: int) -> ExchangeFailed:
    """The exception for a failed exchange, chosen by the errno the library left."""
    reason = os.strerror(err) if err else "no reason given"
    message = f"{what} with {address} failed: {reason}"
    if err in _TIMEOUT_ERRNOS:
        return Timeout(message)
    if err in _CLOSED_ERRNOS:
        return Closed(message)
    return ExchangeFailed(message)
