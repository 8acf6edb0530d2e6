#!/usr/bin/env python3
# One Octave session of 500 calls mixing good downloads with every failure a
# session can meet, switched between calls; then what must hold after them.
"""Usage: repeated.py --build BUILD [--work FOLDER] [--calls N] [--seed S]

Lays out a folder with the module, the stand-ins and their variants, writes
an Octave script of N calls (500 by default) in a seeded random order, runs
it in one Octave process and checks:

- every call's transcript, line by line, as its kind must give it;
- every waveform file the instrument holds equals the data of the call that
  stored it (and no call that failed stored its part);
- afterwards no SICL session and no NI-488.2 descriptor is open, nothing was
  left open when a library was released, and gpib-32.dll was loaded once
  after the refused loads of the first calls;
- the instruments as each library saw them last hold no error and wait
  for nothing;
- the resident memory of the Octave process (VmRSS from /proc/self/status,
  read inside Octave) grew by no more than RSS_BOUND_KB from the end of the
  warm-up calls to the last call.

Prints one line per figure, then "1 passed, 0 failed" or the failures.
"""
import argparse
import os
import random
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import harness  # noqa: E402
import rows  # noqa: E402
from rows import NI, SICL, head  # noqa: E402
import simwave  # noqa: E402  (put on the path by harness)

# Growth of VmRSS allowed from the end of the warm-up to the last call.
# Sessions of 500 calls measured 12 kB with four seeds, one of 2000 calls
# 8 kB (docs/reliability.md); the bound leaves room for the host's own
# allocator and still catches a leak of about 1 kB a call.
RSS_BOUND_KB = 512
STALL_WAIT_MS = 20       # the stalled block's write gives up after this long
MARKER = "=== call "

# The files beside the module a call needs, by role: the stand-in or variant
# each name is a link to, or None for no file.
SPARES = {
    "ni": ("ni", NI), "ni-text": ("text", NI), "ni-no-status": ("ni:without-user_ibsta", NI),
    "sicl": ("sicl", SICL), "sicl-text": ("text", SICL), "sicl-no-iprintf": ("sicl:without-iprintf", SICL),
}

STORE = ["store store", "trace trace.txt", "status status"]
BUSES = {
    "ni": ["interface gpib0", "device gpib0 19 kvr"],
    "ni-notice-short": ["interface gpib0", "device gpib0 19 kvr", "fault notice-short"],
    "ni-stall-i": ["interface gpib0", "device gpib0 19 kvr",
                   "fault block-timeout gpib0 19 arbi 1 %d" % STALL_WAIT_MS],
    "ni-stall-q": ["interface gpib0", "device gpib0 19 kvr",
                   "fault block-timeout gpib0 19 arbq 1 %d" % STALL_WAIT_MS],
    "ni-refused-i": ["interface gpib0", "device gpib0 19 kvr", "fault block-refused gpib0 19 arbi"],
    "ni-refused-q": ["interface gpib0", "device gpib0 19 kvr", "fault block-refused gpib0 19 arbq"],
    "ni-read-fails": ["interface gpib0", "device gpib0 19 kvr", "fault read-fails gpib0 19"],
    "ni-read-fails-next": ["interface gpib0", "device gpib0 19 kvr", "device gpib0 20 kvr",
                           "fault read-fails gpib0 19"],
    "ni-reply-120": ["interface gpib0", "device gpib0 19 kvr " + "x" * 115 + "KVR-D",
                     "fault unterminated gpib0 19"],
    "ni-reply-long": ["interface gpib0", "device gpib0 19 kvr KVR-D " + "y" * 194],
    "ni-reply-cut": ["interface gpib0", "device gpib0 19 kvr " + "z" * 117 + "KVR-D" + "z" * 78,
                     "device gpib0 20 kvr"],
    "ni-two-addresses": ["interface gpib0", "device gpib0 23 kvr", "fault also-answers gpib0 23 19"],
    "ni-no-board": ["interface gpib4", "device gpib4 19 kvr"],
    "sicl": ["interface hpib7", "device hpib7 19 kvr"],
    "sicl-stall-i": ["interface hpib7", "device hpib7 19 kvr",
                     "fault block-timeout hpib7 19 arbi 1 %d" % STALL_WAIT_MS],
    "sicl-refused-q": ["interface hpib7", "device hpib7 19 kvr", "fault block-refused hpib7 19 arbq"],
    "sicl-read-fails-next": ["interface hpib7", "device hpib7 19 kvr", "device hpib7 20 kvr",
                             "fault read-fails hpib7 19"],
    "sicl-reply-cut": ["interface hpib7", "device hpib7 19 kvr " + "z" * 117 + "KVR-D" + "z" * 78,
                       "device hpib7 20 kvr"],
}


