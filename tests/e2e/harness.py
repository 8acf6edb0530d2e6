# Runs one end-to-end case: lays out its folder, lets a host run the calls,
# and compares the transcript, the stored files, the trace and the status.
"""The end-to-end harness.

A host is what runs code of the MATLAB language in a folder that holds the
module: `OctaveHost` here; another host (MATLAB under Wine, say) provides the
same four members: `module_files`, `driver_files`, `error_line` and `run`.
"""
import os
import shutil
import struct
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import List

HERE = os.path.dirname(os.path.abspath(__file__))
SIM = os.path.join(os.path.dirname(os.path.dirname(HERE)), "sim")
sys.path.insert(0, SIM)
import simwave  # noqa: E402

BUS_VARIABLE = "VANDREL_SIM_BUS"
RUN_TIMEOUT_SECONDS = 300


@dataclass
class RunResult:
    stdout: str
    stderr: str
    returncode: int
    seconds: float


class OctaveHost:
    """GNU Octave with the module built as vandrel.mex."""

    name = "octave"

    def __init__(self, build):
        self.build = os.path.abspath(build)

    def module_files(self):
        return [os.path.join(self.build, "vandrel.mex"), os.path.join(self.build, "vandrel.m")]

    def driver_files(self):
        return {"gpib-32.dll": os.path.join(self.build, "sim", "gpib-32.dll"),
                "sicl32.dll": os.path.join(self.build, "sim", "sicl32.dll")}

    def error_line(self, text):
        return "error: vandrel: %s\n" % text

    def run(self, folder, script, environment):
        # Kept for a look; run with --eval so that an error shows as the
        # host's one error line, without a traceback through a script file.
        with open(os.path.join(folder, "run_case.m"), "w") as file:
            file.write(script)
        command = ["octave", "--no-gui", "--norc", "--quiet", "--no-window-system",
                   "--no-history", "--eval", script]
        start = time.monotonic()
        done = subprocess.run(command, cwd=folder, env=environment, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=RUN_TIMEOUT_SECONDS)
        return RunResult(done.stdout.decode("latin-1"), done.stderr.decode("latin-1"),
                         done.returncode, time.monotonic() - start)


def octave_text(text):
    """A single-quoted Octave string literal."""
    return "'" + text.replace("'", "''") + "'"


def write_doubles(path, values):
    with open(path, "wb") as file:
        file.write(struct.pack("<%dd" % len(values), *values))


def call_script(folder, index, call):
    """Octave code for one call; its data goes to files in the folder."""
    if call.code is not None:
        return call.code + "\n"
    re_file = "call%d_re.bin" % index
    write_doubles(os.path.join(folder, re_file), call.re)
    lines = ["fid = fopen('%s', 'r', 'ieee-le'); re = fread(fid, Inf, 'double'); fclose(fid);" % re_file]
    if call.im is None:
        lines.append("iq = re;")
    else:
        im_file = "call%d_im.bin" % index
        write_doubles(os.path.join(folder, im_file), call.im)
        lines.append("fid = fopen('%s', 'r', 'ieee-le'); im = fread(fid, Inf, 'double'); fclose(fid);"
                     % im_file)
        lines.append("iq = complex(re, im);")
    lines.append("iq = reshape(iq, %s);" % ("1, []" if call.shape == "row" else "[], 1"))
    invocation = "vandrel(iq, %s);" % octave_text(call.name)
    if call.repeat > 1:
        lines.append("for k = 1:%d\n  %s\nend" % (call.repeat, invocation))
    else:
        lines.append(invocation)
    return "\n".join(lines) + "\n"


def bus_description(case):
    return "\n".join(["# bus of the end-to-end case %s" % case.name] + case.bus +
                     ["store store", "trace trace.txt", "status status", ""])


def set_up(host, case, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for path in host.module_files():
        shutil.copy(path, folder)
    drivers = host.driver_files()
    for library in case.drivers:
        shutil.copy(drivers[library], folder)
    with open(os.path.join(folder, "bus.txt"), "w") as file:
        file.write(bus_description(case))
    return "".join(call_script(folder, i, call) for i, call in enumerate(case.calls))


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="latin-1") as file:
        return file.read().splitlines()


def read_status(path):
    status = {}
    for line in read_lines(path):
        key, _, value = line.partition(" ")
        status.setdefault(key, value)   # the first of a repeated key
    return status


def instrument_failures(library, lines):
    """What a status file shows left in the instruments: a device whose error
    queue is not empty, or whose input waits for the rest of a message or
    block. After any download, good or failed, there must be none."""
    failures = []
    errors = [line[len("device-error "):] for line in lines if line.startswith("device-error ")]
    for line in lines:
        if not line.startswith("device "):
            continue
        fields = line.split()
        values = dict(field.split("=", 1) for field in fields[5:] if "=" in field)
        where = " ".join(fields[1:3])
        if values.get("errors") != "0":
            queued = [e[len(where) + 1:] for e in errors if e.startswith(where + " ")]
            failures.append("%s: the instrument %s holds errors %s" % (library, where, queued))
        if values.get("input") != "idle":
            failures.append("%s: the instrument %s waits (input=%s)" % (library, where, values.get("input")))
    return failures


def compare_lines(what, actual, expected, failures):
    if actual == expected:
        return
    report = ["%s differs (%d lines, %d expected):" % (what, len(actual), len(expected))]
    for i in range(max(len(actual), len(expected))):
        got = actual[i] if i < len(actual) else "<none>"
        want = expected[i] if i < len(expected) else "<none>"
        if got != want:
            report.append("  line %d: got  %r" % (i + 1, got))
            report.append("  line %d: want %r" % (i + 1, want))
            if len(report) > 20:
                report.append("  ...")
                break
    failures.append("\n".join(report))


