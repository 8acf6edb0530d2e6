# The end-to-end cases: which drivers lie beside the module, the simulated
# bus, the calls, and the whole transcript, files, trace and status expected.
"""One table of end-to-end cases, shared by every host that runs the module.

A case names the stand-in drivers copied beside the module ("ni" for
gpib-32.dll, "sicl" for sicl32.dll), the interfaces and devices of the
simulated bus, and the calls to make. What is expected is written out in
full: the console transcript line by line, the errors the host raises, the
waveform files the instrument stores (each compared byte for byte with the
conversion of the call's data), and where a case is about order, the bus
trace or the sequence of probed addresses and tried interfaces.
"""
import math
from dataclasses import dataclass, field
from typing import List, Optional, Sequence, Tuple

NI = "gpib-32.dll"
SICL = "sicl32.dll"

IDENTITY = "KVR Instruments,KVR-D K2073D,0000731,2.0"
IDENTITY_READ_NI = r'ibrd(32,120) = 0x2100 count=41 "KVR Instruments,KVR-D K2073D,0000731,2.0\n"'
IDENTITY_READ_SICL = r'iread(1,120) = 0 reason=4 actual=41 "KVR Instruments,KVR-D K2073D,0000731,2.0\n"'


@dataclass
class Call:
    """One call of the module: vandrel(iq, name), repeated `repeat` times."""
    name: str
    re: Sequence[float]
    im: Optional[Sequence[float]]   # None: a real vector
    shape: str = "row"              # "row" (1-by-n) or "column" (n-by-1)
    repeat: int = 1
    code: Optional[str] = None      # Octave code instead of vandrel(iq, name)


@dataclass
class Stored:
    """The two files (I and Q) one call leaves in the instrument."""
    device: str                     # "<interface>-<address>"
    call: int = 0                   # index into the case's calls
    memories: Tuple[str, ...] = ("arbi", "arbq")   # fewer when a part failed


@dataclass
class Case:
    name: str
    drivers: Tuple[str, ...]
    bus: List[str]
    calls: List[Call]
    transcript: List[str]
    errors: List[str] = field(default_factory=list)   # texts the host raises as errors
    stored: List[Stored] = field(default_factory=list)
    trace: Optional[List[str]] = None
    probes: Optional[List[int]] = None                 # addresses probed, in order
    interfaces_tried: Optional[List[str]] = None
    no_bus_calls: bool = False
    status: dict = field(default_factory=dict)         # library -> {key: value}
    max_seconds: Optional[float] = None
    help_text: bool = False                            # the output holds the module's help


# ---- data ---------------------------------------------------------------------

def tone(n, cycles=5.0, amplitude=30000.5):
    """A complex exponential with fractional samples, so truncation shows."""
    re = [amplitude * math.cos(2 * math.pi * cycles * k / n) for k in range(n)]
    im = [amplitude * math.sin(2 * math.pi * cycles * k / n) for k in range(n)]
    return re, im


TONE_RE, TONE_IM = tone(1000)
LONG_RE, LONG_IM = tone(16667, cycles=3.0)
# Truncation toward zero, the low 16 bits, and the values that become 0.
EDGES = [0.0, 1.9, -1.9, 32767.9, 32768.0, -32768.0, -32769.0, 65536.0, 70000.5, -0.5,
         float("nan"), float("inf"), float("-inf"), 2.0 ** 63, -(2.0 ** 63), 2.0 ** 40 + 5.5]
EDGES_IM = [-v for v in EDGES]

WALK = list(range(19, 32)) + list(range(1, 20))      # the 32 probes, 19 first and last
SICL_INTERFACES = (["hpib"] + ["hpib%d" % i for i in range(32)] +
                   ["gpib"] + ["gpib%d" % i for i in range(32)])
NI_BOARDS = ["gpib0", "gpib1", "gpib2", "gpib3"]
LONG_NAME = "wave_" + "0123456789" * 30
NAME_59 = "n" * 59


