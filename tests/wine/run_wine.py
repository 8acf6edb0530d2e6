#!/usr/bin/env python3
# Runs the end-to-end cases on the Windows module under Wine: the same table
# of cases and the same checks as the Octave runs, with a Windows host harness.
"""Usage: run_wine.py --win32 BUILD [--work FOLDER] (--prepare | --start | --stop | --check-module |
                   --list-host-cases | CASE ...)

  --prepare       create the Wine prefix if it is not there yet (scripts/test
                  does it before the builds and tests that would compete)
  --start         the same, then start the prefix's server and bring its
                  session up (once, before the cases)
  --stop          stop the prefix's server (once, after the cases)
  --check-module  what vandrel.dll exports, imports and carries as resources,
                  and the stand-in drivers' export tables
  --list-host-cases
                  the names of the cases of the host's export table (below)
  CASE ...        run these cases of tests/e2e/cases.py or of the host's export
                  table (all of both when none is named)

The prefix is BUILD/wine-prefix (32-bit). Each case lays the stand-in drivers
it names into the prefix's system32 folder and removes the others, so cases
take turns; the module, the help file and the harness lie in the case folder.
The calls are first evaluated by Octave, with a recorder in the module's
place, so that the code of a case means the same as in the Octave runs; the
harness then replays the recorded arguments against vandrel.dll. The cases
of the host's export table run here only: with a harness exporting the nine
R11 services alone (BUILD/r11-host), and with the full harness's class tests
that the module finds by name. The bus
description reaches the stand-ins as a Z: path (Wine's drive for the Unix
root), written with forward slashes, which Windows file calls accept.

Where i386 programs are emulated, every Wine program gets the mmap fix-up of
mmap_noreplace.c preloaded; it is compiled into BUILD/preload on first use.
"""
import argparse
import dataclasses
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.join(os.path.dirname(HERE), "e2e")
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, E2E)
import cases  # noqa: E402
import harness  # noqa: E402

HOST_MODULE = "matlab.exe"
DRIVERS = ("gpib-32.dll", "sicl32.dll")
PREFIX_READY = ".vandrel-prefix-ready"
BOOT_TIMEOUT_SECONDS = 900
# A case takes seconds; a hung session must not hold the whole run.
RUN_TIMEOUT_SECONDS = 120
SESSION_ATTEMPTS = 3
SETTLE_ATTEMPTS = 5
RETRY_PAUSE_SECONDS = 2
# Runs of a case that the emulation may crash before it counts as failed.
CASE_ATTEMPTS = 3
SESSION_TIMEOUT_SECONDS = 240
# What the loader's $LIB stands for in an i386 program.
I386_LIB = "lib/i386-linux-gnu"
# What qemu says when an emulated program dies of a signal it does not
# handle: a fault of the emulation, not of the Windows code, which Wine would
# report as an unhandled exception of its own.
EMULATION_CRASH = "qemu: uncaught target signal"

# Stands in for the module while Octave evaluates a case's code: appends
# each call's arguments to calls.bin in the harness's format.
RECORDER = r"""function vandrel_record(varargin)
  fid = fopen('calls.bin', 'a');
  fprintf(fid, 'call %d\n', nargin);
  for k = 1:nargin
    x = varargin{k};
    dims = size(x);
    m = dims(1);
    n = prod(dims(2:end));
    if ischar(x)
      fprintf(fid, 'char 0 0 %d %d\n', m, n);
      fwrite(fid, double(x(:)), 'uchar');
    elseif isnumeric(x) || islogical(x)
      z = iscomplex(x);
      fprintf(fid, '%s %d %d %d %d\n', class(x), issparse(x), z, m, n);
      v = double(full(x(:)));
      fwrite(fid, real(v), 'double', 0, 'ieee-le');
      if z
        fwrite(fid, imag(v), 'double', 0, 'ieee-le');
      end
    else
      fprintf(fid, '%s 0 0 %d %d\n', class(x), m, n);
    end
  end
  fclose(fid);
end
"""
CALL_PATTERN = re.compile(r"(?<![\w.])vandrel\s*\(")


