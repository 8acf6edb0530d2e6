#!/usr/bin/env python3
# Writes the fuzz target's seed inputs into tests/fuzz/corpus/: one small file
# per situation, encoded in the layout fuzz_gateway.cpp reads.
import os
import struct
import sys

NI, SICL, NI_NOT_LIBRARY, SICL_NOT_LIBRARY = 1, 2, 4, 8
NI_MISSING, SICL_MISSING, IBDEV_FAILS, SYSTEM_DIRECTORY = 0x10, 0x20, 0x40, 0x80
CLASSES = ["double", "single", "int16", "logical", "char", "cell", "struct"]
SPECIAL = 27  # values below this code come from the target's table


def counted(data):
    data = data.encode("latin-1") if isinstance(data, str) else data
    assert len(data) < 256
    return bytes([len(data)]) + data


def device(address, reply=None, silent=False, open_fails=False, stale=None, fail_writes=(0, 0)):
    flags = (1 if silent else 0) | (2 if open_fails else 0) | (4 if stale is not None else 0) | \
        (8 if reply is None else 0)
    out = bytes([address, flags])
    if reply is not None:
        out += counted(reply)
    if stale is not None:
        out += counted(stale)
    return out + bytes(fail_writes)


def sicl_interface(name):
    prefix, rest = name[:4], name[4:]
    if name == "vxi0":
        return 66
    base = 0 if prefix == "hpib" else 33
    return base + (0 if rest == "" else int(rest) + 1)


def machine(flags=NI, ni_missing=0, sicl_missing=0, system_directory=None, notice=0, notice_bytes=b"",
            boards=1, interfaces=(), sample_fail=0, devices=(device(19),)):
    out = bytes([flags])
    if flags & NI_MISSING:
        out += bytes([ni_missing])
    if flags & SICL_MISSING:
        out += bytes([sicl_missing])
    if flags & SYSTEM_DIRECTORY:
        out += counted(system_directory)
    out += bytes([notice]) + notice_bytes
    out += bytes([boards, len(interfaces)]) + bytes(sicl_interface(n) for n in interfaces)
    out += bytes([sample_fail, len(devices)]) + b"".join(devices)
    return out


def compact(values):
    out = b""
    for v in values:
        out += bytes([v if isinstance(v, int) and v >= 0 and v < SPECIAL else (v & 0xff)])
    return out


def data(rows=1, columns=4, klass="double", real=None, imag=None, complex_=True, sparse=False, raw=False,
         inputs=2, long_mode=None, long_length=0, column=False, interleaved=False):
    flags = (1 if sparse else 0) | (2 if complex_ else 0) | (4 if raw else 0) | (0x20 if interleaved else 0)
    if long_mode == "too long":
        flags |= 8
    elif long_mode == "zeros":
        flags |= 0x10
    out = bytes([inputs, CLASSES.index(klass), flags])
    if long_mode:
        return out + struct.pack("<I", long_length) + bytes([1 if column else 0])
    out += struct.pack("<HH", rows, columns)
    count = rows * columns
    if klass == "char":
        return out + b"a" * count
    if klass in ("cell", "struct"):
        return out
    if real is None:
        real = [28 + k % 20 for k in range(count)]  # small integers, encoded as bytes
    if imag is None:
        imag = [40 + k % 30 for k in range(count)]
    pack = (lambda vs: b"".join(struct.pack("<d", v) for v in vs)) if raw else bytes
    out += pack(real)
    if complex_:
        out += pack(imag)
    return out


def name(text="tone", klass="char", column=False, two_rows=False, pattern=None):
    flags = (1 if column else 0) | (2 if two_rows else 0) | (4 if pattern is not None else 0)
    text = text.encode("latin-1") if isinstance(text, str) else text
    if pattern is not None:
        return bytes([CLASSES.index(klass), flags]) + struct.pack("<H", len(text)) + counted(pattern)
    return bytes([CLASSES.index(klass), flags]) + struct.pack("<H", len(text)) + text


def calls(count=1, outputs=0):
    return bytes([outputs, count - 1])


