# The hardening rows: bad input and injected faults, each run in a real Octave
# against the simulated bus, with the whole outcome it must have.
"""The table of hardening rows.

A row names the files laid beside the module, the simulated bus (with its
`fault` lines), the Octave code of the calls, and what must come of them:
the whole transcript, the error the host raises, every waveform file the
instrument holds afterwards (byte for byte), lines the bus trace must hold,
and values of the stand-ins' status files. Besides what a row states, every
row must pass the rules in run_hardening.py: each download ends in a clear
line, "Done loading" never follows a failure, a refusal reaches no driver,
and nothing is left open in the drivers.

Files beside the module, by source: "ni" and "sicl" are the stand-ins,
"ni:without-NAME" and "sicl:without-NAME" the stand-ins lacking one export,
and "text" a file of text carrying the library's name.
"""
import math
import sys
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence

NI = "gpib-32.dll"
SICL = "sicl32.dll"

BANNER = ["\n", "KVR Waveform File Download Program Version 2.0\n"]
NI_CARD = "Using National Instruments GPIB Card.\n"
SICL_CARD = "Using Hewlett-Packard HP-IB Card.\n"
NO_CARD = "No GPIB Card driver found.\n"
NO_INTERFACE = "No GPIB configured Interface was found.\n"
NO_INSTRUMENT = "No KVR-D found.\n"
LOADING_I = "Loading the real part of the data to the dual arb.\n"
LOADING_Q = "Loading the imaginary part of the data to the dual arb.\n"
FAILED_I = "Writing the real part to the dual arb failed.\n"
FAILED_Q = "Writing the imaginary part to the dual arb failed.\n"
DONE = "Done loading the waveform into the KVR dual arb.\n"
NI_NOT_LOADED = "The NI-488.2 driver GPIB-32.DLL could not be loaded or identified; it cannot be used.\n"
SICL_NOT_LOADED = "The SICL library sicl32.dll could not be loaded; it cannot be used.\n"

USAGE = "Usage: vandrel(complex data, 'filename')"
NOT_A_VECTOR = "Input data must be a vector, not an array."
NOT_DOUBLE = "Complex data for vandrel must be a full (not sparse) double array."
BAD_NAME = "The waveform name for vandrel must not hold a double quote or a control character."

NI_BUS = ["interface gpib0", "device gpib0 19 kvr"]
SICL_BUS = ["interface hpib7", "device hpib7 19 kvr"]

# Every export of the NI-488.2 driver and every entry the SICL table binds.
NI_FUNCTIONS = ["ibclr", "ibconfig", "ibdev", "ibeot", "ibfindA", "ibloc", "ibonl", "ibrd", "ibtmo", "ibwrt"]
NI_DATA = ["user_ibsta", "user_iberr", "user_ibcntl", "CopyrightString"]
SICL_ENTRIES = ["iopen", "iclose", "iwrite", "iclear", "itimeout", "iread", "ilocal", "iprintf"]


def ni_lacks(entry):
    return "The NI-488.2 driver GPIB-32.DLL lacks the entry %s; it cannot be used.\n" % entry


def sicl_lacks(entry):
    return "The SICL library sicl32.dll lacks the entry %s; it cannot be used.\n" % entry


@dataclass
class Part:
    """One waveform file the instrument must hold: device, memory, name, values."""
    device: str          # "<interface>-<address>"
    memory: str          # "arbi" or "arbq"
    name: str            # the waveform name as bytes read as Latin-1
    values: Sequence[float]


@dataclass
class Row:
    name: str
    group: str                       # "input" or "fault": the table it belongs to in the docs
    what: str                        # the row in a few words
    files: Dict[str, str]            # file beside the module -> source
    bus: List[str]
    code: str                        # the Octave code of the calls
    transcript: List[str]
    errors: List[str] = field(default_factory=list)
    stored: List[Part] = field(default_factory=list)
    trace_has: List[str] = field(default_factory=list)   # in this order, not necessarily adjacent
    trace_ends: List[str] = field(default_factory=list)  # the trace's last lines, exactly
    status: Dict[str, Dict[str, str]] = field(default_factory=dict)
    no_driver_call: bool = False     # no driver is loaded, nothing reaches the bus
    open_after: Dict[str, str] = field(default_factory=dict)  # library -> "open" value other than 0
    min_seconds: Optional[float] = None
    max_seconds: Optional[float] = None
    outcome: str = ""                # the outcome as the docs word it


def both(device, name, re, im):
    """The I and Q files of one good download."""
    return [Part(device, "arbi", name, re), Part(device, "arbq", name, im if im is not None else [0.0] * len(re))]


