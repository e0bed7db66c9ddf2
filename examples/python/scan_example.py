#!/usr/bin/env python3
"""Search for scanners, read one scanner's parameter block and save a profile.

    python3 scan_example.py [--time MS] [--output FILE]

Uses the first scanner heard; its announced scale converts the profile to
millimetres. The profile is written as CSV: point,x_mm,z_mm (valid points).
Needs the qz417link Python package (Debian package python3-qz417link).
"""

import argparse
import sys

import numpy as np

import qz417link


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time", type=int, default=2000, help="search time in ms")
    parser.add_argument("--output", default="profile.csv", help="CSV file for the profile")
    args = parser.parse_args()

    try:
        devices = qz417link.search(time_ms=args.time)
        if not devices:
            print("scan_example: no scanner heard", file=sys.stderr)
            return 1
        for dev in devices:
            d = dev.description
            print(f"{dev.address}  {dev.mac}  serial {d.serial_number}  "
                  f"Z range {d.range_z} mm  X range {d.range_x_emr} mm")

        device = devices[0]
        with qz417link.Scanner(device) as scanner:
            block = scanner.read_params()
            print(f"parameter block of {device.address}: laser level {block['laserLevel']}, "
                  f"integration {block['integration'] + 1} us, UDP port {block['udpPort']}")
            profile = scanner.get_profile()
    except qz417link.QZ417Error as e:
        print(f"scan_example: {e}", file=sys.stderr)
        return 1

    points = np.flatnonzero(profile.valid)
    with open(args.output, "w") as out:
        out.write("point,x_mm,z_mm\n")
        for i in points:
            out.write(f"{i + 1},{profile.x[i]:.3f},{profile.z[i]:.3f}\n")
    print(f"profile {profile.measurement_count}: {points.size} valid points written to {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
