#!/usr/bin/env python3
"""gen_fields.py PRINTER OUTPUT

Runs PRINTER, the model library's program that prints the parameter field
table as JSON ({"blockSize": 512, "fields": [objects with name, kind,
offset, width, bit, min, max, unit, caption]}), checks the table with the
package's own loader and writes it as OUTPUT (the package's _fields.json). A table the package could not use
fails the build here, not at a user's import.
"""

import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qz417link.params import load_fields  # noqa: E402


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        printed = subprocess.run([sys.argv[1]], check=True, stdout=subprocess.PIPE, timeout=60)
    except (OSError, subprocess.SubprocessError) as e:
        print(f"gen_fields.py: {e}", file=sys.stderr)
        return 1
    try:
        table = json.loads(printed.stdout.decode("utf-8"))
        load_fields(table)
    except (KeyError, TypeError, ValueError) as e:
        print(f"gen_fields.py: {sys.argv[1]}: unusable field table: {e!r}", file=sys.stderr)
        return 1
    text = json.dumps(table, indent=1, ensure_ascii=False) + "\n"
    tmp = sys.argv[2] + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