def octave_vector(values):
    def one(v):
        if math.isnan(v):
            return "NaN"
        if math.isinf(v):
            return "Inf" if v > 0 else "-Inf"
        return repr(float(v))
    return "[" + " ".join(one(v) for v in values) + "]"


def call(re, im, name_code):
    data = octave_vector(re) if im is None else "complex(%s, %s)" % (octave_vector(re), octave_vector(im))
    return "vandrel(%s, %s);" % (data, name_code)


def quoted(name):
    return "'" + name.replace("'", "''") + "'"


def head(name, length):
    return ["Save to Waveform: %s \n" % name, "Waveform Length = %d points.\n" % length] + BANNER


def started(card, name, length, interface, address):
    """The lines up to the timeout set, before the first part is sent."""
    return head(name, length) + [card, "Interface = %s.\n" % interface, "KVR_addr = %d.\n" % address,
                                 "Timeout set to 3 seconds.\n"]


def ni_started(name, length, interface="gpib0", address=19):
    return started(NI_CARD, name, length, interface, address)


def sicl_started(name, length, interface="hpib7", address=19):
    return started(SICL_CARD, name, length, interface, address)


def ni_sent(name, length, interface="gpib0", address=19):
    return ni_started(name, length, interface, address) + [LOADING_I, LOADING_Q, DONE]


def sicl_sent(name, length, interface="hpib7", address=19):
    return sicl_started(name, length, interface, address) + [LOADING_I, LOADING_Q, DONE]


# 48 points: 96 bytes a part, which the trace shows as "<96 bytes>".
RE48 = [100.5, -200.5, 300.0, -400.0, 32767.0, -32768.0, 1.0, -1.0] * 6
IM48 = [-5.0, 6.0, -7.0, 8.0, 0.0, 9.9, -9.9, 12345.0] * 6
NI_STATUS_CLEAN = {NI: {"open": "0", "loads": "1"}}

# How a part broken off ends on the bus: nothing more of it is sent, the
# instrument is cleared, returned to local and closed.
NI_CLEARED = ["ibclr(32) = 0x0100", "ibloc(32) = 0x0100", "ibonl(32,0) = 0x0100"]
SICL_CLEARED = ["iclear(1) = 0", "ilocal(1) = 0", "iclose(1) = 0"]
# After a failed sample write, byte swapping is still turned off (no bus traffic).
NI_SWAP_OFF = "ibconfig(32,20,0) = 0x0100"


def ni_header(memory, name):
    """The first write of an NI-488.2 part: the memory command up to "#"."""
    text = 'mmem:data \\"%s:%s\\", #' % (memory, name)
    length = len('mmem:data "%s:%s", #' % (memory, name))
    return 'ibwrt(32,"%s",%d) = 0x0100 count=%d' % (text, length, length)

ROWS: List[Row] = []

# ---- bad input ---------------------------------------------------------------

# First inputs the gateway refuses for their class, before any allocation.
for title, code in [
        ("single", "single([1 2 3])"), ("complex-single", "complex(single([1 2]), single([3 4]))"),
        ("int16", "int16([1 2 3])"), ("logical", "true(1, 3)"), ("char", "'abc'"),
        ("cell", "{1, 2, 3}"), ("struct", "struct('re', [1 2 3])"), ("sparse", "sparse([1 2 3])"),
        ("sparse-complex", "sparse(complex([1 0 3], [0 2 0]))")]:
    ROWS.append(Row("input-%s" % title, "input", "%s first input: `vandrel(%s, 'w')`" % (title, code),
                    {NI: "ni"}, NI_BUS, "vandrel(%s, 'w');" % code, [], errors=[NOT_DOUBLE],
                    no_driver_call=True, outcome="error \"%s\"" % NOT_DOUBLE))

