#!/usr/bin/env python3
# Writes the tables of docs/reliability.md from the rows the tests run, and
# checks that the document holds them as written.
"""Usage: table.py [--check DOCUMENT]

Without options prints the tables. With --check, compares them with the part
of DOCUMENT between the begin and end markers and fails when they differ.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import rows  # noqa: E402

BEGIN = "<!-- hardening tables: written by tests/hardening/table.py -->"
END = "<!-- end of the hardening tables -->"

# Bad input that the end-to-end table already runs: case, input, outcome.
E2E_INPUTS = [
    ("usage-no-input", "no inputs: `vandrel()`", "error \"%s\"; nothing printed" % rows.USAGE),
    ("usage-one-input", "one input: `vandrel(1 + 2i)`", "error \"%s\"" % rows.USAGE),
    ("not-a-vector", "a 3-by-2 array", "rows 3, columns 2, error \"%s\"" % rows.NOT_A_VECTOR),
    ("zero-by-zero", "a 0-by-0 array `[]`", "rows 0, columns 0, error \"%s\"" % rows.NOT_A_VECTOR),
    ("ni-empty", "a 1-by-0 vector", "length 0: the instrument is found and released, nothing is sent"),
    ("ni-real", "a real vector", "stored; the Q file all zeros"),
    ("ni-conversion", "NaN, Inf, -Inf, 2^63, -2^63, 2^40 + 5.5 and values past 16 bits",
     "stored: NaN, infinities and magnitudes of 2^63 and more as 0, the rest truncated, modulo 65536"),
    ("ni-empty-name", "an empty name with NI-488.2", "stored under the empty name"),
    ("ni-long-names", "names of 59 and 305 characters", "both stored under their whole names"),
    ("name-with-quote", "a name holding a double quote", "error \"%s\"" % rows.BAD_NAME),
]


def cell(text):
    return text.replace("|", "\\|").replace("\n", " ")


def row_outcome(row):
    text = row.outcome
    if row.no_driver_call:
        text += "; no driver loaded, nothing on the bus"
    return text


def command(row):
    return "`python3 tests/hardening/run_hardening.py --build build %s`" % row.name


def tables():
    lines = ["### Inputs tried", "",
             "| Row | Input | Outcome the test asserts | Reproduce |", "|---|---|---|---|"]
    for row in rows.ROWS:
        if row.group == "input":
            lines.append("| `hardening.%s` | %s | %s | %s |" % (row.name, cell(row.what), cell(row_outcome(row)),
                                                               command(row)))
    for name, what, outcome in E2E_INPUTS:
        lines.append("| `e2e.%s` | %s | %s | `python3 tests/e2e/run_e2e.py --build build %s` |"
                     % (name, cell(what), cell(outcome), name))
    lines += ["", "### Faults injected", "",
              "| Row | Fault | Outcome the test asserts | Reproduce |", "|---|---|---|---|"]
    for row in rows.ROWS:
        if row.group == "fault":
            lines.append("| `hardening.%s` | %s | %s | %s |" % (row.name, cell(row.what), cell(row_outcome(row)),
                                                               command(row)))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", help="the document that must hold the tables")
    arguments = parser.parse_args()
    text = tables()
    if not arguments.check:
        sys.stdout.write(text)
        return 0
    with open(arguments.check, encoding="utf-8") as file:
        document = file.read()
    if BEGIN not in document or END not in document:
        print("%s lacks the markers of the hardening tables" % arguments.check)
        print("0 passed, 1 failed")
        return 1
    held = document.split(BEGIN, 1)[1].split(END, 1)[0].strip("\n") + "\n"
    if held != text:
        print("the tables in %s differ from the rows; write them anew with tests/hardening/table.py"
              % arguments.check)
        print("0 passed, 1 failed")
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