def i386_is_emulated():
    """Whether i386 programs run through qemu's user-mode emulation here."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as file:
            return file.readline().strip() == "enabled"
    except OSError:
        return False


def wine_loader():
    # The loader itself rather than the wrapper script, so that a preloaded
    # 32-bit library never meets a 64-bit shell.
    for path in ("/usr/lib/wine/wine", "/usr/lib/i386-linux-gnu/wine/wine"):
        if os.access(path, os.X_OK):
            return path
    return shutil.which("wine") or "wine"


class Wine:
    """A 32-bit Wine prefix under the Windows build folder."""

    def __init__(self, win32):
        self.win32 = os.path.abspath(win32)
        self.prefix = os.path.join(self.win32, "wine-prefix")
        self.system32 = os.path.join(self.prefix, "drive_c", "windows", "system32")
        self.loader = wine_loader()
        self.environment = dict(os.environ)
        self.environment.pop("DISPLAY", None)
        self.environment.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            # No Mono or Gecko installer: they cannot be fetched and are not needed.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        self.emulated = i386_is_emulated()
        self.preload = None

    def client_environment(self, base=None):
        if self.emulated and self.preload is None:
            self.preload = build_preload(self.win32)
        environment = dict(base if base is not None else self.environment)
        environment.update({k: self.environment[k] for k in
                            ("WINEPREFIX", "WINEARCH", "WINEDEBUG", "WINEDLLOVERRIDES")})
        environment.pop("DISPLAY", None)
        if self.preload:
            environment["LD_PRELOAD"] = self.preload
        return environment

    def server(self, *arguments, timeout=120):
        # The server is a native program: it gets no preload.
        server = shutil.which("wineserver") or "wineserver"
        with open(os.path.join(self.win32, "wineserver.log"), "ab") as log:
            return subprocess.run([server] + list(arguments), env=self.environment, stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=log, timeout=timeout).returncode

    def run(self, arguments, cwd, stdout_path, stderr_path, environment=None, timeout=RUN_TIMEOUT_SECONDS):
        """Runs a Windows program. Output goes to files, never pipes: the
        session's background processes may inherit them and outlive the run."""
        with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
            start = time.monotonic()
            try:
                done = subprocess.run([self.loader] + arguments, cwd=cwd, env=self.client_environment(environment),
                                      stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
            except subprocess.TimeoutExpired:
                err.write(b"run_wine: no end after %d s\n" % timeout)
                return None, time.monotonic() - start
            return done.returncode, time.monotonic() - start

    def logs(self):
        folder = os.path.join(self.win32, "wine-start")
        os.makedirs(folder, exist_ok=True)
        return folder

    def prepare(self):
        """Creates the prefix unless it is complete; leaves its server running."""
        if os.path.exists(os.path.join(self.prefix, PREFIX_READY)):
            return 0
        start = time.monotonic()
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)
        # The server runs in the prefix's folder; wineboot fills it.
        os.makedirs(self.prefix)
        if self.server("-p") != 0:
            print("wineserver did not start")
            return 1
        logs = self.logs()
        code, _ = self.run(["wineboot", "--init"], self.win32, os.path.join(logs, "wineboot.out"),
                           os.path.join(logs, "wineboot.err"), timeout=BOOT_TIMEOUT_SECONDS)
        if code != 0 or not os.path.isdir(self.system32):
            print("wineboot --init failed (%s); see %s" % (code, logs))
            return 1
        for library in DRIVERS:
            self.remove_driver(library)
        open(os.path.join(self.prefix, PREFIX_READY), "w").close()
        print("created the prefix %s in %.1f s%s" % (
            self.prefix, time.monotonic() - start, " (i386 emulated, with the mmap fix-up)" if self.emulated else ""))
        return 0

    def start(self):
        if self.prepare() != 0:
            return 1
        if self.server("-p") != 0:
            print("wineserver did not start")
            return 1
        logs = self.logs()
        # The first program of a session brings up its services; after that a
        # program starts quickly. Under emulation a service may crash on the
        # way up and take the first program with it: it is tried again.
        for attempt in range(1, SESSION_ATTEMPTS + 1):
            if attempt > 1:
                # A session that did not come up is ended whole, services and all.
                self.stop()
                self.server("-p")
            code, seconds = self.run(["cmd", "/c", "exit 0"], self.win32, os.path.join(logs, "session.out"),
                                     os.path.join(logs, "session.err"), timeout=SESSION_TIMEOUT_SECONDS)
            print("session start %d: cmd exit %s in %.1f s%s" % (
                attempt, code, seconds, " (i386 emulated, with the mmap fix-up)" if self.emulated else ""))
            if code == 0 and self.settle(logs):
                return 0
        return 1

    def settle(self, logs):
        """Whether the harness loads the module and ends cleanly. Under
        emulation a young session's services can still take a program down
        as it ends; this waits until they no longer do."""
        calls = os.path.join(logs, "no_calls.bin")
        open(calls, "wb").close()
        for attempt in range(1, SETTLE_ATTEMPTS + 1):
            out, err = os.path.join(logs, "settle.out"), os.path.join(logs, "settle.err")
            code, seconds = self.run([os.path.join(self.win32, HOST_MODULE), "vandrel.dll", calls], self.win32,
                                     out, err, timeout=SESSION_TIMEOUT_SECONDS)
            with open(err, "rb") as file:
                clean = code == 0 and not file.read()
            print("harness run %d: exit %s in %.1f s%s" % (attempt, code, seconds, "" if clean else ", not clean"))
            if clean:
                return True
            time.sleep(RETRY_PAUSE_SECONDS)
        return False

    def stop(self):
        if not os.path.isdir(self.prefix):
            return 0
        self.server("-k")
        # Gone for good before the prefix is touched again.
        self.server("-w")
        return 0

    def remove_driver(self, library):
        path = os.path.join(self.system32, library)
        if os.path.lexists(path):
            os.remove(path)


