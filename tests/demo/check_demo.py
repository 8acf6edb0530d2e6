#!/usr/bin/env python3
# Runs scripts/demo on an already built tree with a demo folder of its own and
# checks what it printed and left: the transcript, both stored files and the
# picture.
"""Usage: check_demo.py --build BUILD --folder FOLDER [--missing-font]

Without --missing-font: runs `scripts/demo --prebuilt --build BUILD --folder
FOLDER` and checks its whole output, the two stored files (byte for byte
against the conversion of the demo waveform) and the PNG picture (signature,
chunks, pixel size).

With --missing-font: runs it with Octave's fonts folder pointing at an empty
folder and checks that the demo names the missing package and how to install
it, and stops before Octave runs.

Prints PASS or FAIL with what differed; exits 0 on PASS.
"""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import cases  # noqa: E402
import harness  # noqa: E402
import simwave  # noqa: E402  (on the path harness set)

DEMO = os.path.join(ROOT, "scripts", "demo")
NAME = "twotone"
POINTS = 4000
DEVICE = "gpib0-19"
# simPlotStored draws a 1200-by-700 figure and prints it at 100 dpi; the
# gnuplot toolkit sizes the EPS in points (1/72 inch), Ghostscript rounds.
FIGURE = (1200, 700)
DPI = 100
PICTURE_SIZE = tuple(int(side * DPI / 72 + 0.5) for side in FIGURE)
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
RUN_TIMEOUT_SECONDS = 240


def demo_waveform(n):
    """simDemoWaveform(n), computed in the same order of operations:
    16000 * exp(2i*pi*3*k/n) + 16000 * exp(-2i*pi*11*k/n)."""
    re, im = [], []
    for k in range(n):
        a = 2 * math.pi * 3 * k / n
        b = -2 * math.pi * 11 * k / n
        re.append(16000 * math.cos(a) + 16000 * math.cos(b))
        im.append(16000 * math.sin(a) + 16000 * math.sin(b))
    return re, im


def shown(folder):
    """The folder as the demo prints it: relative to the repository inside it."""
    real, root = os.path.realpath(folder), os.path.realpath(ROOT)
    return os.path.relpath(real, root) if real.startswith(root + os.sep) else real


def expected_output(folder):
    demo = shown(folder)
    stored = "%s/store/%s" % (demo, DEVICE)
    header = [
        "",
        "== Demo: a %d-point two-tone I/Q waveform into a simulated KVR-D at GPIB address 19" % POINTS,
        "   stored files: %s/arbi/%s.bin and %s/arbq/%s.bin" % (stored, NAME, stored, NAME),
        "   picture:      %s/%s.png" % (stored, NAME),
        "   bus trace:    %s/trace.txt" % demo,
        "== The module's transcript:",
    ]
    return header + [line.rstrip("\n") for line in cases.ni_download(NAME, POINTS)]


def run_demo(build, folder, environment):
    return subprocess.run([DEMO, "--prebuilt", "--build", build, "--folder", folder],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment,
                          timeout=RUN_TIMEOUT_SECONDS, encoding="latin-1")


def png_problems(path):
    """What is wrong with the PNG file at path: signature, IHDR first, every
    chunk's CRC, IEND last, and the pixel size."""
    with open(path, "rb") as file:
        data = file.read()
    if not data.startswith(PNG_SIGNATURE):
        return ["%s does not start with the PNG signature: %r" % (path, data[:8])]
    problems = []
    position, types, size = len(PNG_SIGNATURE), [], None
    while position + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        crc_at = position + 8 + length
        if crc_at + 4 > len(data):
            problems.append("%s: chunk %r runs past the end of the file" % (path, kind))
            break
        (crc,) = struct.unpack(">I", data[crc_at:crc_at + 4])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            problems.append("%s: chunk %r has a wrong CRC" % (path, kind))
        if kind == b"IHDR" and length == 13:
            size = struct.unpack(">II", body[:8])
        types.append(kind)
        position = crc_at + 4
        if kind == b"IEND":
            break
    if not types or types[0] != b"IHDR":
        problems.append("%s: the first chunk is %r, not IHDR" % (path, types[0] if types else None))
    if not types or types[-1] != b"IEND" or position != len(data):
        problems.append("%s does not end with its IEND chunk (truncated or trailing bytes)" % path)
    if b"IDAT" not in types:
        problems.append("%s holds no image data (IDAT)" % path)
    if size is not None and size != PICTURE_SIZE:
        problems.append("%s is %dx%d pixels, expected %dx%d" % ((path,) + size + PICTURE_SIZE))
    return problems