ROWS += [
    Row("input-three-inputs", "input", "three inputs: the third is ignored", {NI: "ni"}, NI_BUS,
        "vandrel(complex([1 2 3], [4 5 6]), 'three', 'extra');",
        ni_sent("three", 3), stored=both("gpib0-19", "three", [1, 2, 3], [4, 5, 6]), status=NI_STATUS_CLEAN,
        outcome="stored as `three`; \"Done loading\""),
    Row("input-outputs-requested", "input", "an output requested: `x = vandrel(...)`", {NI: "ni"}, NI_BUS,
        "try\n  x = vandrel([1 2], 'out');\ncatch err\n  printf('caught: %s\\n', err.message);\nend",
        ni_sent("out", 2) + ["caught: value on right hand side of assignment is undefined\n"],
        stored=both("gpib0-19", "out", [1, 2], None), status=NI_STATUS_CLEAN,
        outcome="stored, then Octave's own error that no value was returned"),
    Row("input-zero-by-one", "input", "a 0-by-1 vector", {NI: "ni"}, NI_BUS,
        "vandrel(zeros(0, 1), 'empty');",
        head("empty", 0) + [NI_CARD, "Interface = gpib0.\n", "KVR_addr = 19.\n"],
        trace_has=["ibloc(32) = 0x0100", "ibonl(32,0) = 0x0100"], status=NI_STATUS_CLEAN,
        outcome="length 0: the instrument is found and released, nothing is sent"),
    Row("input-nd-1x1x3", "input", "`ones(1,1,3)`: one row, three columns as the host counts them", {NI: "ni"},
        NI_BUS, "vandrel(complex(ones(1, 1, 3), 2 * ones(1, 1, 3)), 'nd');",
        ni_sent("nd", 3), stored=both("gpib0-19", "nd", [1, 1, 1], [2, 2, 2]), status=NI_STATUS_CLEAN,
        outcome="a 3-point vector, stored"),
    Row("input-nd-2x2x2", "input", "`ones(2,2,2)`", {NI: "ni"}, NI_BUS, "vandrel(ones(2, 2, 2), 'nd');",
        ["Number of Rows = 2 \n", "Number of Columns = 4 \n"], errors=[NOT_A_VECTOR], no_driver_call=True,
        outcome="rows 2, columns 4, error \"%s\"" % NOT_A_VECTOR),
    Row("input-nd-1x0x2", "input", "`zeros(1,0,2)`", {NI: "ni"}, NI_BUS, "vandrel(zeros(1, 0, 2), 'nd');",
        head("nd", 0) + [NI_CARD, "Interface = gpib0.\n", "KVR_addr = 19.\n"], status=NI_STATUS_CLEAN,
        outcome="length 0, as a 1-by-0 vector"),
    Row("input-nan-inf-huge", "input", "NaN, Inf, -Inf, 1e300, realmax, 1e10 and -4e9", {NI: "ni"}, NI_BUS,
        call([math.nan, math.inf, -math.inf, 1e300, -1e300, sys.float_info.max, 1e10, -4e9],
             [-sys.float_info.max, math.nan, 1e10, -1e10, 2.0 ** 62, -(2.0 ** 62), 65535.9, -65536.9], "'huge'"),
        ni_sent("huge", 8),
        stored=both("gpib0-19", "huge", [math.nan, math.inf, -math.inf, 1e300, -1e300, sys.float_info.max, 1e10, -4e9],
                    [-sys.float_info.max, math.nan, 1e10, -1e10, 2.0 ** 62, -(2.0 ** 62), 65535.9, -65536.9]),
        status=NI_STATUS_CLEAN, outcome="stored: NaN, infinities and magnitudes of 2^63 and more as 0, the rest modulo 65536"),
    Row("input-name-numeric", "input", "a numeric name: `vandrel(x, 42)`", {NI: "ni"}, NI_BUS,
        call([1, 2], [3, 4], "42"), ni_sent("", 2), stored=both("gpib0-19", "", [1, 2], [3, 4]),
        status=NI_STATUS_CLEAN, outcome="the empty name; stored"),
    Row("input-name-cell", "input", "a cell name: `vandrel(x, {'a'})`", {NI: "ni"}, NI_BUS,
        call([1, 2], [3, 4], "{'a'}"), ni_sent("", 2), stored=both("gpib0-19", "", [1, 2], [3, 4]),
        status=NI_STATUS_CLEAN, outcome="the empty name; stored"),
    Row("input-name-empty", "input", "the empty name `''`", {SICL: "sicl"}, SICL_BUS,
        call([1, 2], [3, 4], "''"), sicl_sent("", 2), stored=both("hpib7-19", "", [1, 2], [3, 4]),
        outcome="the empty name; stored"),
    Row("input-name-matrix", "input", "a 2-by-2 char name `['ab'; 'cd']`", {NI: "ni"}, NI_BUS,
        call([1, 2], [3, 4], "['ab'; 'cd']"), ni_sent("acbd", 2), stored=both("gpib0-19", "acbd", [1, 2], [3, 4]),
        status=NI_STATUS_CLEAN, outcome="the characters in column order, `acbd`; stored"),
    Row("input-name-10000", "input", "a 10,000-character name", {NI: "ni"}, NI_BUS,
        call([1, 2], [3, 4], "repmat('n', 1, 10000)"), ni_sent("n" * 10000, 2),
        stored=both("gpib0-19", "n" * 10000, [1, 2], [3, 4]),
        trace_has=['ibwrt(32,<10020 bytes>,10020) = 0x0100 count=10020'], status=NI_STATUS_CLEAN,
        outcome="stored under the whole name: one 10,020-byte command"),
    Row("input-name-10000-sicl", "input", "a 10,000-character name with SICL", {SICL: "sicl"}, SICL_BUS,
        call([1, 2], [3, 4], "repmat('s', 1, 10000)"), sicl_sent("s" * 10000, 2),
        stored=both("hpib7-19", "s" * 10000, [1, 2], [3, 4]), outcome="stored under the whole name"),
    Row("input-name-utf8", "input", "a name in UTF-8, `café` (bytes 63 61 66 C3 A9)", {NI: "ni"}, NI_BUS,
        call([1, 2], [3, 4], "char([99 97 102 195 169])"), ni_sent("caf\xc3\xa9", 2),
        stored=both("gpib0-19", "caf\xc3\xa9", [1, 2], [3, 4]), status=NI_STATUS_CLEAN,
        outcome="the bytes as they are; stored"),
    Row("input-name-latin1", "input", "a name holding the byte E9", {NI: "ni"}, NI_BUS,
        call([1, 2], [3, 4], "char([99 97 102 233])"), ni_sent("caf\xe9", 2),
        stored=both("gpib0-19", "caf\xe9", [1, 2], [3, 4]), status=NI_STATUS_CLEAN,
        outcome="the byte as it is; stored"),
]