class Kind:
    """One kind of call: the files and bus it needs, and what it must give."""

    def __init__(self, name, ni, sicl, bus, outcome, weight, code=None, stores=None):
        self.name = name
        self.ni = ni              # spare linked as gpib-32.dll, or None
        self.sicl = sicl          # spare linked as sicl32.dll, or None
        self.bus = bus
        self.outcome = outcome    # function (name, length) -> expected lines
        self.weight = weight
        self.code = code          # Octave code instead of a download of the call's data
        self.stores = stores or []  # (device, memory) the call stores


def ni_found(address=19, interface="gpib0"):
    return [rows.NI_CARD, "Interface = %s.\n" % interface, "KVR_addr = %d.\n" % address,
            "Timeout set to 3 seconds.\n"]


def sicl_found(address=19):
    return [rows.SICL_CARD, "Interface = hpib7.\n", "KVR_addr = %d.\n" % address, "Timeout set to 3 seconds.\n"]


GOOD = [rows.LOADING_I, rows.LOADING_Q, rows.DONE]
FAIL_I = [rows.LOADING_I, rows.FAILED_I]
FAIL_Q = [rows.LOADING_I, rows.LOADING_Q, rows.FAILED_Q]
I_AND_Q = lambda device: [(device, "arbi"), (device, "arbq")]  # noqa: E731


def caught(text):
    return "caught: vandrel: %s\n" % text


# The calls before gpib-32.dll is first accepted: each is refused and released
# (or never loads), so they can only come before the first good NI call.
REFUSED_FIRST = [
    Kind("ni-not-a-library", "ni-text", None, "ni", lambda n, l: head(n, l) + [rows.NI_CARD, rows.NI_NOT_LOADED,
                                                                               rows.NO_INTERFACE], 0),
    Kind("ni-notice-short", "ni", None, "ni-notice-short",
         lambda n, l: head(n, l) + [rows.NI_CARD, rows.NI_NOT_LOADED, rows.NO_INTERFACE], 0),
    Kind("ni-without-user_ibsta", "ni-no-status", None, "ni",
         lambda n, l: head(n, l) + [rows.NI_CARD, rows.NI_NOT_LOADED, rows.NO_INTERFACE], 0),
]
REFUSED_LOADS = 4   # a refused driver is loaded again for each of the four board names

