"""The same 1M complex points turned into two definite-length blocks of
big-endian 16-bit samples the ways a Python user would: PyVISA's block
helper (with a NumPy array and with a list) and NumPy alone.

Usage: peers.py SIGNAL LEN OUTDIR REPEATS
Prints one JSON object: for each way, the median processor seconds for
both parts.
Writes each way's two blocks to OUTDIR/<way>.i and OUTDIR/<way>.q."""
import json
import os
import statistics
import sys
import time

import numpy as np
import pyvisa
import pyvisa.util


def header(count):
    digits = b"%d" % count
    return b"#%d" % len(digits) + digits


def numpy_alone(part):
    return header(2 * part.size) + part.astype(">i2").tobytes()


def pyvisa_with_array(part):
    return pyvisa.util.to_ieee_block(part.astype(np.int16), "h", True)


def pyvisa_with_list(part):
    # int() truncates toward zero, as the samples must.
    return pyvisa.util.to_ieee_block([int(value) for value in part], "h", True)


def timed(way, parts, repeats):
    times = []
    blocks = None
    for _ in range(repeats):
        start = time.process_time()
        blocks = [way(part) for part in parts]
        times.append(time.process_time() - start)
    return statistics.median(times), blocks


def main():
    signal, length, outdir, repeats = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
    both = np.fromfile(signal, dtype="<f8", count=2 * length)
    arrays = [both[:length], both[length:]]
    lists = [part.tolist() for part in arrays]
    ways = {
        "numpy": (numpy_alone, arrays, repeats),
        "pyvisa_numpy": (pyvisa_with_array, arrays, repeats),
        "pyvisa_list": (pyvisa_with_list, lists, max(1, repeats // 2)),
    }
    result = {"numpy_version": np.__version__, "pyvisa_version": pyvisa.__version__}
    for name, (way, parts, count) in ways.items():
        seconds, blocks = timed(way, parts, count)
        result[name] = seconds
        for suffix, block in zip(("i", "q"), blocks):
            with open(os.path.join(outdir, "%s.%s" % (name, suffix)), "wb") as out:
                out.write(block)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