for title, code in [("cr", "['a' char(13) 'b']"), ("lf", "['a' char(10) 'b']"), ("tab", "['a' char(9) 'b']"),
                    ("del", "['a' char(127)]"), ("nul", "['a' char(0) 'b']"), ("quote-only", "'\"'"),
                    ("quote-sicl", "'x\", *RST'")]:
    files, bus = ({SICL: "sicl"}, SICL_BUS) if title.endswith("sicl") else ({NI: "ni"}, NI_BUS)
    ROWS.append(Row("input-name-%s" % title, "input", "a name `%s`" % code, files, bus,
                    call([1, 2], [3, 4], code), [], errors=[BAD_NAME], no_driver_call=True,
                    outcome="error \"%s\"" % BAD_NAME))

# ---- faults in the instrument ------------------------------------------------

ROWS += [
    Row("fault-ni-block-timeout-i", "fault", "NI-488.2: the instrument stops taking the I block after 6 bytes",
        {NI: "ni"}, NI_BUS + ["fault block-timeout gpib0 19 arbi 6"], call(RE48, IM48, "'stall'"),
        ni_started("stall", 48) + [LOADING_I, FAILED_I],
        trace_ends=["ibwrt(32,<96 bytes>,96) = 0xc100 count=0 iberr=EABO", NI_SWAP_OFF] + NI_CLEARED,
        status=NI_STATUS_CLEAN, min_seconds=3.0, max_seconds=15.0,
        outcome="the write times out after the 3 s set; \"Writing the real part ... failed.\"; no Q part; "
                "the instrument cleared, then closed; nothing stored"),
    Row("fault-ni-block-timeout-q", "fault", "NI-488.2: the instrument stops taking the Q block after 6 bytes",
        {NI: "ni"}, NI_BUS + ["fault block-timeout gpib0 19 arbq 6"], call(RE48, IM48, "'stall'"),
        ni_started("stall", 48) + [LOADING_I, LOADING_Q, FAILED_Q],
        stored=[Part("gpib0-19", "arbi", "stall", RE48)],
        trace_ends=["ibwrt(32,<96 bytes>,96) = 0xc100 count=0 iberr=EABO", NI_SWAP_OFF] + NI_CLEARED,
        status=NI_STATUS_CLEAN, min_seconds=3.0, max_seconds=15.0,
        outcome="after 3 s \"Writing the imaginary part ... failed.\"; the instrument cleared; the I file alone "
                "is stored"),
    Row("fault-sicl-block-timeout-i", "fault", "SICL: the instrument stops taking the I block after 6 bytes",
        {SICL: "sicl"}, SICL_BUS + ["fault block-timeout hpib7 19 arbi 6"], call(RE48, IM48, "'stall'"),
        sicl_started("stall", 48) + [LOADING_I, FAILED_I],
        trace_ends=['iprintf(1,"%*wb\\n",48,<96 bytes>) = 15'] + SICL_CLEARED,
        status={SICL: {"left-open-at-unload": "0"}}, min_seconds=3.0, max_seconds=15.0,
        outcome="after the 3 s set the formatted write returns 15; \"Writing the real part ... failed.\"; no Q "
                "part; the instrument cleared, then closed; nothing stored"),
    Row("fault-ni-block-refused-i", "fault", "NI-488.2: the sample write of the I part fails at once",
        {NI: "ni"}, NI_BUS + ["fault block-refused gpib0 19 arbi"], call(RE48, IM48, "'refused'"),
        ni_started("refused", 48) + [LOADING_I, FAILED_I],
        trace_ends=["ibwrt(32,<96 bytes>,96) = 0x8100 count=0 iberr=ENOL", NI_SWAP_OFF] + NI_CLEARED,
        status=NI_STATUS_CLEAN,
        outcome="\"Writing the real part ... failed.\"; no Q part is sent; the instrument cleared; nothing stored"),
    Row("fault-ni-block-refused-q", "fault", "NI-488.2: the sample write of the Q part fails at once",
        {NI: "ni"}, NI_BUS + ["fault block-refused gpib0 19 arbq"], call(RE48, IM48, "'refused'"),
        ni_started("refused", 48) + [LOADING_I, LOADING_Q, FAILED_Q],
        stored=[Part("gpib0-19", "arbi", "refused", RE48)], status=NI_STATUS_CLEAN,
        trace_ends=["ibwrt(32,<96 bytes>,96) = 0x8100 count=0 iberr=ENOL", NI_SWAP_OFF] + NI_CLEARED,
        outcome="\"Writing the imaginary part ... failed.\"; the instrument cleared; the I file alone is stored"),
    Row("fault-sicl-block-refused-q", "fault", "SICL: the sample write of the Q part fails at once",
        {SICL: "sicl"}, SICL_BUS + ["fault block-refused hpib7 19 arbq"], call(RE48, IM48, "'refused'"),
        sicl_started("refused", 48) + [LOADING_I, LOADING_Q, FAILED_Q],
        stored=[Part("hpib7-19", "arbi", "refused", RE48)], status={SICL: {"left-open-at-unload": "0"}},
        trace_ends=['iprintf(1,"%*wb\\n",48,<96 bytes>) = 6'] + SICL_CLEARED,
        outcome="the formatted write returns 6; \"Writing the imaginary part ... failed.\"; the instrument "
                "cleared; the I file alone is stored"),
    Row("fault-ni-header-refused-i", "fault", "NI-488.2: the write of the I header's digit count fails at once",
        {NI: "ni"}, NI_BUS + ["fault header-refused gpib0 19 arbi"], call(RE48, IM48, "'cut'"),
        ni_started("cut", 48) + [LOADING_I, FAILED_I],
        trace_ends=["ibeot(32,0) = 0x0100", ni_header("arbi", "cut"),
                    'ibwrt(32,"2",1) = 0x8100 count=0 iberr=ENOL'] + NI_CLEARED,
        status=NI_STATUS_CLEAN,
        outcome="\"Writing the real part ... failed.\"; nothing after the header's \"#\"; the instrument "
                "cleared; nothing stored"),
    Row("fault-ni-header-refused-q", "fault", "NI-488.2: the write of the Q header's digit count fails at once",
        {NI: "ni"}, NI_BUS + ["fault header-refused gpib0 19 arbq"], call(RE48, IM48, "'cut'"),
        ni_started("cut", 48) + [LOADING_I, LOADING_Q, FAILED_Q],
        stored=[Part("gpib0-19", "arbi", "cut", RE48)],
        trace_ends=[NI_SWAP_OFF, "ibeot(32,0) = 0x0100", ni_header("arbq", "cut"),
                    'ibwrt(32,"2",1) = 0x8100 count=0 iberr=ENOL'] + NI_CLEARED,
        status=NI_STATUS_CLEAN,
        outcome="\"Writing the imaginary part ... failed.\"; the instrument cleared; the I file alone is stored"),
    Row("fault-sicl-header-refused-i", "fault", "SICL: the I block's digit count is refused at once",
        {SICL: "sicl"}, SICL_BUS + ["fault header-refused hpib7 19 arbi"], call(RE48, IM48, "'cut'"),
        sicl_started("cut", 48) + [LOADING_I, FAILED_I],
        trace_ends=['iprintf(1,"mmem:data \\"arbi:%s\\",","cut") = 0',
                    'iprintf(1,"%*wb\\n",48,<96 bytes>) = 6'] + SICL_CLEARED,
        status={SICL: {"left-open-at-unload": "0"}},
        outcome="the formatted write returns 6; \"Writing the real part ... failed.\"; no Q part; the instrument "
                "cleared; nothing stored"),
    Row("fault-ni-probe-read-fails", "fault", "NI-488.2: every read from the only instrument fails",
        {NI: "ni"}, NI_BUS + ["fault read-fails gpib0 19"], call(RE48, IM48, "'deaf'"),
        head("deaf", 48) + [NI_CARD, "Interface = gpib0.\n", NO_INSTRUMENT],
        trace_has=["ibrd(32,120) = 0x8100 count=0 iberr=EABO"], status=NI_STATUS_CLEAN, max_seconds=15.0,
        outcome="\"No KVR-D found.\"; every probe released"),
    Row("fault-ni-probe-read-fails-next", "fault", "NI-488.2: reads at 19 fail, a KVR-D answers at 20",
        {NI: "ni"}, NI_BUS + ["device gpib0 20 kvr", "fault read-fails gpib0 19"], call(RE48, IM48, "'next'"),
        ni_sent("next", 48, address=20), stored=both("gpib0-20", "next", RE48, IM48),
        trace_has=["ibrd(32,120) = 0x8100 count=0 iberr=EABO", "ibloc(32) = 0x0100", "ibonl(32,0) = 0x0100",
                   "ibdev(0,20,0,8,1,0) = 32"],
        status=NI_STATUS_CLEAN, outcome="the walk goes on; found at 20 and stored"),
    Row("fault-sicl-probe-read-fails-next", "fault", "SICL: reads at 19 fail, a KVR-D answers at 20",
        {SICL: "sicl"}, SICL_BUS + ["device hpib7 20 kvr", "fault read-fails hpib7 19"], call(RE48, IM48, "'next'"),
        sicl_sent("next", 48, address=20), stored=both("hpib7-20", "next", RE48, IM48),
        trace_has=["iread(1,120) = 17", "iclose(1) = 0", 'iopen("hpib7,20") = 1'],
        status={SICL: {"left-open-at-unload": "0"}}, outcome="the failed probe is closed; found at 20 and stored"),
    Row("fault-ni-reply-120", "fault", "NI-488.2: a reply of exactly 120 bytes, no newline, the marker in its last 5",
        {NI: "ni"}, ["interface gpib0", "device gpib0 19 kvr " + "x" * 115 + "KVR-D",
                     "fault unterminated gpib0 19"], call(RE48, IM48, "'full'"),
        ni_sent("full", 48), stored=both("gpib0-19", "full", RE48, IM48),
        trace_has=['ibrd(32,120) = 0x2100 count=120 <120 bytes>'], status=NI_STATUS_CLEAN,
        outcome="a match; stored"),
    Row("fault-sicl-reply-120", "fault", "SICL: a reply of exactly 120 bytes, no newline, the marker in its last 5",
        {SICL: "sicl"}, ["interface hpib7", "device hpib7 19 kvr " + "x" * 115 + "KVR-D",
                         "fault unterminated hpib7 19"], call(RE48, IM48, "'full'"),
        sicl_sent("full", 48), stored=both("hpib7-19", "full", RE48, IM48),
        trace_has=['iread(1,120) = 0 reason=4 actual=120 <120 bytes>'], outcome="a match; stored"),
    Row("fault-ni-reply-long", "fault", "NI-488.2: a 201-byte reply with the marker in its first 120",
        {NI: "ni"}, ["interface gpib0", "device gpib0 19 kvr KVR-D " + "y" * 194], call(RE48, IM48, "'long'"),
        ni_sent("long", 48), stored=both("gpib0-19", "long", RE48, IM48),
        trace_has=['ibrd(32,120) = 0x0100 count=120 <120 bytes>'], status=NI_STATUS_CLEAN,
        outcome="120 bytes read, a match; stored although 81 bytes stay unread"),
    Row("fault-ni-reply-long-cut", "fault", "NI-488.2: a 201-byte reply whose marker straddles byte 120; a KVR-D at 20",
        {NI: "ni"}, ["interface gpib0", "device gpib0 19 kvr " + "z" * 117 + "KVR-D" + "z" * 78, "device gpib0 20 kvr"],
        call(RE48, IM48, "'cut'"), ni_sent("cut", 48, address=20), stored=both("gpib0-20", "cut", RE48, IM48),
        status=NI_STATUS_CLEAN, outcome="no match at 19 (only 120 bytes are read); found at 20"),
    Row("fault-sicl-reply-long-cut", "fault", "SICL: a 201-byte reply whose marker straddles byte 120; a KVR-D at 20",
        {SICL: "sicl"}, ["interface hpib7", "device hpib7 19 kvr " + "z" * 117 + "KVR-D" + "z" * 78,
                         "device hpib7 20 kvr"],
        call(RE48, IM48, "'cut'"), sicl_sent("cut", 48, address=20), stored=both("hpib7-20", "cut", RE48, IM48),
        trace_has=['iread(1,120) = 0 reason=1 actual=120 <120 bytes>', "ilocal(1) = 0", "iclose(1) = 0"],
        status={SICL: {"left-open-at-unload": "0"}}, outcome="no match at 19; closed; found at 20"),
    Row("fault-ni-two-addresses", "fault", "NI-488.2: the KVR-D at 23 answers at 19 too",
        {NI: "ni"}, ["interface gpib0", "device gpib0 23 kvr", "fault also-answers gpib0 23 19"],
        call(RE48, IM48, "'twice'"), ni_sent("twice", 48), stored=both("gpib0-23", "twice", RE48, IM48),
        status=NI_STATUS_CLEAN, outcome="found at 19, the first in walk order; stored once"),
    Row("fault-sicl-two-addresses", "fault", "SICL: the KVR-D at 5 answers at 20 too",
        {SICL: "sicl"}, ["interface hpib7", "device hpib7 5 kvr", "fault also-answers hpib7 5 20"],
        call(RE48, IM48, "'twice'"), sicl_sent("twice", 48, address=20), stored=both("hpib7-5", "twice", RE48, IM48),
        status={SICL: {"left-open-at-unload": "0"}}, outcome="found at 20, the first in walk order; stored once"),
]

