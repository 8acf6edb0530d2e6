"""Prints the one table of scripts/bench from the results it left in a folder.

Usage: report.py RESULTS_FOLDER
Reads convert.json and adapter.json (Google Benchmark), peers.json and m_code.txt (the peers),
the blocks each way wrote, bus.txt (whole calls), alloc-*.json and
trace-*.txt (allocation counts and the driver calls of one download) and
memory.txt (the 16M-point call); missing parts are reported as not run."""
import json
import os
import sys

MIB = 1024.0 * 1024.0


def load_json(path):
    try:
        with open(path) as source:
            return json.load(source)
    except (OSError, ValueError):
        return None


def read_lines(path):
    try:
        with open(path) as source:
            return [line.split() for line in source if line.strip()]
    except OSError:
        return []


def medians(convert):
    """Median processor time per iteration in seconds, by benchmark name."""
    found = {}
    if not convert:
        return found
    for run in convert.get("benchmarks", []):
        if run.get("aggregate_name", "median") != "median" or run.get("error_occurred"):
            continue
        name = run["run_name"]
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run.get("time_unit", "ns")]
        found[name] = run["cpu_time"] * scale
    return found


def verdict(met):
    return "yes" if met else "NO"


def main():
    folder = sys.argv[1]
    rows = []

    def row(what, ours, other, ratio, target, met):
        rows.append((what, ours, other, ratio, target, "-" if met is None else verdict(met)))

    # Conversion against memcpy of the same input bytes.
    times = medians(load_json(os.path.join(folder, "convert.json")))
    for points, label in ((1 << 10, "1k"), (1 << 16, "64k"), (1 << 20, "1M"), (1 << 24, "16M")):
        ours = times.get("BM_Convert/%d" % points)
        bound = times.get("BM_Memcpy/%d" % points)
        reference = times.get("BM_Reference/%d" % points)
        if ours is None or bound is None:
            row("conversion, %s points" % label, "not run", "", "", "", False)
            continue
        judged = points >= 1 << 20
        row("conversion, %s points (ns/sample)" % label, "%.3f" % (ours / points * 1e9),
            "memcpy %.3f, scalar loop %.3f" % (bound / points * 1e9, reference / points * 1e9),
            "%.2fx memcpy" % (ours / bound), "<= 1x memcpy" if judged else "", ours <= bound if judged else None)
    # The same at a stride of 2, one part of Octave's interleaved pairs,
    # against memcpy of all the pairs (16 bytes a point), which it reads.
    for points, label in ((1 << 10, "1k"), (1 << 16, "64k"), (1 << 20, "1M"), (1 << 24, "16M")):
        ours = times.get("BM_ConvertPairs/%d" % points)
        bound = times.get("BM_MemcpyPairs/%d" % points)
        if ours is None or bound is None:
            row("conversion, stride 2, %s points" % label, "not run", "", "", "", False)
            continue
        judged = points >= 1 << 20
        row("conversion, stride 2, %s points (ns/sample)" % label, "%.3f" % (ours / points * 1e9),
            "memcpy of the pairs %.3f" % (bound / points * 1e9),
            "%.2fx memcpy" % (ours / bound), "<= 1x memcpy" if judged else "", ours <= bound if judged else None)

    # The host-side block path against the peers, on the same 1M points.
    block = times.get("BM_BlockPath/%d" % (1 << 20))
    peers = load_json(os.path.join(folder, "peers.json")) or {}
    for fields in read_lines(os.path.join(folder, "m_code.txt")):
        if len(fields) == 2 and fields[0] == "m_code":
            peers["m_code"] = float(fields[1])
    ways = (("pyvisa_list", "PyVISA to_ieee_block, list", 10.0),
            ("pyvisa_numpy", "PyVISA to_ieee_block, NumPy array", 2.0),
            ("numpy", "NumPy astype('>i2').tobytes()", 2.0),
            ("m_code", "M code int16(fix), swapbytes, typecast", 2.0))
    for key, label, target in ways:
        if block is None or key not in peers:
            row("blocks, 1M points: " + label, "not run", "", "", "", False)
            continue
        ratio = peers[key] / block
        row("blocks, 1M points: " + label + " (ms)", "%.2f" % (block * 1e3), "%.2f" % (peers[key] * 1e3),
            "%.1fx faster" % ratio, ">= %gx" % target, ratio >= target)
    reference = open_bytes(folder, "ours")
    differing = [key for key, _, _ in ways if open_bytes(folder, key) != reference]
    row("blocks, in-range data: bytes of all five ways", "identical" if reference and not differing else "differ",
        ", ".join(differing) if differing else "", "", "identical", bool(reference) and not differing)

    # Whole calls against the simulated bus: a complex argument as a user
    # passes it, and its real part alone, which Octave hands over without a
    # copy.
    for fields in read_lines(os.path.join(folder, "bus.txt")):
        if fields[0] == "call" and len(fields) == 9:
            kind, rate = fields[1], float(fields[2])
            complex_seconds, real_seconds, wire, complex_least, real_least = (float(value) for value in fields[3:8])
            done = fields[8] == "1"
            judged = rate == 8e6
            for label, seconds, least in (("complex", complex_seconds, complex_least),
                                          ("real", real_seconds, real_least)):
                overhead = (seconds - wire) / wire
                row("call, 1M %s points, %s at %g MB/s (s)" % (label, kind, rate / 1e6), "%.4f" % seconds,
                    "wire %.4f" % wire + ("" if done else "; the download did not finish"),
                    "overhead %.2f%% (least %.2f%%)" % (overhead * 100, (least - wire) / wire * 100),
                    "<= 1%" if judged else "", (overhead <= 0.01 and done) if judged else (None if done else False))
        elif fields[0] == "empty" and len(fields) == 4:
            kind, seconds, probes = fields[1], float(fields[2]), float(fields[3])
            ratio = seconds / probes
            row("call, no instrument, %s (s)" % kind, "%.4f" % seconds, "probe timeouts %.3f" % probes,
                "%.3fx" % ratio, "<= 1.1x", ratio <= 1.1)

    # Memory.
    for kind in ("ni", "sicl"):
        counts = load_json(os.path.join(folder, "alloc-%s.json" % kind))
        if not counts:
            continue
        expected = counts["host_allocations"] == 2 and counts["host_bytes"] == counts["expected_host_bytes"]
        if not counts.get("transferred"):
            row("download through the counting host, %s" % kind, "did not finish", "", "", "finished", False)
        row("host blocks in one 1M-point download, %s" % kind,
            "%d (%d bytes)" % (counts["host_allocations"], counts["host_bytes"]),
            "name + 2 x len = %d bytes" % counts["expected_host_bytes"], "", "exactly these", expected)
        calls, others = sample_calls(folder, kind, 2 * counts["len"])
        row("library calls carrying the samples, %s" % kind, "%d (%d a part)" % (calls, calls // 2),
            "other payloads over 80 bytes: %d" % others, "", "one a part", calls == 2 and others == 0)
        row("allocations inside the transfer, %s" % kind,
            "host %d, C++ heap %d" % (counts["host_allocations_in_transfer"],
                                      counts["module_heap_allocations_in_transfer"]),
            "driver's own %d" % counts["driver_heap_allocations_in_transfer"], "", "none",
            counts["host_allocations_in_transfer"] == 0 and counts["module_heap_allocations_in_transfer"] == 0)
    # The peak resident growth of Octave during one 16M-point call, less the
    # most the stand-in driver held at once in the same download: what is
    # left is the module's own (its sample buffer) and the host's.
    for fields in read_lines(os.path.join(folder, "memory.txt")):
        if fields[0] == "memory" and len(fields) == 7:
            kind, label = fields[1], fields[2]
            size, before, peak = (float(value) for value in fields[3:6])
            done = fields[6] == "1"
            growth = peak - before
            counts = load_json(os.path.join(folder, "alloc16-%s.json" % kind)) or {}
            driver = counts.get("driver_heap_peak_bytes")
            other = "input %.0f" % (size / MIB)
            if driver is not None:
                other += ", stand-in driver's own %.0f" % (driver / MIB)
            if not done:
                other += "; the download did not finish"
            ratio = "%.2fx input" % (growth / size)
            judged = label == "complex"
            met = None
            if driver is not None:
                ratio += ", less the driver's %.2fx" % ((growth - driver) / size)
                met = (growth - driver) / size <= 0.2 and done if judged else None
            elif judged:
                met = False
            row("16M %s points in Octave, %s: peak resident growth (MiB)" % (label, kind), "%.0f" % (growth / MIB),
                other, ratio, "<= 0.2x less the driver's" if judged else "", met)

    # The linux-gpib adapter's swapped write of a 1M-point part against memcpy of its bytes.
    adapter = medians(load_json(os.path.join(folder, "adapter.json")))
    ours, bound = adapter.get("BM_AdapterSwappedWrite/%d" % (1 << 20)), adapter.get("BM_AdapterMemcpy/%d" % (1 << 20))
    if ours is None or bound is None:
        row("linux-gpib adapter: swapped write, 1M points", "not run", "", "", "", False)
    else:
        row("linux-gpib adapter: swapped write, 1M points (ms)", "%.3f" % (ours * 1e3), "memcpy %.3f" % (bound * 1e3),
            "%.2fx memcpy" % (ours / bound), "<= 1.5x memcpy", ours <= 1.5 * bound)

    header = ("measurement", "this module", "compared with", "ratio", "target", "met")
    widths = [max(len(str(line[i])) for line in rows + [header]) for i in range(len(header))]

    def line(cells):
        return "| " + " | ".join(str(cell).ljust(width) for cell, width in zip(cells, widths)) + " |"

    print(line(header))
    print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    for cells in rows:
        print(line(cells))


def sample_calls(folder, kind, part_bytes):
    """Driver calls in the trace whose payload is a whole part's samples, and
    any other large payloads (a part sent in pieces would show here)."""
    whole, others = 0, 0
    try:
        with open(os.path.join(folder, "trace-%s.txt" % kind)) as trace:
            for line in trace:
                if not line.startswith(("ibwrt(", "iprintf(", "iwrite(")):
                    continue
                if "<%d bytes>" % part_bytes in line:
                    whole += 1
                elif " bytes>" in line:
                    others += 1
    except OSError:
        pass
    return whole, others


def open_bytes(folder, way):
    try:
        with open(os.path.join(folder, way + ".i"), "rb") as first, open(os.path.join(folder, way + ".q"), "rb") as second:
            return first.read() + b"|" + second.read()
    except OSError:
        return None


if __name__ == "__main__":
    main()
