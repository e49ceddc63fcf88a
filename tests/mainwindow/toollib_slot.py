#!/usr/bin/env python3
"""Reads one slot of a tool-library file with struct, independently of the
program: seven parallel arrays over 256 slots after 256 names of 64 bytes.
Usage: toollib_slot.py FILE SLOT; prints the file size, then name, type,
flutes, total length, flute diameter, flute length, type value and ramp."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
slot = int(sys.argv[2])
name = data[slot * 64:(slot + 1) * 64].split(b"\0")[0].decode("latin-1")
ints = [struct.unpack_from("<i", data, base + 4 * slot)[0] for base in (16384, 17408)]
floats = [struct.unpack_from("<f", data, base + 4 * slot)[0] for base in (18432, 19456, 20480, 21504, 22528)]
print(len(data))
print(name)
print(" ".join(str(v) for v in ints) + " " + " ".join("%.6f" % v for v in floats))