# ---- faults in the driver ----------------------------------------------------

NI_REFUSED = [NI_CARD, NI_NOT_LOADED, NO_INTERFACE]
ROWS += [
    Row("fault-ni-notice-short", "fault", "NI-488.2: the notice is 12 bytes long", {NI: "ni"},
        NI_BUS + ["fault notice-short"], call(RE48, IM48, "'n'"), head("n", 48) + NI_REFUSED,
        status={NI: {"loads": "4", "unloads": "4", "calls": "0"}}, outcome="refused and released; each of the 4 board names loads it again"),
    Row("fault-ni-notice-unterminated", "fault", "NI-488.2: the notice runs on past its 76 bytes", {NI: "ni"},
        NI_BUS + ["fault notice-unterminated"], call(RE48, IM48, "'n'"), head("n", 48) + NI_REFUSED,
        status={NI: {"loads": "4", "unloads": "4", "calls": "0"}}, outcome="refused and released; each of the 4 board names loads it again"),
    Row("fault-ni-not-a-library", "fault", "a file gpib-32.dll that is not a library", {NI: "text"}, NI_BUS,
        call(RE48, IM48, "'n'"), head("n", 48) + NI_REFUSED, no_driver_call=True,
        outcome="the load fails; nothing reaches a bus"),
    Row("fault-sicl-not-a-library", "fault", "a file sicl32.dll that is not a library", {SICL: "text"}, SICL_BUS,
        call(RE48, IM48, "'n'"), head("n", 48) + [SICL_CARD, SICL_NOT_LOADED, NO_INTERFACE], no_driver_call=True,
        outcome="the load fails; nothing reaches a bus"),
]