def ni_send_trace(name, digit, count, data):
    """The NI-488.2 writes of one part, as the trace shows them."""
    header = r'"mmem:data \"%s\", #"' % name
    length = len("mmem:data \"%s\", #" % name)
    return [
        "ibeot(32,0) = 0x0100",
        "ibwrt(32,%s,%d) = 0x0100 count=%d" % (header, length, length),
        'ibwrt(32,"%d",1) = 0x0100 count=1' % digit,
        'ibwrt(32,"%d",%d) = 0x0100 count=%d' % (count, len(str(count)), len(str(count))),
        "ibeot(32,1) = 0x0100",
        "ibconfig(32,20,1) = 0x0100",
        "ibwrt(32,%s,%d) = 0x0100 count=%d" % (data, count, count),
        "ibconfig(32,20,0) = 0x0100",
    ]


NI_FIND_AT_19 = [
    'ibfindA("gpib0") = 0',
    "ibonl(0,0) = 0x0100",
    "ibdev(0,19,0,8,1,0) = 32",
    "ibclr(32) = 0x0100",
    'ibwrt(32,"*IDN?",5) = 0x0100 count=5',
    IDENTITY_READ_NI,
]
SICL_FIND_AT_19 = (['iopen("hpib") = 0'] + ['iopen("hpib%d") = 0' % i for i in range(7)] + [
    'iopen("hpib7") = 1',
    "iclose(1) = 0",
    'iopen("hpib7,19") = 1',
    "itimeout(1,20) = 0",
    "iclear(1) = 0",
    'iwrite(1,"*IDN?",5,1) = 0 actual=5',
    IDENTITY_READ_SICL,
])


def sicl_send_trace(name, count, data, data_q=None):
    """The SICL writes of both parts; `data_q` when the Q block differs."""
    return [
        r'iprintf(1,"mmem:data \"arbi:%s\",","' + name + '") = 0',
        r'iprintf(1,"%*wb\n",' + "%d,%s) = 0" % (count, data),
        r'iprintf(1,"mmem:data \"arbq:%s\",","' + name + '") = 0',
        r'iprintf(1,"%*wb\n",' + "%d,%s) = 0" % (count, data if data_q is None else data_q),
    ]


NI_RELEASE = ["ibloc(32) = 0x0100", "ibonl(32,0) = 0x0100"]
SICL_RELEASE = ["ilocal(1) = 0", "iclose(1) = 0"]
# After a failed write nothing more of the part is sent; the instrument is
# cleared, then released.
NI_CLEAR_RELEASE = ["ibclr(32) = 0x0100"] + NI_RELEASE
SICL_CLEAR_RELEASE = ["iclear(1) = 0"] + SICL_RELEASE


def ni_download_trace(name, timeout_code, digit, count, data, data_q=None, find=NI_FIND_AT_19):
    """The whole NI-488.2 trace of one download: find, timeout, I, Q, release."""
    return (find + ["ibtmo(32,%d) = 0x0100" % timeout_code]
            + ni_send_trace("arbi:" + name, digit, count, data)
            + ni_send_trace("arbq:" + name, digit, count, data if data_q is None else data_q)
            + NI_RELEASE)


def sicl_download_trace(name, timeout_ms, count, data, data_q=None):
    """The whole SICL trace of one download from the instrument at hpib7,19."""
    return (SICL_FIND_AT_19 + ["itimeout(1,%d) = 0" % timeout_ms]
            + sicl_send_trace(name, count, data, data_q) + SICL_RELEASE)


# ---- the console lines ------------------------------------------------------------

NI_CARD = "Using National Instruments GPIB Card.\n"
SICL_CARD = "Using Hewlett-Packard HP-IB Card.\n"
NO_CARD = "No GPIB Card driver found.\n"
NO_INTERFACE = "No GPIB configured Interface was found.\n"
NO_INSTRUMENT = "No KVR-D found.\n"
LOADED = ["Loading the real part of the data to the dual arb.\n",
          "Loading the imaginary part of the data to the dual arb.\n",
          "Done loading the waveform into the KVR dual arb.\n"]
