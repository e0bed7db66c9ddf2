"""Importing and using the package where the shared library is missing."""

from __future__ import annotations

import os
import subprocess
import sys

SCRIPT = """
import qz417link
assert qz417link.decode(bytes(4100)).valid_count == 0   # decoding needs no library
block = qz417link.ParamBlock()
block["laserLevel"] = 3
try:
    qz417link.search(time_ms=1)
except qz417link.LibraryNotFound as e:
    print("LibraryNotFound:", e)
else:
    raise SystemExit("search ran without the library")
"""


def test_missing_library_is_reported_on_first_use_not_at_import():
    env = dict(os.environ, QZ417LINK_LIBRARY="/nonexistent/libqz417link.so.1")
    done = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True,
                          text=True, timeout=60, check=False)
    assert done.returncode == 0, done.stderr
    assert "LibraryNotFound: cannot load /nonexistent/libqz417link.so.1" in done.stdout
    assert "QZ417LINK_LIBRARY" in done.stdout  # says how to point at the library