MIXED = [
    Kind("ni-good", "ni", None, "ni", lambda n, l: head(n, l) + ni_found() + GOOD, 120, stores=I_AND_Q("gpib0-19")),
    Kind("ni-stall-i", "ni", None, "ni-stall-i", lambda n, l: head(n, l) + ni_found() + FAIL_I, 12),
    Kind("ni-stall-q", "ni", None, "ni-stall-q", lambda n, l: head(n, l) + ni_found() + FAIL_Q, 12,
         stores=[("gpib0-19", "arbi")]),
    Kind("ni-refused-i", "ni", None, "ni-refused-i", lambda n, l: head(n, l) + ni_found() + FAIL_I, 12),
    Kind("ni-refused-q", "ni", None, "ni-refused-q", lambda n, l: head(n, l) + ni_found() + FAIL_Q, 12,
         stores=[("gpib0-19", "arbi")]),
    Kind("ni-read-fails", "ni", None, "ni-read-fails",
         lambda n, l: head(n, l) + [rows.NI_CARD, "Interface = gpib0.\n", rows.NO_INSTRUMENT], 1),
    Kind("ni-read-fails-next", "ni", None, "ni-read-fails-next",
         lambda n, l: head(n, l) + ni_found(20) + GOOD, 12, stores=I_AND_Q("gpib0-20")),
    Kind("ni-reply-120", "ni", None, "ni-reply-120", lambda n, l: head(n, l) + ni_found() + GOOD, 12,
         stores=I_AND_Q("gpib0-19")),
    Kind("ni-reply-long", "ni", None, "ni-reply-long", lambda n, l: head(n, l) + ni_found() + GOOD, 12,
         stores=I_AND_Q("gpib0-19")),
    Kind("ni-reply-cut", "ni", None, "ni-reply-cut", lambda n, l: head(n, l) + ni_found(20) + GOOD, 12,
         stores=I_AND_Q("gpib0-20")),
    Kind("ni-two-addresses", "ni", None, "ni-two-addresses", lambda n, l: head(n, l) + ni_found(19) + GOOD, 12,
         stores=I_AND_Q("gpib0-23")),
    Kind("ni-no-board", "ni", None, "ni-no-board",
         lambda n, l: head(n, l) + [rows.NI_CARD, rows.NO_INTERFACE], 8),
    Kind("ni-vanished", None, None, "ni", lambda n, l: head(n, l) + [rows.NO_CARD, rows.NO_INTERFACE], 10),
    Kind("ni-empty", "ni", None, "ni",
         lambda n, l: head(n, 0) + [rows.NI_CARD, "Interface = gpib0.\n", "KVR_addr = 19.\n"], 8,
         code="vandrel(zeros(1, 0), '%(name)s');"),
    Kind("usage", "ni", None, "ni", lambda n, l: [caught(rows.USAGE)], 6, code="vandrel(iq);"),
    Kind("not-a-vector", "ni", None, "ni",
         lambda n, l: ["Number of Rows = 2 \n", "Number of Columns = 3 \n", caught(rows.NOT_A_VECTOR)], 6,
         code="vandrel(ones(2, 3), '%(name)s');"),
    Kind("not-double", "ni", None, "ni", lambda n, l: [caught(rows.NOT_DOUBLE)], 6,
         code="vandrel(single(iq), '%(name)s');"),
    Kind("bad-name", "ni", None, "ni", lambda n, l: [caught(rows.BAD_NAME)], 6,
         code="vandrel(iq, ['%(name)s' char(10)]);"),
    Kind("sicl-good", None, "sicl", "sicl", lambda n, l: head(n, l) + sicl_found() + GOOD, 40,
         stores=I_AND_Q("hpib7-19")),
    Kind("sicl-stall-i", None, "sicl", "sicl-stall-i", lambda n, l: head(n, l) + sicl_found() + FAIL_I, 6),
    Kind("sicl-refused-q", None, "sicl", "sicl-refused-q", lambda n, l: head(n, l) + sicl_found() + FAIL_Q, 6,
         stores=[("hpib7-19", "arbi")]),
    Kind("sicl-read-fails-next", None, "sicl", "sicl-read-fails-next",
         lambda n, l: head(n, l) + sicl_found(20) + GOOD, 6, stores=I_AND_Q("hpib7-20")),
    Kind("sicl-reply-cut", None, "sicl", "sicl-reply-cut", lambda n, l: head(n, l) + sicl_found(20) + GOOD, 6,
         stores=I_AND_Q("hpib7-20")),
    Kind("sicl-no-iprintf", None, "sicl-no-iprintf", "sicl",
         lambda n, l: head(n, l) + [rows.SICL_CARD, rows.sicl_lacks("iprintf"), rows.NO_INTERFACE], 6),
    Kind("sicl-not-a-library", None, "sicl-text", "sicl",
         lambda n, l: head(n, l) + [rows.SICL_CARD, rows.SICL_NOT_LOADED, rows.NO_INTERFACE], 6),
]


def schedule(calls, seed):
    """The kinds of the calls in order: the refused drivers twice each, one
    call of every other kind (the warm-up, which takes the host through each
    of its paths once), then a seeded mix holding every kind once more."""
    generator = random.Random(seed)
    first = REFUSED_FIRST * 2 + MIXED
    rest = list(MIXED)
    rest += generator.choices(MIXED, weights=[k.weight for k in MIXED], k=calls - len(first) - len(rest))
    generator.shuffle(rest)
    return first + rest, generator


def warm_up_calls(kinds):
    """The calls up to the end of the warm-up: the first of the last kind there."""
    return 2 * len(REFUSED_FIRST) + len(MIXED)


