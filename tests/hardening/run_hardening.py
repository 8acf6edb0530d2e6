#!/usr/bin/env python3
# Runs hardening rows of the module in Octave against the simulated bus, and
# checks each against its row and the rules every row must keep.
"""Usage: run_hardening.py --build BUILD [--work FOLDER] [ROW ...]

Runs the named rows (all of them when none is named) and prints PASS or FAIL
for each, with what differed. Each row's folder is kept for a look.
"""
import argparse
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import harness  # noqa: E402
import rows  # noqa: E402
import simwave  # noqa: E402  (put on the path by harness)

# The lines a download may end with: each says what became of it.
CLEAR_ENDS = {rows.DONE, rows.NO_INTERFACE, rows.NO_INSTRUMENT, rows.FAILED_I, rows.FAILED_Q}
# A row's own line after a call, e.g. the host's error it caught.
CAUGHT = "caught: "
FAILURES = {rows.FAILED_I, rows.FAILED_Q, rows.NO_INTERFACE, rows.NO_INSTRUMENT, rows.NO_CARD}


def source_file(host, source):
    """The file a row's source names, or None for "text"."""
    if source == "text":
        return None
    library, _, variant = source.partition(":")
    file_name = {"ni": rows.NI, "sicl": rows.SICL}[library]
    if not variant:
        return host.driver_files()[file_name]
    return os.path.join(host.build, "sim", variant, file_name)


def lay_out(host, row, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for path in host.module_files():
        shutil.copy(path, folder)
    for name, source in row.files.items():
        path = source_file(host, source)
        if path is None:
            with open(os.path.join(folder, name), "w") as file:
                file.write("This file carries a driver's name but holds no library.\n")
        else:
            shutil.copyfile(path, os.path.join(folder, name))
    with open(os.path.join(folder, "bus.txt"), "w") as file:
        file.write("\n".join(["# bus of the hardening row %s" % row.name] + row.bus +
                             ["store store", "trace trace.txt", "status status", ""]))


def downloads(transcript):
    """The transcript cut into downloads, each from its "Save to Waveform" line."""
    parts = []
    for line in transcript:
        if line.startswith("Save to Waveform: ") or line.startswith(CAUGHT) or not parts:
            parts.append([])
        parts[-1].append(line)
    return [p for p in parts if p and p[0].startswith("Save to Waveform: ")]


def rule_failures(transcript):
    """The rules every transcript keeps, whatever its row says."""
    failures = []
    for download in downloads(transcript):
        last = download[-1]
        empty = "Waveform Length = 0 points.\n" in download
        if last not in CLEAR_ENDS and not (empty and last.startswith("KVR_addr = ")):
            failures.append("a download ends without a clear line: %r" % last)
        if rows.DONE in download and any(line in FAILURES for line in download):
            failures.append("\"Done loading\" follows a failure: %r" % download)
    return failures


def subsequence_failures(trace, wanted):
    position = 0
    for line in wanted:
        while position < len(trace) and trace[position] != line:
            position += 1
        if position == len(trace):
            return ["the trace lacks %r (in order)" % line]
        position += 1
    return []


def expected_files(row):
    files = {}
    for part in row.stored:
        interface, _, address = part.device.rpartition("-")
        path = simwave.stored_file_path("", interface, int(address), part.memory, part.name)
        files[os.path.normpath(path)] = simwave.encode_samples(part.values)
    return files


def check(host, row, folder, result):
    failures = []
    transcript = result.stdout.splitlines(keepends=True)
    harness.compare_lines("transcript", transcript, row.transcript, failures)
    failures += rule_failures(transcript)
    errors = [host.error_line(text) for text in row.errors]
    harness.compare_lines("errors", result.stderr.splitlines(keepends=True), errors, failures)
    if (result.returncode != 0) != bool(row.errors):
        failures.append("exit status %d" % result.returncode)

    expected = expected_files(row)
    actual = harness.stored_files(os.path.join(folder, "store"))
    if sorted(actual) != sorted(expected):
        failures.append("stored files %s, expected %s" % (sorted(actual), sorted(expected)))
    for path in sorted(set(actual) & set(expected)):
        if actual[path] != expected[path]:
            failures.append("%s does not hold the samples sent" % path)

    trace = harness.read_lines(os.path.join(folder, "trace.txt"))
    failures += subsequence_failures(trace, row.trace_has)
    if row.trace_ends and trace[-len(row.trace_ends):] != row.trace_ends:
        harness.compare_lines("the trace's last lines", trace[-len(row.trace_ends):], row.trace_ends, failures)

    status_folder = os.path.join(folder, "status")
    loaded = sorted(n[:-len(".status")] for n in os.listdir(status_folder)
                    if n.endswith(".status")) if os.path.isdir(status_folder) else []
    if row.no_driver_call and (loaded or trace):
        failures.append("a refusal reached a driver: loaded %s, trace %s" % (loaded, trace[:3]))
    for library in loaded:
        path = os.path.join(status_folder, library + ".status")
        status = harness.read_status(path)
        # Nothing stays open in a driver unless the row says why.
        wanted = dict({"open": row.open_after.get(library, "0")}, **row.status.get(library, {}))
        if library == rows.SICL:
            wanted.setdefault("left-open-at-unload", "0")
        for key, value in wanted.items():
            if status.get(key) != value:
                failures.append("%s status %s is %r, expected %r" % (library, key, status.get(key), value))
        for line in harness.read_lines(path):
            if line.startswith("problem "):
                failures.append("%s: bus description %s" % (library, line))
        # Whatever failed, the instrument is left holding no error and
        # waiting for nothing: a part broken off was cleared.
        failures += harness.instrument_failures(library, harness.read_lines(path))
    for library in row.status:
        if library not in loaded:
            failures.append("%s was never loaded" % library)

    if row.min_seconds is not None and result.seconds < row.min_seconds:
        failures.append("took %.2f s, less than %.1f s" % (result.seconds, row.min_seconds))
    if row.max_seconds is not None and result.seconds > row.max_seconds:
        failures.append("took %.2f s, more than %.1f s" % (result.seconds, row.max_seconds))
    return failures


def run_row(host, row, work):
    folder = os.path.join(os.path.abspath(work), row.name)
    lay_out(host, row, folder)
    environment = dict(os.environ)
    environment[harness.BUS_VARIABLE] = os.path.join(folder, "bus.txt")
    environment.pop("DISPLAY", None)
    result = host.run(folder, row.code + "\n", environment)
    for name, text in (("stdout.txt", result.stdout), ("stderr.txt", result.stderr)):
        with open(os.path.join(folder, name), "w", encoding="latin-1") as file:
            file.write(text)
    return check(host, row, folder, result), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder holding vandrel.mex")
    parser.add_argument("--work", help="where the row folders go (default BUILD/tests/hardening/rows)")
    parser.add_argument("names", nargs="*", help="rows to run")
    arguments = parser.parse_args()
    work = arguments.work or os.path.join(arguments.build, "tests", "hardening", "rows")
    host = harness.OctaveHost(arguments.build)
    selected = [rows.row_named(n) for n in arguments.names] if arguments.names else rows.ROWS
    return harness.run_and_report(selected, lambda row: run_row(host, row, work))


if __name__ == "__main__":
    sys.exit(main())