for entry in NI_DATA:
    ROWS.append(Row("fault-ni-without-%s" % entry, "fault", "NI-488.2: a driver without `%s`" % entry,
                    {NI: "ni:without-%s" % entry}, NI_BUS, call(RE48, IM48, "'n'"), head("n", 48) + NI_REFUSED,
                    status={NI: {"loads": "4", "unloads": "4", "calls": "0"}},
                    outcome="refused and released; each of the 4 board names loads it again"))

# An accepted driver lacking one function: the outcome depends on what the
# function was for.
NI_WITHOUT = {
    "ibfindA": (head("n", 48) + [NI_CARD, ni_lacks("ibfindA"), NO_INTERFACE], [], {},
                "\"lacks the entry ibfindA\"; no board is tried"),
    "ibdev": (head("n", 48) + [NI_CARD, "Interface = gpib0.\n", ni_lacks("ibdev"), NO_INSTRUMENT], [], {},
              "\"lacks the entry ibdev\"; no device is opened"),
    "ibwrt": (head("n", 48) + [NI_CARD, "Interface = gpib0.\n", ni_lacks("ibwrt"), NO_INSTRUMENT], [], {},
              "\"lacks the entry ibwrt\" after 32 silent probes"),
    "ibrd": (head("n", 48) + [NI_CARD, "Interface = gpib0.\n", ni_lacks("ibrd"), NO_INSTRUMENT], [], {},
             "\"lacks the entry ibrd\"; every probe released"),
    "ibeot": (ni_started("n", 48) + [LOADING_I, FAILED_I], [], {},
              "\"Writing the real part ... failed.\": without END control the block cannot be framed; nothing "
              "sent, so no clear"),
    "ibconfig": (ni_started("n", 48) + [LOADING_I, FAILED_I], [], {},
                 "\"Writing the real part ... failed.\": the samples cannot be swapped; none are sent; the header "
                 "already sent is cleared"),
    "ibclr": (ni_sent("n", 48), both("gpib0-19", "n", RE48, IM48), {}, "stored: the clear is not needed"),
    "ibtmo": (ni_sent("n", 48), both("gpib0-19", "n", RE48, IM48), {},
              "stored, with the probe's 30 ms timeout left on the device"),
    "ibloc": (ni_sent("n", 48), both("gpib0-19", "n", RE48, IM48), {},
              "stored; the instrument stays in remote"),
    "ibonl": (ni_sent("n", 48), both("gpib0-19", "n", RE48, IM48), {NI: "2"},
              "stored; the board and device descriptors stay online: nothing can release them"),
}
# Where a part cannot start or is broken off, how its trace ends: a failed
# ibeot issued no write, so no clear follows; a refused ibconfig comes after
# the header went out, so the instrument is cleared.
NI_WITHOUT_TRACE_ENDS = {
    "ibeot": ["ibtmo(32,12) = 0x0100", "ibloc(32) = 0x0100", "ibonl(32,0) = 0x0100"],
    "ibconfig": ['ibwrt(32,"96",2) = 0x0100 count=2', "ibeot(32,1) = 0x0100"] + NI_CLEARED,
}
for entry in NI_FUNCTIONS:
    transcript, stored, open_after, outcome = NI_WITHOUT[entry]
    ROWS.append(Row("fault-ni-without-%s" % entry, "fault", "NI-488.2: an accepted driver without `%s`" % entry,
                    {NI: "ni:without-%s" % entry}, NI_BUS, call(RE48, IM48, "'n'"), transcript, stored=stored,
                    trace_ends=NI_WITHOUT_TRACE_ENDS.get(entry, []),
                    status={NI: {"loads": "1"}}, open_after=open_after, max_seconds=15.0, outcome=outcome))

