#!/usr/bin/env python3
# Runs the adapter's Octave cases: each with the NI-488.2 stand-in and with
# the adapter over the fake libgpib.so.0, and compares the two runs.
"""Usage: run_linux_gpib.py --build BUILD [--work FOLDER] [CASE ...]

Runs the named cases (all of them when none is named) and prints, for each,
PASS or FAIL with what differed. Each case leaves two folders, stand-in/ and
adapter/, for a look. Exits 77 (skipped) when a case needs libgpib.so.0 to
be missing and the system has one.
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.path.insert(0, HERE)
import cases  # noqa: E402
import cases_linux_gpib  # noqa: E402
import harness  # noqa: E402

LIBRARY = "libgpib.so.0"
SKIPPED = 77
DRIVER = cases.NI


class AdapterHost(harness.OctaveHost):
    """Octave with the adapter beside the module and a fake linux-gpib (or
    none) on the library search path."""

    def __init__(self, build, fake):
        super().__init__(build)
        self.fake = fake

    def driver_files(self):
        return {DRIVER: os.path.join(self.build, "adapters", "linux-gpib", DRIVER)}

    def run(self, folder, script, environment):
        environment = dict(environment)
        if self.fake is None:
            library_folder = os.path.join(folder, "no-libraries")
            os.makedirs(library_folder, exist_ok=True)
        else:
            library_folder = os.path.join(self.build, "tests", "linux-gpib", self.fake)
        environment["LD_LIBRARY_PATH"] = library_folder
        return super().run(folder, script, environment)


def system_has_library():
    listing = subprocess.run(["/sbin/ldconfig", "-p"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return LIBRARY in listing.stdout.decode("latin-1", "replace")


class Run:
    """What one run left: output, stored files, trace and status files."""

    def __init__(self, host, case, bus, folder):
        plain = cases.Case(case.name, (DRIVER,), bus, case.calls, [])
        script = harness.set_up(host, plain, folder)
        environment = dict(os.environ)
        environment[harness.BUS_VARIABLE] = os.path.join(folder, "bus.txt")
        environment.pop("DISPLAY", None)
        self.result = host.run(folder, script, environment)
        for stream, text in (("stdout.txt", self.result.stdout), ("stderr.txt", self.result.stderr)):
            with open(os.path.join(folder, stream), "w", encoding="latin-1") as file:
                file.write(text)
        self.transcript = self.result.stdout.splitlines(keepends=True)
        self.errors = self.result.stderr.splitlines(keepends=True)
        self.stored = harness.stored_files(os.path.join(folder, "store"))
        self.trace = harness.read_lines(os.path.join(folder, "trace.txt"))
        self.status_folder = os.path.join(folder, "status")

    def status(self, library):
        return harness.read_status(os.path.join(self.status_folder, library + ".status"))

    def problems(self, library):
        return [line for line in harness.read_lines(os.path.join(self.status_folder, library + ".status"))
                if line.startswith("problem ")]


# The byte-swap option never reaches linux-gpib: the adapter keeps it.
SWAP_OPTION = re.compile(r"^ibconfig\(\d+,20,\d+\) = ")


def stand_in_calls(trace):
    """The stand-in's trace as linux-gpib would have seen the same calls."""
    return [line.replace("ibfindA(", "ibfind(", 1) for line in trace if not SWAP_OPTION.match(line)]


def fake_calls(trace):
    """The fake's trace without the END marks of its writes."""
    return [re.sub(r" END( |$)", r"\1", line, count=1) for line in trace]


BLOCK_WRITE = re.compile(r"^ibwrt\((\d+),<(\d+) bytes>,(\d+)\) = (0x[0-9a-f]{4}) count=(\d+)(.*)$")
END_CONTROL = re.compile(r"^ibeot\(\d+,[01]\) = ")


def block_pieces(trace):
    """The writes longer than the trace quotes, grouped into blocks: a block
    is a run of them with at most END control between them. Each piece is
    (size, failed, carried END), and each block the lines that follow its
    last piece up to the next block."""
    blocks, current, after = [], None, []
    for line in trace:
        match = BLOCK_WRITE.match(line)
        if match:
            if current is None or after and not all(END_CONTROL.match(l) for l in after):
                current = {"pieces": [], "after": []}
                blocks.append(current)
            rest = match.group(6)
            current["pieces"].append((int(match.group(3)), int(match.group(4), 16) & 0x8000 != 0,
                                      rest.endswith(" END") or " END " in rest))
            after = current["after"] = []
        elif current is not None:
            after.append(line)
    return blocks