def octave_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def build_session(host, folder, calls, seed):
    """Lays out the folder and writes session.m; returns the calls' plan."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "spare"))
    for path in host.module_files():
        shutil.copy(path, folder)
    for spare, (source, _) in SPARES.items():
        target = os.path.join(folder, "spare", spare + ".dll")
        if source == "text":
            with open(target, "w") as file:
                file.write("This file carries a driver's name but holds no library.\n")
        else:
            library, _, variant = source.partition(":")
            name = {"ni": NI, "sicl": SICL}[library]
            shutil.copyfile(host.driver_files()[name] if not variant
                            else os.path.join(host.build, "sim", variant, name), target)

    kinds, generator = schedule(calls, seed)
    values = []
    plan = []
    lines = ["% The repeated-call session: one download after another in this Octave.",
             "fid = fopen('data.bin', 'r', 'ieee-le'); data = fread(fid, Inf, 'double')'; fclose(fid);",
             "buses = {%s};" % ", ".join(octave_string("\n".join(["# bus %s" % b] + BUSES[b] + STORE) + "\n")
                                          for b in BUSES),
             "function rss = residentKb()",
             "  tokens = regexp(fileread('/proc/self/status'), 'VmRSS:\\s+(\\d+)', 'tokens');",
             "  rss = str2double(tokens{1}{1});",
             "end"]
    bus_index = {b: i + 1 for i, b in enumerate(BUSES)}
    current = {NI: None, SICL: None}
    current_bus = None
    for k, kind in enumerate(kinds, 1):
        length = generator.randint(1, 64)
        name = "c%03d" % k
        re = [generator.uniform(-40000.0, 40000.0) for _ in range(length)]
        im = [generator.uniform(-40000.0, 40000.0) for _ in range(length)]
        offset = len(values)
        values += re + im
        plan.append((kind, name, length, re, im))
        lines.append("printf('%s%d\\n');" % (MARKER, k))
        for file_name, spare in ((NI, kind.ni), (SICL, kind.sicl)):
            if current[file_name] == spare:
                continue
            # A new link each time, never a rewrite in place: the loaded
            # driver keeps its file.
            lines.append("[failed, message] = unlink('%s');" % file_name)
            if spare is not None:
                lines.append("[failed, message] = link('spare/%s.dll', '%s');" % (spare, file_name))
                lines.append("if failed, error(message); end")
            current[file_name] = spare
        if kind.bus != current_bus:
            lines.append("fid = fopen('bus.txt', 'w'); fputs(fid, buses{%d}); fclose(fid);" % bus_index[kind.bus])
            current_bus = kind.bus
        lines.append("iq = complex(data(%d:%d), data(%d:%d));" % (offset + 1, offset + length,
                                                                 offset + length + 1, offset + 2 * length))
        invocation = (kind.code or "vandrel(iq, '%(name)s');") % {"name": name}
        lines.append("try\n  %s\ncatch err\n  printf('caught: %%s\\n', err.message);\nend" % invocation)
        # Read at the first call too, so that the reading's own first use of
        # the host's functions falls in the warm-up.
        if k in (1, warm_up_calls(kinds), len(kinds)) or k % 100 == 0:
            lines.append("printf('rss %d %%d\\n', residentKb());" % k)
    with open(os.path.join(folder, "data.bin"), "wb") as file:
        file.write(struct.pack("<%dd" % len(values), *values))
    with open(os.path.join(folder, "session.m"), "w") as file:
        file.write("1;\n" + "\n".join(lines) + "\n")
    with open(os.path.join(folder, "bus.txt"), "w") as file:
        file.write("\n".join(["# bus before the first call"] + BUSES["ni"] + STORE) + "\n")
    return plan


def split_calls(stdout):
    """stdout cut at the call markers: {call number: lines}, and the rss figures."""
    calls, rss = {}, {}
    number = None
    for line in stdout.splitlines(keepends=True):
        if line.startswith(MARKER):
            number = int(line[len(MARKER):])
            calls[number] = []
        elif line.startswith("rss "):
            _, at, kb = line.split()
            rss[int(at)] = int(kb)
        elif number is not None:
            calls[number].append(line)
    return calls, rss


def check(folder, plan, result):
    failures = []
    calls, rss = split_calls(result.stdout)
    if result.returncode != 0 or result.stderr.strip():
        failures.append("Octave ended with status %d: %s" % (result.returncode, result.stderr.strip()[:400]))
    expected_files = {}
    for number, (kind, name, length, re, im) in enumerate(plan, 1):
        wanted = kind.outcome(name, length)
        got = calls.get(number, [])
        if got != wanted:
            harness.compare_lines("call %d (%s)" % (number, kind.name), got, wanted, failures)
        for device, memory in kind.stores:
            interface, _, address = device.rpartition("-")
            path = os.path.normpath(simwave.stored_file_path("", interface, int(address), memory, name))
            expected_files[path] = simwave.encode_samples(re if memory == "arbi" else im)
    if len(failures) > 10:
        failures = failures[:10] + ["... %d more" % (len(failures) - 10)]

    actual = harness.stored_files(os.path.join(folder, "store"))
    if sorted(actual) != sorted(expected_files):
        extra = sorted(set(actual) - set(expected_files))
        missing = sorted(set(expected_files) - set(actual))
        failures.append("stored files differ: unexpected %s, missing %s" % (extra[:5], missing[:5]))
    wrong = [p for p in sorted(set(actual) & set(expected_files)) if actual[p] != expected_files[p]]
    if wrong:
        failures.append("%d stored files differ from their calls' data: %s" % (len(wrong), wrong[:5]))

    status = {library: harness.read_status(os.path.join(folder, "status", library + ".status"))
              for library in (NI, SICL)}
    refused = sum(1 for kind, *_ in plan if kind.ni in ("ni-no-status",) or kind.bus == "ni-notice-short")
    figures = {
        "calls": len(plan),
        "files stored": len(actual),
        "gpib-32.dll loads": status[NI].get("loads"),
        "gpib-32.dll refused loads": refused * REFUSED_LOADS,
        "gpib-32.dll open at the end": status[NI].get("open"),
        "sicl32.dll loads": status[SICL].get("loads"),
        "sicl32.dll unloads": status[SICL].get("unloads"),
        "sicl32.dll open at the end": status[SICL].get("open"),
        "sicl32.dll left open at unload": status[SICL].get("left-open-at-unload"),
        "gpib-32.dll left open at unload": status[NI].get("left-open-at-unload"),
    }
    wanted = {
        "gpib-32.dll loads": str(refused * REFUSED_LOADS + 1),
        "gpib-32.dll open at the end": "0",
        "sicl32.dll unloads": status[SICL].get("loads"),
        "sicl32.dll open at the end": "0",
        "sicl32.dll left open at unload": "0",
        "gpib-32.dll left open at unload": "0",
    }
    for key, value in wanted.items():
        if figures[key] != value:
            failures.append("%s is %r, expected %r" % (key, figures[key], value))
    for library in (NI, SICL):
        lines = harness.read_lines(os.path.join(folder, "status", library + ".status"))
        for line in lines:
            if line.startswith("problem "):
                failures.append("%s: bus description %s" % (library, line))
        failures += harness.instrument_failures(library, lines)

    last = len(plan)
    warm = warm_up_calls(plan)
    if warm in rss and last in rss:
        growth = rss[last] - rss[warm]
        figures["VmRSS after %d calls, the warm-up (kB)" % warm] = rss[warm]
        figures["VmRSS after %d calls (kB)" % last] = rss[last]
        figures["VmRSS growth (kB)"] = growth
        figures["VmRSS growth bound (kB)"] = RSS_BOUND_KB
        if growth > RSS_BOUND_KB:
            failures.append("VmRSS grew by %d kB, more than %d kB" % (growth, RSS_BOUND_KB))
    else:
        failures.append("the session did not report its resident memory: %s" % rss)
    figures["VmRSS along the way (kB)"] = " ".join("%d:%d" % item for item in sorted(rss.items()))
    figures["seconds"] = "%.1f" % result.seconds
    return failures, figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder holding vandrel.mex")
    parser.add_argument("--work", help="the session's folder (default BUILD/tests/hardening/repeated)")
    parser.add_argument("--calls", type=int, default=500)
    parser.add_argument("--seed", type=int, default=7)
    arguments = parser.parse_args()
    folder = os.path.abspath(arguments.work or os.path.join(arguments.build, "tests", "hardening", "repeated"))
    host = harness.OctaveHost(arguments.build)
    plan = build_session(host, folder, arguments.calls, arguments.seed)
    environment = dict(os.environ)
    environment[harness.BUS_VARIABLE] = os.path.join(folder, "bus.txt")
    environment.pop("DISPLAY", None)
    result = host.run(folder, "session", environment)
    for name, text in (("stdout.txt", result.stdout), ("stderr.txt", result.stderr)):
        with open(os.path.join(folder, name), "w", encoding="latin-1") as file:
            file.write(text)
    failures, figures = check(folder, plan, result)
    for key, value in figures.items():
        print("%s: %s" % (key, value))
    for failure in failures:
        print("FAIL " + failure.replace("\n", "\n  "))
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