FAILED_I = "Writing the real part to the dual arb failed.\n"
FAILED_Q = "Writing the imaginary part to the dual arb failed.\n"

NI_BUS = ["interface gpib0", "device gpib0 19 kvr"]
SICL_BUS = ["interface hpib7", "device hpib7 19 kvr"]


def banner(name, length):
    """What every call prints first: the name, the length and the banner."""
    return ["Save to Waveform: %s \n" % name,
            "Waveform Length = %d points.\n" % length,
            "\n",
            "KVR Waveform File Download Program Version 2.0\n"]


def interface_line(interface):
    return "Interface = %s.\n" % interface


def found(name, length, card, interface, address):
    """The lines up to the instrument found at `address`."""
    return banner(name, length) + [card, interface_line(interface), "KVR_addr = %d.\n" % address]


def good_download(name, length, card, interface, address, timeout=3):
    """The whole transcript of one download that ends in "Done loading"."""
    return (found(name, length, card, interface, address)
            + ["Timeout set to %d seconds.\n" % timeout] + LOADED)


def ni_download(name, length, interface="gpib0", address=19, timeout=3):
    return good_download(name, length, NI_CARD, interface, address, timeout)


def sicl_download(name, length, interface="hpib7", address=19, timeout=3):
    return good_download(name, length, SICL_CARD, interface, address, timeout)


# ---- the cases ------------------------------------------------------------------