def check_pieces(case, adapter, failures):
    blocks = block_pieces(adapter.trace)
    if len(blocks) < len(case.pieces):
        failures.append("the fake saw %d blocks, expected at least %d" % (len(blocks), len(case.pieces)))
        return
    for index, (want, block) in enumerate(zip(case.pieces, blocks)):
        pieces = block["pieces"]
        sizes = [size for size, _, _ in pieces]
        if sizes != want.sizes:
            failures.append("block %d went in pieces %s, expected %s" % (index, sizes, want.sizes))
        failed = [i for i, (_, failure, _) in enumerate(pieces) if failure]
        if failed != ([] if want.failed_at is None else [want.failed_at]):
            failures.append("block %d: pieces %s failed, expected %s" % (index, failed, want.failed_at))
        ends = [i for i, (_, _, end) in enumerate(pieces) if end]
        wanted_ends = [len(pieces) - 1] if want.failed_at is None else []
        if ends != wanted_ends:
            failures.append("block %d: END went with pieces %s, expected %s" % (index, ends, wanted_ends))
        # After a broken-off block END goes back to the caller's setting.
        if want.failed_at is not None:
            following = block["after"][:1]
            if not following or not following[0].startswith("ibeot(") or ",1)" not in following[0]:
                failures.append("block %d: END not turned back on after the failed piece, next %s"
                                % (index, following))


def run_case(build, case, work):
    folder = os.path.join(os.path.abspath(work), case.name)
    stand_in = Run(harness.OctaveHost(build), case,
                   case.bus if case.stand_in_bus is None else case.stand_in_bus, os.path.join(folder, "stand-in"))
    adapter = Run(AdapterHost(build, case.fake), case, case.bus, os.path.join(folder, "adapter"))
    failures = []

    harness.compare_lines("adapter transcript against the stand-in's", adapter.transcript, stand_in.transcript,
                          failures)
    if case.transcript is not None:
        harness.compare_lines("stand-in transcript", stand_in.transcript, case.transcript, failures)
    if case.done is not None and (cases_linux_gpib.DONE in adapter.transcript) != case.done:
        failures.append("\"Done loading\" %s" % ("missing" if case.done else "printed"))
    if stand_in.errors:
        failures.append("stand-in run printed errors: %s" % stand_in.errors[:3])
    naming = [line for line in adapter.errors if LIBRARY in line]
    if len(naming) != case.adapter_stderr or len(adapter.errors) != case.adapter_stderr:
        failures.append("adapter run printed %r, expected %d line(s) naming %s"
                        % (adapter.errors[:5], case.adapter_stderr, LIBRARY))
    for run, label in ((stand_in, "stand-in"), (adapter, "adapter")):
        if run.result.returncode != 0:
            failures.append("%s run: exit status %d" % (label, run.result.returncode))

    if sorted(adapter.stored) != sorted(stand_in.stored):
        failures.append("stored files %s, the stand-in's %s" % (sorted(adapter.stored), sorted(stand_in.stored)))
    for path in sorted(set(adapter.stored) & set(stand_in.stored)):
        if adapter.stored[path] != stand_in.stored[path]:
            failures.append("%s differs from the stand-in's" % path)
    if case.stored:
        expected = harness.expected_files(cases.Case(case.name, (DRIVER,), case.bus, case.calls, [],
                                                     stored=[cases.Stored(device, i) for device in case.stored
                                                             for i in range(len(case.calls))]))
        if sorted(adapter.stored) != sorted(expected) or any(adapter.stored.get(p) != expected[p] for p in expected):
            failures.append("stored files %s are not the calls' data %s" % (sorted(adapter.stored), sorted(expected)))

    if case.same_trace:
        harness.compare_lines("calls the fake saw against the stand-in's trace", fake_calls(adapter.trace),
                              stand_in_calls(stand_in.trace), failures)
    check_pieces(case, adapter, failures)

    stand_in_open = stand_in.status(DRIVER).get("open")
    if stand_in_open != "0":
        failures.append("the stand-in has %s handles open" % stand_in_open)
    if case.fake is None:
        if os.path.isdir(adapter.status_folder):
            failures.append("a library reported on the bus although none was there: %s"
                            % os.listdir(adapter.status_folder))
    else:
        status = adapter.status(LIBRARY)
        for key, value in case.status.items():
            if status.get(key) != value:
                failures.append("%s status %s is %r, expected %r" % (LIBRARY, key, status.get(key), value))
        for line in adapter.problems(LIBRARY) + stand_in.problems(DRIVER):
            failures.append("bus description " + line)
    result = adapter.result
    result.seconds += stand_in.result.seconds
    return failures, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder holding vandrel.mex")
    parser.add_argument("--work", help="where the case folders go (default BUILD/tests/linux-gpib/cases)")
    parser.add_argument("names", nargs="*", help="cases to run")
    arguments = parser.parse_args()
    work = arguments.work or os.path.join(arguments.build, "tests", "linux-gpib", "cases")
    build = os.path.abspath(arguments.build)
    selected = ([cases_linux_gpib.case_named(n) for n in arguments.names] if arguments.names
                else cases_linux_gpib.CASES)
    if any(case.fake is None for case in selected) and system_has_library():
        print("SKIP: this system has its own %s, so it cannot be missing" % LIBRARY)
        return SKIPPED
    return harness.run_and_report(selected, lambda case: run_case(build, case, work))


if __name__ == "__main__":
    sys.exit(main())