def probed_addresses(trace):
    addresses = []
    for line in trace:
        if line.startswith("ibdev("):
            addresses.append(int(line[len("ibdev("):].split(",")[1]))
        elif line.startswith('iopen("') and "," in line.split('"')[1]:
            addresses.append(int(line.split('"')[1].split(",")[1]))
    return addresses


def tried_interfaces(trace):
    names = []
    for line in trace:
        if line.startswith("ibfindA(") or line.startswith('iopen("'):
            name = line.split('"')[1]
            if "," not in name:
                names.append(name)
    return names


def expected_files(case):
    """Relative path under the store -> bytes the instrument should hold."""
    files = {}
    for stored in case.stored:
        call = case.calls[stored.call]
        interface, _, address = stored.device.rpartition("-")
        im = call.im if call.im is not None else [0.0] * len(call.re)
        for memory, values in (("arbi", call.re), ("arbq", im)):
            if memory not in stored.memories:
                continue
            path = simwave.stored_file_path("", interface, int(address), memory, call.name)
            files[os.path.normpath(path)] = simwave.encode_samples(values)
    return files


def stored_files(store):
    files = {}
    for root, _, names in os.walk(store):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as file:
                files[os.path.relpath(path, store)] = file.read()
    return files


def help_lines(host):
    """The help comment of the module's .m file, as the help command shows it."""
    source = [p for p in host.module_files() if p.endswith(".m")][0]
    lines = []
    for line in read_lines(source):
        if not line.startswith("%"):
            break
        lines.append(line[1:])
    return lines


def check(host, case, folder, result) -> List[str]:
    failures = []
    transcript = result.stdout.splitlines(keepends=True)
    if case.help_text:
        wanted = help_lines(host)
        shown = [line.rstrip("\n") for line in transcript]
        position = 0
        for line in wanted:
            while position < len(shown) and shown[position] != line:
                position += 1
            if position == len(shown):
                failures.append("help output lacks the line %r" % line)
                break
    else:
        compare_lines("transcript", transcript, case.transcript, failures)
    errors = [host.error_line(text) for text in case.errors]
    compare_lines("errors", result.stderr.splitlines(keepends=True), errors, failures)
    if (result.returncode != 0) != bool(case.errors):
        failures.append("exit status %d" % result.returncode)

    expected = expected_files(case)
    actual = stored_files(os.path.join(folder, "store"))
    if sorted(actual) != sorted(expected):
        failures.append("stored files %s, expected %s" % (sorted(actual), sorted(expected)))
    for path in sorted(set(actual) & set(expected)):
        if actual[path] != expected[path]:
            got = simwave.decode_samples(actual[path]) if len(actual[path]) % 2 == 0 else actual[path]
            failures.append("%s holds %r..., expected %r..." % (
                path, got[:8], simwave.decode_samples(expected[path])[:8]))

    trace = read_lines(os.path.join(folder, "trace.txt"))
    if case.trace is not None:
        compare_lines("trace", trace, case.trace, failures)
    if case.probes is not None and probed_addresses(trace) != case.probes:
        failures.append("probed %s, expected %s" % (probed_addresses(trace), case.probes))
    if case.interfaces_tried is not None and tried_interfaces(trace) != case.interfaces_tried:
        failures.append("tried interfaces %s, expected %s" % (tried_interfaces(trace), case.interfaces_tried))
    if case.no_bus_calls and trace:
        failures.append("bus calls were made: %s" % trace[:3])

    status_folder = os.path.join(folder, "status")
    present = sorted(n[:-len(".status")] for n in os.listdir(status_folder)) \
        if os.path.isdir(status_folder) else []
    for library in present:
        if library not in case.drivers:
            failures.append("%s was loaded although it is not beside the module" % library)
    for library, values in case.status.items():
        status = read_status(os.path.join(status_folder, library + ".status"))
        for key, value in values.items():
            if status.get(key) != value:
                failures.append("%s status %s is %r, expected %r" % (library, key, status.get(key), value))
        for line in [l for l in read_lines(os.path.join(status_folder, library + ".status"))
                     if l.startswith("problem ")]:
            failures.append("%s: bus description %s" % (library, line))
    for library in present:
        failures += instrument_failures(library, read_lines(os.path.join(status_folder, library + ".status")))

    if case.max_seconds is not None and result.seconds > case.max_seconds:
        failures.append("took %.2f s, more than %.1f s" % (result.seconds, case.max_seconds))
    return failures


def run_case(host, case, work):
    """Runs the case in work/<name>; returns the list of failures (empty: passed)."""
    folder = os.path.join(os.path.abspath(work), case.name)
    script = set_up(host, case, folder)
    environment = dict(os.environ)
    environment[BUS_VARIABLE] = os.path.join(folder, "bus.txt")
    environment.pop("DISPLAY", None)
    result = host.run(folder, script, environment)
    with open(os.path.join(folder, "stdout.txt"), "w", encoding="latin-1") as file:
        file.write(result.stdout)
    with open(os.path.join(folder, "stderr.txt"), "w", encoding="latin-1") as file:
        file.write(result.stderr)
    failures = check(host, case, folder, result)
    return failures, result


def run_and_report(selected, run):
    """Runs each case with run(case) -> (failures, result), prints PASS or
    FAIL with what differed, then the closing count; returns the exit code."""
    passed = failed = 0
    for case in selected:
        failures, result = run(case)
        if failures:
            failed += 1
            print("FAIL %s (%.2f s)" % (case.name, result.seconds))
            for failure in failures:
                print("  " + failure.replace("\n", "\n  "))
        else:
            passed += 1
            print("PASS %s (%.2f s)" % (case.name, result.seconds))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0