CASES = [
    # -- no driver ---------------------------------------------------------------
    Case("no-driver", (), NI_BUS,
         [Call("tone", TONE_RE, TONE_IM)],
         banner("tone", 1000) + [NO_CARD, NO_INTERFACE]),

    # -- NI-488.2 ------------------------------------------------------------------
    Case("ni-at-19", (NI,), NI_BUS,
         [Call("tone", TONE_RE, TONE_IM)],
         ni_download("tone", 1000),
         stored=[Stored("gpib0-19")],
         trace=ni_download_trace("tone", 12, 4, 2000, "<2000 bytes>"),
         status={NI: {"open": "0", "loads": "1", "device": "gpib0 19 kvr local files=2 errors=0 input=idle"}}),

    Case("ni-at-5", (NI,), ["interface gpib0", "device gpib0 5 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         ni_download("tone", 1000, address=5),
         stored=[Stored("gpib0-5")],
         probes=list(range(19, 32)) + [1, 2, 3, 4, 5],
         status={NI: {"open": "0"}}),

    # Address 0 is never probed, so the instrument there is not found.
    Case("ni-absent", (NI,), ["interface gpib0", "device gpib0 0 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         banner("tone", 1000) + [NI_CARD, interface_line("gpib0"), NO_INSTRUMENT],
         probes=WALK,
         status={NI: {"open": "0"}},
         max_seconds=5.0),

    Case("ni-two-instruments", (NI,),
         ["interface gpib0", "device gpib0 19 foreign", "device gpib0 7 kvr", "device gpib0 23 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         ni_download("tone", 1000, address=23),
         stored=[Stored("gpib0-23")],
         probes=[19, 20, 21, 22, 23],
         status={NI: {"open": "0"}}),

    # "K207" alone is a match; "kvr-d" in lower case is not.
    Case("ni-markers", (NI,),
         ["interface gpib0", "device gpib0 19 foreign Lookalike Co,kvr-d clone,1,1.0",
          "device gpib0 20 kvr Acme Signal,K2071,77,3.1"],
         [Call("tone", TONE_RE, TONE_IM)],
         ni_download("tone", 1000, address=20),
         stored=[Stored("gpib0-20")],
         probes=[19, 20]),

    Case("ni-interface-choice", (NI,),
         ["interface gpib2", "interface gpib1", "device gpib1 19 kvr", "device gpib2 19 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         ni_download("tone", 1000, interface="gpib1"),
         stored=[Stored("gpib1-19")],
         interfaces_tried=["gpib0", "gpib1"],
         trace=ni_download_trace("tone", 12, 4, 2000, "<2000 bytes>",
                                 find=['ibfindA("gpib0") = -1 iberr=ENEB',
                                       'ibfindA("gpib1") = 1',
                                       "ibonl(1,0) = 0x0100",
                                       "ibdev(1,19,0,8,1,0) = 32",
                                       "ibclr(32) = 0x0100",
                                       'ibwrt(32,"*IDN?",5) = 0x0100 count=5',
                                       IDENTITY_READ_NI])),

    # NI-488.2 tries gpib0 to gpib3 only: never "hpib", nor the bare "gpib".
    Case("ni-no-board", (NI,), ["interface hpib0", "interface gpib", "interface gpib4",
                                "device gpib4 19 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         banner("tone", 1000) + [NI_CARD, NO_INTERFACE],
         interfaces_tried=NI_BOARDS,
         probes=[],
         status={NI: {"open": "0"}}),

    # One point: the block header is "#", 1, 2. 258.7 is 0x0102 and 4660.2 is
    # 0x1234: the trace shows the host's byte order, the file the bus order.
    Case("ni-one-point", (NI,), NI_BUS,
         [Call("one", [258.7], [4660.2])],
         ni_download("one", 1),
         stored=[Stored("gpib0-19")],
         trace=ni_download_trace("one", 12, 1, 2, r'"\x02\x01"', r'"4\x12"')),

    Case("ni-column", (NI,), NI_BUS,
         [Call("column", TONE_RE, TONE_IM, shape="column")],
         ni_download("column", 1000),
         stored=[Stored("gpib0-19")]),

    # A real vector stores zeros in the Q memory.
    Case("ni-real", (NI,), NI_BUS,
         [Call("real", TONE_RE, None)],
         ni_download("real", 1000),
         stored=[Stored("gpib0-19")]),

    Case("ni-conversion", (NI,), NI_BUS,
         [Call("edges", EDGES, EDGES_IM)],
         ni_download("edges", 16),
         stored=[Stored("gpib0-19")]),

    # 16667 points make an estimate of 4 s: code 13, reported as 10 s.
    Case("ni-timeout-10", (NI,), NI_BUS,
         [Call("long", LONG_RE, LONG_IM)],
         ni_download("long", 16667, timeout=10),
         stored=[Stored("gpib0-19")],
         trace=ni_download_trace("long", 13, 5, 33334, "<33334 bytes>")),

    # Nothing to send: the instrument is found and released again.
    Case("ni-empty", (NI,), NI_BUS,
         [Call("empty", [], [])],
         found("empty", 0, NI_CARD, "gpib0", 19),
         trace=NI_FIND_AT_19 + NI_RELEASE,
         status={NI: {"open": "0", "device": "gpib0 19 kvr local files=0 errors=0 input=idle"}}),

    Case("ni-empty-name", (NI,), NI_BUS,
         [Call("", TONE_RE, TONE_IM)],
         ni_download("", 1000),
         stored=[Stored("gpib0-19")]),

    # The longest name whose command fits the module's 80-byte text buffer,
    # then a longer one, which must be stored under its whole name too.
    Case("ni-long-names", (NI,), NI_BUS,
         [Call(NAME_59, [1.0, 2.0], [3.0, 4.0]), Call(LONG_NAME, [5.0, 6.0], [7.0, 8.0])],
         ni_download(NAME_59, 2) + ni_download(LONG_NAME, 2),
         stored=[Stored("gpib0-19", 0), Stored("gpib0-19", 1)]),

    # Fifty calls in one session: the driver is loaded once and nothing is
    # left open.
    Case("ni-50-calls", (NI,), NI_BUS,
         [Call("tone", TONE_RE, TONE_IM, repeat=50)],
         ni_download("tone", 1000) * 50,
         stored=[Stored("gpib0-19")],
         status={NI: {"open": "0", "loads": "1", "calls": str(50 * 25),
                      "device": "gpib0 19 kvr local files=100 errors=0 input=idle"}}),

    # Both drivers: NI-488.2 is chosen; SICL is loaded and released unused.
    Case("both-drivers", (NI, SICL), ["interface gpib0", "interface hpib7", "device gpib0 19 kvr",
                                     "device hpib7 19 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         ni_download("tone", 1000),
         stored=[Stored("gpib0-19")],
         trace=ni_download_trace("tone", 12, 4, 2000, "<2000 bytes>"),
         status={NI: {"open": "0", "loads": "1"},
                 SICL: {"loads": "1", "unloads": "1", "calls": "0"}}),

    # -- SICL ------------------------------------------------------------------------
    Case("sicl-at-19", (SICL,), SICL_BUS,
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000),
         stored=[Stored("hpib7-19")],
         trace=sicl_download_trace("tone", 3000, 1000, "<2000 bytes>"),
         status={SICL: {"open": "0", "loads": "1", "unloads": "1", "left-open-at-unload": "0",
                        "device": "hpib7 19 kvr local files=2 errors=0 input=idle"}}),

    # The probes whose read failed (19 to 31 and 1 to 4) are closed again:
    # nothing is left open when the library is released.
    Case("sicl-at-5", (SICL,), ["interface hpib7", "device hpib7 5 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000, address=5),
         stored=[Stored("hpib7-5")],
         probes=list(range(19, 32)) + [1, 2, 3, 4, 5],
         status={SICL: {"unloads": "1", "left-open-at-unload": "0"}}),

    Case("sicl-absent", (SICL,), ["interface hpib7", "device hpib7 0 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         banner("tone", 1000) + [SICL_CARD, interface_line("hpib7"), NO_INSTRUMENT],
         probes=WALK,
         status={SICL: {"unloads": "1", "left-open-at-unload": "0"}},
         max_seconds=5.0),

    # A probe that reads an answer without a match is returned to local and
    # closed, one that reads nothing is closed.
    Case("sicl-two-instruments", (SICL,),
         ["interface hpib7", "device hpib7 19 foreign", "device hpib7 7 kvr", "device hpib7 23 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000, address=23),
         stored=[Stored("hpib7-23")],
         probes=[19, 20, 21, 22, 23],
         status={SICL: {"left-open-at-unload": "0",
                        "device": "hpib7 7 kvr local files=0 errors=0 input=idle"}}),

    Case("sicl-markers", (SICL,),
         ["interface hpib7", "device hpib7 19 foreign Lookalike Co,kvr-d clone,1,1.0",
          "device hpib7 20 kvr Acme Signal,K2071,77,3.1"],
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000, address=20),
         stored=[Stored("hpib7-20")],
         probes=[19, 20]),

    # The hpib names come first; the bare "hpib" first of all.
    Case("sicl-interface-hpib-first", (SICL,),
         ["interface gpib0", "interface hpib7", "device gpib0 19 kvr", "device hpib7 19 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000),
         stored=[Stored("hpib7-19")],
         interfaces_tried=SICL_INTERFACES[:9]),

    Case("sicl-interface-bare-hpib", (SICL,),
         ["interface hpib7", "interface hpib", "device hpib 19 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000, interface="hpib"),
         stored=[Stored("hpib-19")],
         interfaces_tried=["hpib"]),

    Case("sicl-interface-gpib7", (SICL,), ["interface gpib7", "device gpib7 19 kvr"],
         [Call("tone", TONE_RE, TONE_IM)],
         sicl_download("tone", 1000, interface="gpib7"),
         stored=[Stored("gpib7-19")],
         interfaces_tried=SICL_INTERFACES[:34 + 8]),

    Case("sicl-no-interface", (SICL,), ["interface gpib32", "interface hpib32"],
         [Call("tone", TONE_RE, TONE_IM)],
         banner("tone", 1000) + [SICL_CARD, NO_INTERFACE],
         interfaces_tried=SICL_INTERFACES,
         probes=[],
         status={SICL: {"left-open-at-unload": "0"}}),

    # 258.7 is 0x0102 and 4660.2 is 0x1234; the library sends them big-endian.
    Case("sicl-one-point", (SICL,), SICL_BUS,
         [Call("one", [258.7], [4660.2])],
         sicl_download("one", 1),
         stored=[Stored("hpib7-19")],
         trace=sicl_download_trace("one", 3000, 1, r'"\x01\x02"', r'"\x124"')),

    Case("sicl-column", (SICL,), SICL_BUS,
         [Call("column", TONE_RE, TONE_IM, shape="column")],
         sicl_download("column", 1000),
         stored=[Stored("hpib7-19")]),

    Case("sicl-real", (SICL,), SICL_BUS,
         [Call("real", TONE_RE, None)],
         sicl_download("real", 1000),
         stored=[Stored("hpib7-19")]),

    Case("sicl-conversion", (SICL,), SICL_BUS,
         [Call("edges", EDGES, EDGES_IM)],
         sicl_download("edges", 16),
         stored=[Stored("hpib7-19")]),

    # With SICL the estimate is reported as computed: 4, not the NI table's 10.
    Case("sicl-timeout-4", (SICL,), SICL_BUS,
         [Call("long", LONG_RE, LONG_IM)],
         sicl_download("long", 16667, timeout=4),
         stored=[Stored("hpib7-19")],
         trace=sicl_download_trace("long", 4000, 16667, "<33334 bytes>")),

    Case("sicl-empty", (SICL,), SICL_BUS,
         [Call("empty", [], [])],
         found("empty", 0, SICL_CARD, "hpib7", 19),
         trace=SICL_FIND_AT_19 + SICL_RELEASE,
         status={SICL: {"left-open-at-unload": "0",
                        "device": "hpib7 19 kvr local files=0 errors=0 input=idle"}}),

    Case("sicl-empty-name", (SICL,), SICL_BUS,
         [Call("", TONE_RE, TONE_IM)],
         sicl_download("", 1000),
         stored=[Stored("hpib7-19")]),

    Case("sicl-long-name", (SICL,), SICL_BUS,
         [Call(LONG_NAME, [5.0, 6.0], [7.0, 8.0])],
         sicl_download(LONG_NAME, 2),
         stored=[Stored("hpib7-19")]),

    # Fifty calls: the library is loaded and released each time, and every
    # session it opened was closed before it was released.
    Case("sicl-50-calls", (SICL,), SICL_BUS,
         [Call("tone", TONE_RE, TONE_IM, repeat=50)],
         sicl_download("tone", 1000) * 50,
         stored=[Stored("hpib7-19")],
         status={SICL: {"open": "0", "loads": "50", "unloads": "50", "left-open-at-unload": "0"}}),

    # -- a part that fails: nothing more of it is sent, the instrument is cleared ---
    # The sample write of the Q part fails at once; the I file stays.
    Case("ni-q-block-refused", (NI,), NI_BUS + ["fault block-refused gpib0 19 arbq"],
         [Call("tone", TONE_RE, TONE_IM)],
         found("tone", 1000, NI_CARD, "gpib0", 19) + ["Timeout set to 3 seconds.\n"] + LOADED[:2] + [FAILED_Q],
         stored=[Stored("gpib0-19", memories=("arbi",))],
         trace=(NI_FIND_AT_19 + ["ibtmo(32,12) = 0x0100"]
                + ni_send_trace("arbi:tone", 4, 2000, "<2000 bytes>")
                + ni_send_trace("arbq:tone", 4, 2000, "<2000 bytes>")[:6]
                + ["ibwrt(32,<2000 bytes>,2000) = 0x8100 count=0 iberr=ENOL", "ibconfig(32,20,0) = 0x0100"]
                + NI_CLEAR_RELEASE),
         status={NI: {"open": "0", "device": "gpib0 19 kvr local files=1 errors=0 input=idle"}}),

    # The header breaks off after its "#": the digit count is refused.
    Case("ni-i-header-refused", (NI,), NI_BUS + ["fault header-refused gpib0 19 arbi"],
         [Call("tone", TONE_RE, TONE_IM)],
         found("tone", 1000, NI_CARD, "gpib0", 19) + ["Timeout set to 3 seconds.\n"] + LOADED[:1] + [FAILED_I],
         trace=(NI_FIND_AT_19 + ["ibtmo(32,12) = 0x0100"]
                + ni_send_trace("arbi:tone", 4, 2000, "<2000 bytes>")[:2]
                + ['ibwrt(32,"4",1) = 0x8100 count=0 iberr=ENOL'] + NI_CLEAR_RELEASE),
         status={NI: {"open": "0", "device": "gpib0 19 kvr local files=0 errors=0 input=idle"}}),

    # SICL's formatted write returns an error number (6: the device dropped
    # off the bus), not a count.
    Case("sicl-q-block-refused", (SICL,), SICL_BUS + ["fault block-refused hpib7 19 arbq"],
         [Call("tone", TONE_RE, TONE_IM)],
         found("tone", 1000, SICL_CARD, "hpib7", 19) + ["Timeout set to 3 seconds.\n"] + LOADED[:2] + [FAILED_Q],
         stored=[Stored("hpib7-19", memories=("arbi",))],
         trace=(SICL_FIND_AT_19 + ["itimeout(1,3000) = 0"]
                + sicl_send_trace("tone", 1000, "<2000 bytes>")[:3]
                + [r'iprintf(1,"%*wb\n",1000,<2000 bytes>) = 6'] + SICL_CLEAR_RELEASE),
         status={SICL: {"open": "0", "left-open-at-unload": "0",
                        "device": "hpib7 19 kvr local files=1 errors=0 input=idle"}}),

    Case("sicl-i-header-refused", (SICL,), SICL_BUS + ["fault header-refused hpib7 19 arbi"],
         [Call("tone", TONE_RE, TONE_IM)],
         found("tone", 1000, SICL_CARD, "hpib7", 19) + ["Timeout set to 3 seconds.\n"] + LOADED[:1] + [FAILED_I],
         trace=(SICL_FIND_AT_19 + ["itimeout(1,3000) = 0"]
                + sicl_send_trace("tone", 1000, "<2000 bytes>")[:1]
                + [r'iprintf(1,"%*wb\n",1000,<2000 bytes>) = 6'] + SICL_CLEAR_RELEASE),
         status={SICL: {"open": "0", "left-open-at-unload": "0",
                        "device": "hpib7 19 kvr local files=0 errors=0 input=idle"}}),

    # -- the gateway's refusals: raised before any bus call --------------------------
    Case("usage-no-input", (NI,), NI_BUS,
         [Call("", [], None, code="vandrel()")],
         [],
         errors=["Usage: vandrel(complex data, 'filename')"],
         no_bus_calls=True),

    Case("usage-one-input", (NI,), NI_BUS,
         [Call("", [], None, code="vandrel(1 + 2i)")],
         [],
         errors=["Usage: vandrel(complex data, 'filename')"],
         no_bus_calls=True),

    Case("not-a-vector", (NI,), NI_BUS,
         [Call("", [], None, code="vandrel(complex(ones(3, 2), 1), 'm')")],
         ["Number of Rows = 3 \n",
          "Number of Columns = 2 \n"],
         errors=["Input data must be a vector, not an array."],
         no_bus_calls=True),

    Case("zero-by-zero", (NI,), NI_BUS,
         [Call("", [], None, code="vandrel([], 'm')")],
         ["Number of Rows = 0 \n",
          "Number of Columns = 0 \n"],
         errors=["Input data must be a vector, not an array."],
         no_bus_calls=True),

    # A double quote would end the quoted file name and let the rest of the
    # name reach the instrument as a command.
    Case("name-with-quote", (NI,), NI_BUS,
         [Call("", [], None, code="vandrel([1 2], 'a\"; *RST')")],
         [],
         errors=["The waveform name for vandrel must not hold a double quote or a control character."],
         no_bus_calls=True),

    # -- the help beside the module -------------------------------------------------
    Case("help-text", (), [], [Call("", [], None, code="help vandrel")], [], help_text=True),
]

def case_named(name):
    for case in CASES:
        if case.name == name:
            return case
    raise KeyError(name)


if __name__ == "__main__":
    import sys
    if sys.argv[1:] == ["--list"]:
        print(";".join(case.name for case in CASES))
