#!/usr/bin/env python3
"""Search for scanners, read one scanner's parameter block and save a profile.

    python3 scan_example.py [--time MS] [--output FILE]

Uses the first scanner heard; its announced scale converts the profile to
millimetres. The profile is written as CSV: point,x_mm,z_mm (valid points).
"""

import argparse
import sys

import qz417link


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time", type=int, default=2000, help="search time in ms")
    parser.add_argument("--output", default="profile.csv", help="CSV file for the profile")
    args = parser.parse_args()

    devices = qz417link.search(time_ms=args.time)
    if not devices:
        print("scan_example: no scanner heard", file=sys.stderr)
        return 1
    for dev in devices:
        d = dev.description
        print("%s  %s  serial %d  Z range %d mm  X range %d mm"
              % (dev.address, dev.mac, d.serial_number, d.range_z, d.range_x_emr))

    device = devices[0]
    try:
        with qz417link.Scanner(device.address, device.description.scale()) as scanner:
            block = scanner.read_params()
            print("parameter block of %s: laser level %d, integration %d us, UDP port %d"
                  % (device.address, block[0], (block[1] | block[2] << 8) + 1,
                     block[30] | block[31] << 8))
            profile = scanner.get_profile()
    except qz417link.QZ417Error as e:
        print("scan_example: %s" % e, file=sys.stderr)
        return 1

    with open(args.output, "w") as out:
        out.write("point,x_mm,z_mm\n")
        for i, p in enumerate(profile.points, start=1):
            if p is not None:
                out.write("%d,%.3f,%.3f\n" % (i, p[0], p[1]))
    print("profile %d: %d valid points written to %s"
          % (profile.measurement_count, len(profile.valid_points()), args.output))
    return 0


if __name__ == "__main__":
    sys.exit(main())