def build_preload(win32):
    """Compiles the mmap fix-up for both classes of program; returns the
    LD_PRELOAD entry, whose $LIB the loader fills in for each."""
    source = os.path.join(HERE, "mmap_noreplace.c")
    folder = os.path.join(win32, "preload")
    for bits, lib in ((32, I386_LIB), (64, "lib/x86_64-linux-gnu")):
        output = os.path.join(folder, lib, "mmap_noreplace.so")
        if os.path.exists(output) and os.path.getmtime(output) >= os.path.getmtime(source):
            continue
        os.makedirs(os.path.dirname(output), exist_ok=True)
        compiler = os.environ.get("CC") or shutil.which("cc") or "gcc"
        subprocess.run([compiler, "-m%d" % bits, "-O2", "-ffreestanding", "-fno-stack-protector", "-fPIC",
                        "-nostdlib", "-shared", "-fvisibility=hidden", "-Wall", "-Wextra", "-Werror",
                        "-o", output, source], check=True)
    return os.path.join(folder, "$LIB", "mmap_noreplace.so")


def z_path(path):
    """The Windows name of a Unix path through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path)


class WineHost:
    """The host harness (named like the host executable) with vandrel.dll;
    `harness_folder` names another build of the harness under BUILD."""

    name = "wine"

    def __init__(self, wine, harness_folder=None):
        self.wine = wine
        self.harness_folder = harness_folder

    def module_files(self):
        harness_path = os.path.join(self.wine.win32, self.harness_folder or "", HOST_MODULE)
        return [os.path.join(self.wine.win32, f) for f in ("vandrel.dll", "vandrel.m")] + [harness_path]

    def driver_files(self):
        return {library: os.path.join(self.wine.win32, "sim", library) for library in DRIVERS}

    def error_line(self, text):
        return "??? %s\n" % text

    def record(self, folder, script):
        with open(os.path.join(folder, "vandrel_record.m"), "w") as file:
            file.write(RECORDER)
        recording = CALL_PATTERN.sub("vandrel_record(", script)
        with open(os.path.join(folder, "record_case.m"), "w") as file:
            file.write(recording)
        open(os.path.join(folder, "calls.bin"), "wb").close()
        command = ["octave", "--no-gui", "--norc", "--quiet", "--no-window-system", "--no-history",
                   "--eval", recording]
        return subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=RUN_TIMEOUT_SECONDS)

    def place_drivers(self, folder):
        # The case's drivers move from beside the module into the system folder.
        for library in DRIVERS:
            beside = os.path.join(folder, library)
            self.wine.remove_driver(library)
            if os.path.exists(beside):
                shutil.move(beside, os.path.join(self.wine.system32, library))

    @staticmethod
    def reset_bus_files(folder):
        for name in ("store", "status"):
            shutil.rmtree(os.path.join(folder, name), ignore_errors=True)
        trace = os.path.join(folder, "trace.txt")
        if os.path.exists(trace):
            os.remove(trace)

    def run(self, folder, script, environment):
        recorded = self.record(folder, script)
        octave_out = recorded.stdout.decode("latin-1")
        if recorded.returncode != 0:
            return harness.RunResult(octave_out, "recording the calls failed:\n" + recorded.stderr.decode("latin-1"),
                                     recorded.returncode, 0.0)
        self.place_drivers(folder)
        environment = dict(environment)
        bus = environment.get(harness.BUS_VARIABLE)
        if bus:
            environment[harness.BUS_VARIABLE] = z_path(bus)
        stdout_path = os.path.join(folder, "wine_stdout.bin")
        stderr_path = os.path.join(folder, "wine_stderr.bin")
        times_path = os.path.join(folder, "call_seconds.txt")
        for attempt in range(1, CASE_ATTEMPTS + 1):
            if os.path.exists(times_path):
                os.remove(times_path)
            code, seconds = self.wine.run([os.path.join(folder, HOST_MODULE), "vandrel.dll", "calls.bin",
                                           "call_seconds.txt"], folder, stdout_path, stderr_path, environment)
            with open(stdout_path, "rb") as out, open(stderr_path, "rb") as err:
                stdout = out.read().decode("latin-1")
                stderr = err.read().decode("latin-1")
            if code is None:
                code = 1
            if attempt == CASE_ATTEMPTS or not self.wine.emulated or EMULATION_CRASH not in stderr:
                break
            # Once more from the start: what the crashed run left on the
            # simulated bus (stored files, trace, status counters) must not count.
            print("the emulation crashed (%s); running the case again" % stderr.strip().splitlines()[-1])
            self.reset_bus_files(folder)
            time.sleep(RETRY_PAUSE_SECONDS)
        # A case's time limit is about the module's calls; starting a Windows
        # program (all the more where i386 is emulated) is not part of it.
        if os.path.exists(times_path):
            with open(times_path) as file:
                seconds = float(file.read())
        return harness.RunResult(octave_out + stdout, stderr, code, seconds)


# ---- the host's export table ----------------------------------------------------

# The harness that exports the nine R11 services and nothing else.
R11_HOST_FOLDER = "r11-host"
NOT_DOUBLE = "Complex data for vandrel must be a full (not sparse) double array."


def host_cases():
    """(case, harness folder) of the cases about what the host exports.
    A host without the class tests still loads the module, and a download
    goes on as for a full double array; a host with them has its answers
    heeded, though the module imports neither."""
    ni_at_19 = cases.case_named("ni-at-19")
    single = cases.Call("w", [1.0, 2.0, 3.0], None, code="vandrel(single([1 2 3]), 'w');")
    sparse = cases.Call("", [], None, code="vandrel(sparse([1 2 3]), 'w');")
    refused = dict(errors=[NOT_DOUBLE], no_bus_calls=True)
    return [
        (dataclasses.replace(ni_at_19, name="r11-host.ni-at-19"), R11_HOST_FOLDER),
        (cases.Case("r11-host.single", (cases.NI,), cases.NI_BUS, [single], cases.ni_download("w", 3),
                    stored=[cases.Stored("gpib0-19")], status={cases.NI: {"open": "0", "loads": "1"}}),
         R11_HOST_FOLDER),
        (cases.Case("class-tests.single", (cases.NI,), cases.NI_BUS, [single], [], **refused), None),
        (cases.Case("class-tests.sparse", (cases.NI,), cases.NI_BUS, [sparse], [], **refused), None),
    ]


def selected_cases(names):
    """(case, harness folder) for each name; every case when none is named."""
    table = [(case, None) for case in cases.CASES] + host_cases()
    if not names:
        return table
    by_name = {case.name: (case, folder) for case, folder in table}
    return [by_name[name] for name in names]


# ---- the module file itself ---------------------------------------------------

OBJDUMP = "i686-w64-mingw32-objdump"
WINDRES = "i686-w64-mingw32-windres"
EXPECTED_STRINGS = ['104, "MATLAB R11 native"', '105, "not inlined"']


# The services of the R11 host interface: the module imports these and no
# other from the host executable.
R11_SERVICES = {"mexPrintf", "mexErrMsgTxt", "mxGetM", "mxGetN", "mxGetPr", "mxGetPi",
                "mxCalloc", "mxGetString", "mxFree"}
# The system libraries the module may import from, and the committed list of
# the functions it may import from them.
SYSTEM_LIBRARIES = ("kernel32.dll", "msvcrt.dll")
ALLOWED_IMPORTS = os.path.join(HERE, "win32_imports_allowed.txt")
# What the drivers the stand-ins model export, under their plain names: the
# NI-488.2 functions and data the stand-in carries, and SICL's entries.
DRIVER_EXPORTS = {
    "gpib-32.dll": {"ibclr", "ibconfig", "ibdev", "ibeot", "ibfindA", "ibloc", "ibonl", "ibrd", "ibtmo",
                    "ibwrt", "user_ibsta", "user_iberr", "user_ibcntl", "CopyrightString"},
    "sicl32.dll": {"iopen", "iclose", "iwrite", "iclear", "itimeout", "iread", "ilocal", "iprintf"},
}
# Where the module's source names the entries it binds by name.
DRIVER_ABI = os.path.join(SOURCE, "gpib", "driver_abi.h")


def dll_listing(path):
    return subprocess.run([OBJDUMP, "-p", path], stdout=subprocess.PIPE, check=True).stdout.decode("latin-1")


def dll_exports_and_imports(path):
    """The export names in table order, and {library: [imported names]}
    in import order (an import by ordinal shows as "#N")."""
    listing = dll_listing(path)
    exports = []
    table = listing.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2:
        for line in table[1].splitlines()[1:]:
            match = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if not match:
                break
            exports.append(match.group(1))
    imports = {}
    library = None
    for line in listing.splitlines():
        match = re.match(r"^\s*DLL Name: (\S+)", line)
        if match:
            library = match.group(1)
            imports[library] = []
            continue
        if library is None:
            continue
        if not line.strip():
            # A library's names end at the first blank line after them.
            if imports[library]:
                library = None
            continue
        match = re.match(r"^\s*[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if match:
            imports[library].append(match.group(2))
            continue
        match = re.match(r"^\s*[0-9a-f]+\s+<none>\s+([0-9a-f]+)\s*$", line)
        if match:
            imports[library].append("#%d" % int(match.group(1), 16))
    return exports, imports


def allowed_imports():
    """{library (lower case): {function}} from the committed allow-list."""
    allowed = {}
    with open(ALLOWED_IMPORTS) as file:
        for line in file:
            line = line.split("#", 1)[0].strip()
            if line:
                library, function = line.split()
                allowed.setdefault(library.lower(), set()).add(function)
    return allowed


def module_entry_names():
    """{library: [names]}: the names the module's source binds by name in
    each driver, taken from its entry lists and its data export names."""
    with open(DRIVER_ABI) as file:
        text = file.read()

    def macro_body(name):
        match = re.search(r"^#define %s\(X\)(.*?)(?<!\\)$" % name, text, re.MULTILINE | re.DOTALL)
        return match.group(1) if match else ""

    ni = re.findall(r"X\(\s*[^,()]+,\s*(\w+)\s*,", macro_body("NI488_FUNCTION_ENTRIES"))
    ni += re.findall(r'^#define NI488_\w+_EXPORT\s+"([^"]*)"', text, re.MULTILINE)
    sicl = re.findall(r"X\(\s*(\w+)\s*\)", macro_body("SICL_ENTRIES"))
    return {"gpib-32.dll": ni, "sicl32.dll": sicl}


def binary_strings(path):
    """The NUL-terminated printable strings of a file."""
    with open(path, "rb") as file:
        return {m.decode("latin-1") for m in re.findall(rb"([\x20-\x7e]+)\x00", file.read())}


def check_driver_tables(win32, dll, failures):
    """The stand-ins export the drivers' entries under plain names, and every
    entry the module binds by name is among them."""
    bound = module_entry_names()
    held = binary_strings(dll)
    for library, names in sorted(bound.items()):
        if not names:
            failures.append("no entry names of %s found in %s" % (library, DRIVER_ABI))
        for name in names:
            if name not in held:
                failures.append("vandrel.dll does not hold the entry name %r of %s: is the build stale?"
                                % (name, library))
    for library in DRIVERS:
        exports, _ = dll_exports_and_imports(os.path.join(win32, "sim", library))
        decorated = [n for n in exports if "@" in n or n.startswith("_")]
        if decorated:
            failures.append("%s exports decorated names %s: the driver's entries carry their plain names"
                            % (library, decorated))
        if set(exports) != DRIVER_EXPORTS[library]:
            failures.append("%s exports %s; the driver's entries are %s (missing %s, extra %s)" % (
                library, sorted(exports), sorted(DRIVER_EXPORTS[library]),
                sorted(DRIVER_EXPORTS[library] - set(exports)), sorted(set(exports) - DRIVER_EXPORTS[library])))
        unresolved = [n for n in bound.get(library, []) if n not in exports]
        if unresolved:
            failures.append("the module binds %s in %s, which does not export them" % (unresolved, library))
        print("%s exports %s; the module binds %s" % (library, exports, bound.get(library, [])))


def check_module(win32):
    failures = []
    dll = os.path.join(win32, "vandrel.dll")
    exports, imports = dll_exports_and_imports(dll)
    if exports != ["mexFunction"]:
        failures.append("vandrel.dll exports %s, expected only mexFunction" % exports)
    by_library = {library.lower(): names for library, names in imports.items()}
    host = by_library.get(HOST_MODULE.lower())
    if host is None:
        failures.append("vandrel.dll does not import from %s: %s" % (HOST_MODULE, sorted(imports)))
    elif set(host) != R11_SERVICES or len(host) != len(R11_SERVICES):
        # Windows would refuse to load the module into a host that lacks any one of them.
        failures.append("vandrel.dll imports %s from %s; the R11 services are %s (beyond them %s)" % (
            host, HOST_MODULE, sorted(R11_SERVICES), sorted(set(host) - R11_SERVICES)))
    extra = [i for i in imports if i.lower() not in {HOST_MODULE.lower()} | set(SYSTEM_LIBRARIES)]
    if extra:
        failures.append("vandrel.dll imports from %s besides the host, KERNEL32.dll and msvcrt.dll" % extra)
    allowed = allowed_imports()
    for library, names in sorted(imports.items()):
        if library.lower() not in SYSTEM_LIBRARIES:
            continue
        unlisted = [n for n in names if n not in allowed.get(library.lower(), set())]
        if unlisted:
            failures.append("vandrel.dll imports %s from %s, which %s does not list as present on the "
                            "module's Windows versions" % (unlisted, library, os.path.basename(ALLOWED_IMPORTS)))
    rc = subprocess.run([WINDRES, "-i", dll, "-O", "rc"], stdout=subprocess.PIPE, check=True).stdout.decode("latin-1")
    types = re.findall(r"/\* Type: (\S+)", rc)
    if types != ["stringtable"]:
        failures.append("resource types %s, expected one string table" % types)
    if "LANGUAGE 9, 1" not in rc:
        failures.append("the string table is not in English (United States)")
    entries = [line.strip() for line in rc.splitlines() if re.match(r"\s*\d+,", line)]
    if entries != EXPECTED_STRINGS:
        failures.append("string table %s, expected %s" % (entries, EXPECTED_STRINGS))
    check_driver_tables(win32, dll, failures)
    print("vandrel.dll exports %s; imports %s" % (
        exports, "; ".join("%s: %s" % (library, " ".join(names)) for library, names in imports.items())))
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--win32", required=True, help="the Windows build folder")
    parser.add_argument("--work", help="where the case folders go (default WIN32/wine-cases)")
    parser.add_argument("--prepare", action="store_true")
    parser.add_argument("--start", action="store_true")
    parser.add_argument("--stop", action="store_true")
    parser.add_argument("--check-module", action="store_true")
    parser.add_argument("--list-host-cases", action="store_true")
    parser.add_argument("names", nargs="*", help="cases to run")
    arguments = parser.parse_args()
    if arguments.check_module:
        return check_module(os.path.abspath(arguments.win32))
    if arguments.list_host_cases:
        print(";".join(case.name for case, _ in host_cases()))
        return 0
    wine = Wine(arguments.win32)
    if arguments.prepare:
        code = wine.prepare()
        wine.stop()
        return code
    if arguments.start:
        return wine.start()
    if arguments.stop:
        return wine.stop()

    work = arguments.work or os.path.join(wine.win32, "wine-cases")
    selected = selected_cases(arguments.names)
    folders = {case.name: folder for case, folder in selected}
    return harness.run_and_report([case for case, _ in selected],
                                  lambda case: harness.run_case(WineHost(wine, folders[case.name]), case, work))


if __name__ == "__main__":
    sys.exit(main())