def seed(machine_part, data_part=None, name_part=None, calls_part=None):
    return machine_part + (data_part or data()) + (name_part or name()) + (calls_part or calls())


SICL_BUS = dict(flags=SICL, boards=0, interfaces=("hpib",))
SEEDS = {
    "ni-good": seed(machine()),
    "sicl-good": seed(machine(**SICL_BUS)),
    "both-ni-chosen-k207-at-5": seed(machine(flags=NI | SICL, interfaces=("gpib0",),
                                             devices=(device(19, "FOREIGN,X,0,1"), device(5, "K207A")))),
    "ni-three-calls": seed(machine(), calls_part=calls(3, 1)),
    "sicl-gpib3-two-calls": seed(machine(flags=SICL, boards=0, interfaces=("gpib3", "vxi0")),
                                 calls_part=calls(2)),
    "ni-board-2": seed(machine(boards=4)),
    "ni-notice-other-year": seed(machine(notice=1, notice_bytes=b"2003")),
    "ni-notice-16-read-only": seed(machine(notice=2 | 8, notice_bytes=counted("\r\n Copyright 1994"))),
    "ni-notice-77-unterminated": seed(machine(notice=2 | 4 | 8, notice_bytes=counted(
        "\r\n Copyright 1994 National Instruments Corporation.  All rights reserved. \r\n!"))),
    "ni-notice-77": seed(machine(notice=2, notice_bytes=counted(
        "\r\n Copyright 1994 National Instruments Corporation.  All rights reserved. \r\nx"))),
    "ni-missing-notice": seed(machine(flags=NI | NI_MISSING, ni_missing=13), calls_part=calls(2)),
    "ni-missing-ibwrt": seed(machine(flags=NI | NI_MISSING, ni_missing=9)),
    "ni-missing-ibdev": seed(machine(flags=NI | NI_MISSING, ni_missing=2)),
    "ni-missing-ibrd": seed(machine(flags=NI | NI_MISSING, ni_missing=7)),
    "ni-missing-ibonl": seed(machine(flags=NI | NI_MISSING, ni_missing=6)),
    "ni-not-a-library": seed(machine(flags=NI_NOT_LIBRARY | SICL, interfaces=("hpib",))),
    "sicl-missing-iprintf": seed(machine(flags=SICL | SICL_MISSING, sicl_missing=7, boards=0,
                                         interfaces=("hpib",))),
    "sicl-not-a-library": seed(machine(flags=SICL_NOT_LIBRARY, boards=0)),
    "no-driver": seed(machine(flags=0, boards=0, devices=())),
    "empty-system-directory": seed(machine(flags=NI | SYSTEM_DIRECTORY, system_directory="")),
    "long-system-directory": seed(machine(flags=SICL | SYSTEM_DIRECTORY, system_directory="/" + "d" * 200,
                                          boards=0, interfaces=("hpib",))),
    "ni-ibdev-fails": seed(machine(flags=NI | IBDEV_FAILS)),
    "ni-sample-write-fails": seed(machine(sample_fail=1)),
    "sicl-q-sample-write-fails": seed(machine(sample_fail=2, **SICL_BUS)),
    "ni-command-write-fails": seed(machine(devices=(device(19, fail_writes=(2, 0)),))),
    "sicl-command-write-fails": seed(machine(devices=(device(19, fail_writes=(2, 0)),), **SICL_BUS)),
    "ni-query-write-fails": seed(machine(devices=(device(19, fail_writes=(1, 0)),))),
    "sicl-silent-and-open-fails": seed(machine(devices=(device(19, silent=True), device(20, open_fails=True),
                                                        device(21)), **SICL_BUS)),
    "stale-tail": seed(machine(devices=(device(19, "FOREIGN", stale="KVR-D"), device(3)))),
    "reply-120-unterminated": seed(machine(devices=(device(19, "x" * 115 + "KVR-D"),))),
    "marker-past-120": seed(machine(devices=(device(19, "x" * 118 + "KVR-D"),), **SICL_BUS)),
    "two-instruments": seed(machine(devices=(device(31), device(1), device(0), device(32)))),
    "no-instrument": seed(machine(devices=(device(19, "FOREIGN"),))),
    "no-inputs": seed(machine(), data(inputs=0)),
    "one-input": seed(machine(), data(inputs=1)),
    "four-inputs-two-outputs": seed(machine(), data(inputs=4), calls_part=calls(1, 2)),
    "three-by-two": seed(machine(), data(rows=3, columns=2)),
    "zero-by-zero": seed(machine(), data(rows=0, columns=0)),
    "one-by-zero": seed(machine(), data(rows=1, columns=0)),
    "zero-by-one-sicl": seed(machine(**SICL_BUS), data(rows=0, columns=1)),
    "column-vector": seed(machine(), data(rows=4, columns=1)),
    "real-vector": seed(machine(**SICL_BUS), data(columns=17, complex_=False)),
    "single": seed(machine(), data(klass="single")),
    "int16": seed(machine(), data(klass="int16")),
    "logical": seed(machine(), data(klass="logical")),
    "char-data": seed(machine(), data(klass="char")),
    "cell": seed(machine(), data(klass="cell")),
    "struct": seed(machine(), data(klass="struct")),
    "sparse": seed(machine(), data(sparse=True)),
    "edge-values": seed(machine(), data(columns=27, real=list(range(27)), imag=list(range(26, -1, -1)))),
    "raw-doubles": seed(machine(), data(columns=19, raw=True,
                                        real=[float(k) * 1234.5 - 9000 for k in range(19)],
                                        imag=[float("nan"), float("inf"), -1e19, 3.5e9, -65536.5] + [0.25] * 14)),
    "edge-values-interleaved": seed(machine(**SICL_BUS), data(columns=27, real=list(range(27)),
                                                              imag=list(range(26, -1, -1)), interleaved=True)),
    "raw-doubles-interleaved": seed(machine(), data(columns=41, raw=True, interleaved=True,
                                                    real=[float(k) * 1234.5 - 9000 for k in range(41)],
                                                    imag=[float("nan"), float("inf"), -1e19, 3.5e9, -65536.5]
                                                    + [k + 0.25 for k in range(36)])),
    "real-vector-interleaved": seed(machine(), data(columns=33, complex_=False, interleaved=True)),
    "long-zeros-ni": seed(machine(), data(long_mode="zeros", long_length=20000)),
    "long-zeros-interleaved": seed(machine(**SICL_BUS), data(long_mode="zeros", long_length=50000,
                                                             interleaved=True)),
    "long-zeros-sicl": seed(machine(**SICL_BUS), data(long_mode="zeros", long_length=50000, column=True)),
    "too-long": seed(machine(), data(long_mode="too long", long_length=0)),
    "numeric-name": seed(machine(), name_part=name("ab", klass="double")),
    "empty-name": seed(machine(), name_part=name("")),
    "long-name-ni": seed(machine(), name_part=name("n" * 10000, pattern="n")),
    "long-name-sicl": seed(machine(**SICL_BUS), name_part=name("n" * 10000, pattern="ab")),
    "name-with-quote": seed(machine(), name_part=name('a"b')),
    "name-with-cr": seed(machine(), name_part=name("a\rb")),
    "name-with-lf": seed(machine(), name_part=name("a\nb")),
    "name-non-ascii": seed(machine(), name_part=name("caf\xe9")),
    "name-with-zero": seed(machine(), name_part=name("ab\x00cd")),
    "name-percent-sicl": seed(machine(**SICL_BUS), name_part=name("a%s%d%n")),
    "name-two-rows": seed(machine(), name_part=name("abcdef", two_rows=True)),
    "name-column": seed(machine(**SICL_BUS), name_part=name("abc", column=True)),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for label, content in SEEDS.items():
        with open(os.path.join(folder, label), "wb") as out:
            out.write(content)
    print(f"{len(SEEDS)} seeds written to {folder}")


if __name__ == "__main__":
    main()
