#!/usr/bin/python3
"""The tests a ctest run skipped, each with the reason it printed. Under CI (CI=true) a skip
fails the run unless the test said why this machine cannot run it, a line with "cannot run
here:", which tests print only for what scripts/setup.sh could not provide (a user that is not
root, a C library). Anything else a skip would hide.

Usage: scripts/check-skips.py JUNIT.xml   (written by ctest --output-junit)
"""

import os
import sys
import xml.etree.ElementTree as ET

HONEST = "cannot run here:"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        cases = list(ET.parse(argv[1]).getroot().iter("testcase"))
    except (OSError, ET.ParseError) as e:
        print("check-skips: cannot read the ctest results %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    ci = os.environ.get("CI", "").lower() in ("true", "1", "yes")
    unexplained = []
    for case in cases:
        if case.find("skipped") is None:
            continue
        output = case.findtext("system-out") or ""
        reason = next((line.strip() for line in output.splitlines() if HONEST in line), None)
        print("check-skips: %s skipped: %s" % (case.get("name"), reason or "no reason given"),
              file=sys.stderr)
        if reason is None:
            unexplained.append(case.get("name"))
    if unexplained and ci:
        print("check-skips: under CI a skip needs a reason the machine imposes (\"%s\"): %s"
              % (HONEST, ", ".join(unexplained)), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
