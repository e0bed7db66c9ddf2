#!/usr/bin/env python3
"""Writes profile_golden.txt: the profile file expected for the packet that
tests/model/profile_file_test.cpp builds (MakeGoldenPacket), computed here
independently of the program's own formatting code."""
import struct
from decimal import Decimal, ROUND_HALF_EVEN


def s16(v):
    v &= 0xFFFF
    return v - 0x10000 if v >= 0x8000 else v


def f32(v):
    return struct.unpack('<f', struct.pack('<f', v))[0]


def raw_point(i):
    z = s16(i * 40503 + 12345)
    x = s16(i * 23757 + 111)
    if i % 97 == 5:
        x = 0
    if i % 101 == 7:
        z = 0
    return z, x


def fmt(value):
    d = Decimal(value)  # exact binary value
    if d == 0:
        e = 0
    else:
        e = d.quantize(Decimal(1).scaleb(d.adjusted() - 5), ROUND_HALF_EVEN).adjusted()
    assert e < 6
    decimals = min(3, 5 - e)
    q = d.quantize(Decimal(1).scaleb(-decimals), ROUND_HALF_EVEN)
    text = format(q, 'f')
    if decimals == 0:
        text += '.'
    text += '0' * (3 - decimals)
    if text == '-0.000':
        text = '0.000'
    return text


RANGE_X, RANGE_Z, DISCRETE, ERROR = 230, 250, 16384, 0
NUMBER = 65535

lines = ['N'.ljust(10) + 'X'.ljust(20) + 'Z', 'Profile nember: %d' % NUMBER]
for i in range(1024):
    z, x = raw_point(i)
    if x == ERROR or z == ERROR:
        xv = zv = 0.0
    else:
        xv = f32(RANGE_X * x / DISCRETE)
        zv = f32(RANGE_Z * z / DISCRETE)
    line = str(i + 1).ljust(10)
    line += fmt(xv)
    line = line.ljust(30)
    line += fmt(zv)
    lines.append(line)
with open('profile_golden.txt', 'wb') as out:
    out.write(''.join(l + '\r\n' for l in lines).encode('ascii'))