for entry in SICL_ENTRIES:
    ROWS.append(Row("fault-sicl-without-%s" % entry, "fault", "SICL: a library without `%s`" % entry,
                    {SICL: "sicl:without-%s" % entry}, SICL_BUS, call(RE48, IM48, "'n'"),
                    head("n", 48) + [SICL_CARD, sicl_lacks(entry), NO_INTERFACE],
                    status={SICL: {"loads": "1", "unloads": "1", "calls": "0"}},
                    outcome="\"lacks the entry %s\"; never called" % entry))

# ---- the driver library between two calls ------------------------------------

ROWS += [
    Row("fault-ni-driver-disappears", "fault", "NI-488.2: gpib-32.dll is deleted between two calls",
        {NI: "ni"}, NI_BUS,
        call(RE48, IM48, "'first'") + "\nunlink('gpib-32.dll');\n" + call(RE48, IM48, "'second'"),
        ni_sent("first", 48) + head("second", 48) + [NO_CARD, NO_INTERFACE],
        stored=both("gpib0-19", "first", RE48, IM48), status=NI_STATUS_CLEAN,
        outcome="the second call: \"No GPIB Card driver found.\""),
    Row("fault-ni-driver-returns", "fault", "NI-488.2: gpib-32.dll is deleted, then put back",
        {NI: "ni", "spare.dll": "ni"}, NI_BUS,
        call(RE48, IM48, "'first'") + "\nunlink('gpib-32.dll');\n" + call(RE48, IM48, "'second'")
        + "\nlink('spare.dll', 'gpib-32.dll');\n" + call(RE48, IM48, "'third'"),
        ni_sent("first", 48) + head("second", 48) + [NO_CARD, NO_INTERFACE] + ni_sent("third", 48),
        stored=both("gpib0-19", "first", RE48, IM48) + both("gpib0-19", "third", RE48, IM48),
        status=NI_STATUS_CLEAN, outcome="no driver for the second call; the third is stored, the driver loaded once"),
    Row("fault-ni-driver-replaced", "fault", "NI-488.2: after a download gpib-32.dll is replaced by a text file",
        {NI: "ni"}, NI_BUS,
        call(RE48, IM48, "'first'") + "\nunlink('gpib-32.dll');\nfid = fopen('gpib-32.dll', 'w'); fputs(fid, 'text'); "
        "fclose(fid);\n" + call(RE48, IM48, "'second'"),
        ni_sent("first", 48) + ni_sent("second", 48),
        stored=both("gpib0-19", "first", RE48, IM48) + both("gpib0-19", "second", RE48, IM48),
        status=NI_STATUS_CLEAN,
        outcome="stored both times: the driver once accepted stays loaded with the module"),
    Row("fault-sicl-driver-disappears", "fault", "SICL: sicl32.dll is deleted between two calls",
        {SICL: "sicl"}, SICL_BUS,
        call(RE48, IM48, "'first'") + "\nunlink('sicl32.dll');\n" + call(RE48, IM48, "'second'"),
        sicl_sent("first", 48) + head("second", 48) + [NO_CARD, NO_INTERFACE],
        stored=both("hpib7-19", "first", RE48, IM48),
        status={SICL: {"loads": "1", "unloads": "1", "left-open-at-unload": "0"}},
        outcome="the second call: \"No GPIB Card driver found.\""),
]


def row_named(name):
    for row in ROWS:
        if row.name == name:
            return row
    raise KeyError(name)


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print(";".join(row.name for row in ROWS))
