# The Octave cases of the linux-gpib adapter: each runs twice on the same
# simulated bus, once with the NI-488.2 stand-in beside the module and once
# with the adapter over the fake libgpib.so.0, and the two must agree.
"""The adapter's end-to-end cases.

Each case is run with the stand-in `gpib-32.dll` of the simulator and again
with the adapter `gpib-32.dll` and a fake `libgpib.so.0` found through the
library search path. Both runs must give the same console transcript, the
same errors and the same stored files; where a case names a transcript, both
must print it. Where the adapter's writes map one to one onto the stand-in's,
the calls the fake saw must match the stand-in's trace (under linux-gpib's
names, without the byte-swap option the adapter keeps to itself); where a
block is larger than the adapter's buffer, its pieces and END are checked.
"""
import os
import sys
from dataclasses import dataclass, field
from typing import Dict, List, Optional

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
from cases import (Call, NI_BUS, NI_CARD, NO_INSTRUMENT, NO_INTERFACE, TONE_IM, TONE_RE,  # noqa: E402
                   banner, interface_line, ni_download, tone)

FAKE = "libgpib"                      # the fake with the thread-local accessors
FAKE_GLOBALS_ONLY = "libgpib-globals-only"
BUFFER_BYTES = 65536                  # the adapter's swap buffer
BIG_POINTS = 35000 * 2                # 140000 bytes a part: three pieces
BIG_RE, BIG_IM = tone(BIG_POINTS, cycles=7.0)
DONE = "Done loading the waveform into the KVR dual arb.\n"


@dataclass
class Pieces:
    """The swapped writes one part's block is sent in."""
    sizes: List[int]
    failed_at: Optional[int] = None     # the piece that fails, when one does


@dataclass
class AdapterCase:
    name: str
    bus: List[str]
    calls: List[Call]
    fake: Optional[str] = FAKE          # None: no libgpib.so.0 to be found
    stand_in_bus: Optional[List[str]] = None   # the stand-in's bus, when it differs
    transcript: Optional[List[str]] = None      # what both must print
    done: Optional[bool] = None         # whether "Done loading" is printed
    stored: List[str] = field(default_factory=list)   # devices holding the calls' files
    same_trace: bool = True
    pieces: List[Pieces] = field(default_factory=list)   # per block, when not the same trace
    adapter_stderr: int = 0             # lines naming libgpib.so.0 the adapter prints
    status: Dict[str, str] = field(default_factory=dict)  # the fake's status values


def good(name, length, **kwargs):
    return ni_download(name, length, **kwargs)


CASES = [
    AdapterCase("at-19", NI_BUS, [Call("tone", TONE_RE, TONE_IM)],
                transcript=good("tone", 1000), done=True, stored=["gpib0-19"],
                status={"open": "0", "loads": "1", "device": "gpib0 19 kvr local files=2 errors=0 input=idle"}),

    # The library without the thread-local accessors: the globals are read.
    AdapterCase("at-19-globals-only", NI_BUS, [Call("tone", TONE_RE, TONE_IM)], fake=FAKE_GLOBALS_ONLY,
                transcript=good("tone", 1000), done=True, stored=["gpib0-19"],
                status={"open": "0", "device": "gpib0 19 kvr local files=2 errors=0 input=idle"}),

    AdapterCase("walk-to-5", ["interface gpib0", "device gpib0 5 kvr"], [Call("tone", TONE_RE, TONE_IM)],
                transcript=good("tone", 1000, address=5), done=True, stored=["gpib0-5"],
                status={"open": "0"}),

    # Address 0 is never probed: all 32 probes, and nothing found.
    AdapterCase("no-instrument", ["interface gpib0", "device gpib0 0 kvr"], [Call("tone", TONE_RE, TONE_IM)],
                transcript=banner("tone", 1000) + [NI_CARD, interface_line("gpib0"), NO_INSTRUMENT],
                done=False, status={"open": "0"}),

    # The device drops off the bus at the first byte of the I block.
    AdapterCase("failed-write", NI_BUS + ["fault block-refused gpib0 19 arbi"],
                [Call("tone", TONE_RE, TONE_IM)], done=False, status={"open": "0"}),

    # The device stops taking the I block inside the second piece: the
    # adapter sends no further piece and turns END back on.
    AdapterCase("failed-write-midway", NI_BUS + ["fault block-timeout gpib0 19 arbi 70000 50"],
                [Call("big", BIG_RE, BIG_IM)], done=False, same_trace=False,
                pieces=[Pieces([BUFFER_BYTES, BUFFER_BYTES], failed_at=1)], status={"open": "0"}),

    # A block larger than the swap buffer goes in three writes; END once.
    AdapterCase("block-over-64k", NI_BUS, [Call("big", BIG_RE, BIG_IM)],
                transcript=good("big", BIG_POINTS, timeout=30), done=True, stored=["gpib0-19"],
                same_trace=False,
                pieces=[Pieces([BUFFER_BYTES, BUFFER_BYTES, 2 * BIG_POINTS - 2 * BUFFER_BYTES])] * 2,
                status={"open": "0", "device": "gpib0 19 kvr local files=2 errors=0 input=idle"}),

    # Fifty calls in one session: the library is loaded once, nothing is left open.
    AdapterCase("repeated-50", NI_BUS, [Call("tone", TONE_RE, TONE_IM, repeat=50)],
                transcript=good("tone", 1000) * 50, done=True, stored=["gpib0-19"],
                status={"open": "0", "loads": "1", "device": "gpib0 19 kvr local files=100 errors=0 input=idle"}),

    # Without linux-gpib every call fails: no interface, as with a stand-in
    # that has no boards, and one line on stderr for both calls.
    AdapterCase("libgpib-missing", NI_BUS, [Call("tone", TONE_RE, TONE_IM), Call("again", [1.0], [2.0])],
                fake=None, stand_in_bus=[],
                transcript=banner("tone", 1000) + [NI_CARD, NO_INTERFACE] + banner("again", 1) + [NI_CARD, NO_INTERFACE],
                done=False, same_trace=False, adapter_stderr=1),
]


def case_named(name):
    for case in CASES:
        if case.name == name:
            return case
    raise KeyError(name)


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print(";".join(case.name for case in CASES))
