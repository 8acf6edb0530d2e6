#!/usr/bin/env python3
# Runs end-to-end cases of the module in Octave against the simulated bus.
"""Usage: run_e2e.py --build BUILD [--work FOLDER] [CASE ...]

Runs the named cases (all of them when none is named) and prints, for each,
PASS or FAIL with what differed. Each case's folder is kept for a look.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder holding vandrel.mex")
    parser.add_argument("--work", help="where the case folders go (default BUILD/tests/e2e/cases)")
    parser.add_argument("names", nargs="*", help="cases to run")
    arguments = parser.parse_args()
    work = arguments.work or os.path.join(arguments.build, "tests", "e2e", "cases")
    host = harness.OctaveHost(arguments.build)
    selected = [cases.case_named(n) for n in arguments.names] if arguments.names else cases.CASES
    return harness.run_and_report(selected, lambda case: harness.run_case(host, case, work))


if __name__ == "__main__":
    sys.exit(main())