def check_demo(build, folder):
    result = run_demo(build, folder, dict(os.environ))
    failures = []
    if result.returncode != 0:
        failures.append("scripts/demo ended with status %d" % result.returncode)
    # The demo's own messages and Octave's diagnostics (a missing font, a
    # failed print) are faults even when a picture was written.
    diagnostics = [line for line in result.stderr.splitlines()
                   if line.startswith(("warning:", "error:", "demo:"))]
    if diagnostics:
        failures.append("the demo reported:\n  " + "\n  ".join(diagnostics))
    harness.compare_lines("the demo's output", result.stdout.splitlines(),
                          expected_output(folder), failures)

    stored = os.path.join(folder, "store", DEVICE)
    for memory, values in zip(("arbi", "arbq"), demo_waveform(POINTS)):
        path = os.path.join(stored, memory, NAME + ".bin")
        if not os.path.isfile(path):
            failures.append("%s was not stored" % path)
            continue
        with open(path, "rb") as file:
            data = file.read()
        if len(data) != 2 * POINTS:
            failures.append("%s holds %d bytes, expected %d" % (path, len(data), 2 * POINTS))
        elif data != simwave.encode_samples(values):
            got, want = simwave.decode_samples(data), simwave.decode_samples(simwave.encode_samples(values))
            first = next(i for i in range(POINTS) if got[i] != want[i])
            failures.append("%s differs from the demo waveform's samples, first at sample %d: %d, expected %d"
                            % (path, first, got[first], want[first]))
    trace = os.path.join(folder, "trace.txt")
    if not os.path.isfile(trace) or os.path.getsize(trace) == 0:
        failures.append("%s, the bus trace, was not written" % trace)
    picture = os.path.join(stored, NAME + ".png")
    if os.path.isfile(picture):
        failures.extend(png_problems(picture))
    else:
        failures.append("%s, the picture, was not written" % picture)
    if failures and result.stderr and not diagnostics:
        failures.append("the demo's error output:\n  " + result.stderr.rstrip("\n").replace("\n", "\n  "))
    return failures


def check_missing_font(build, folder):
    fonts = os.path.join(folder, "no-fonts")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(fonts)
    environment = dict(os.environ, OCTAVE_FONTS_DIR=fonts)
    result = run_demo(build, os.path.join(folder, "demo"), environment)
    failures = []
    if result.returncode != 1:
        failures.append("scripts/demo ended with status %d, expected 1" % result.returncode)
    if result.stdout:
        failures.append("scripts/demo went on to the download:\n  " + result.stdout.rstrip("\n").replace("\n", "\n  "))
    harness.compare_lines("the demo's error output", result.stderr.splitlines(), [
        "demo: the picture needs the font FreeSans (Debian package fonts-freefont-otf): "
        "apt-get install fonts-freefont-otf",
        "demo: Octave's text renderer loads it from %s/FreeSans.otf" % fonts,
        "demo: scripts/install-deps base installs everything the demo needs",
    ], failures)
    if os.path.exists(os.path.join(folder, "demo")):
        failures.append("scripts/demo laid out its folder although it could not draw")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder holding vandrel.mex")
    parser.add_argument("--folder", required=True, help="the demo folder (emptied first)")
    parser.add_argument("--missing-font", action="store_true",
                        help="check what the demo says when the font is missing")
    arguments = parser.parse_args()
    build, folder = os.path.abspath(arguments.build), os.path.abspath(arguments.folder)
    check = check_missing_font if arguments.missing_font else check_demo
    failures = check(build, folder)
    what = "demo with a missing font" if arguments.missing_font else "demo"
    if failures:
        print("FAIL %s" % what)
        for failure in failures:
            print("  " + failure.replace("\n", "\n  "))
        return 1
    print("PASS %s" % what)
    return 0


if __name__ == "__main__":
    sys.exit(main())
