# Reads the waveform files the simulated KVR-D stores, and gives the samples
# the module should have sent for a list of values (shared by the tests).
"""Stored waveform files of the simulated KVR-D.

A file holds the samples as the instrument received them: signed 16-bit,
most significant byte first. It lies at
<store>/<interface>-<address>/<memory>/<stored_file_name(name)>.bin.

Run as a program to print the samples of a file, one a line.
"""
import math
import os
import struct
import sys

STORED_NAME_LIMIT = 100
STORED_NAME_KEEP = 80
PLAIN = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_")


def _name_hash(raw):
    value = 14695981039346656037  # FNV-1a, as the simulator computes it
    for byte in raw:
        value ^= byte
        value = (value * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def stored_file_name(name):
    """The file name the simulator gives the waveform name (text or bytes)."""
    raw = name.encode("latin-1") if isinstance(name, str) else bytes(name)
    if not raw:
        return "%"
    encoded = "".join(chr(b) if b in PLAIN else "%%%02X" % b for b in raw)
    if len(encoded) <= STORED_NAME_LIMIT:
        return encoded
    keep = STORED_NAME_KEEP
    if encoded[keep - 1] == "%":
        keep -= 1
    elif encoded[keep - 2] == "%":
        keep -= 2
    return encoded[:keep] + "~%016x" % _name_hash(raw)


def stored_file_path(store, interface, address, memory, name):
    return os.path.join(store, "%s-%d" % (interface, address), memory,
                        stored_file_name(name) + ".bin")


def decode_samples(data):
    if len(data) % 2:
        raise ValueError("a stored waveform holds whole 16-bit samples")
    return list(struct.unpack(">%dh" % (len(data) // 2), data))


def read_samples(path):
    with open(path, "rb") as file:
        return decode_samples(file.read())


def sample_of(value):
    """The 16-bit sample of one value: truncated toward zero, low 16 bits."""
    if math.isnan(value) or math.isinf(value) or abs(value) >= 2.0 ** 63:
        return 0
    low = math.trunc(value) & 0xFFFF
    return low - 0x10000 if low & 0x8000 else low


def encode_samples(values):
    """The bytes the instrument should receive for values: big-endian int16."""
    return struct.pack(">%dh" % len(values), *[sample_of(v) for v in values])


def main(arguments):
    if len(arguments) != 1:
        print("usage: simwave.py FILE", file=sys.stderr)
        return 2
    for sample in read_samples(arguments[0]):
        print(sample)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
