#!/usr/bin/python3
"""Runs one class of the Python tests, a ctest each (tests/CMakeLists.txt):

    run_unittest.py MODULE.CLASS     (from the test's folder)

A class that runs no test fails; under CI (CI=true) so does a skipped test, unless its reason
begins "cannot run here:", the mark of what the machine cannot do and scripts/setup.sh cannot
provide.
"""

import os
import sys
import unittest

HONEST = "cannot run here:"


def under_ci():
    return os.environ.get("CI", "").lower() in ("true", "1", "yes")


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    sys.path.insert(0, os.getcwd())
    result = unittest.TextTestRunner(verbosity=2).run(
        unittest.defaultTestLoader.loadTestsFromName(argv[1]))
    if result.testsRun == 0:
        print("FAIL: %s ran no test" % argv[1])
        return 1
    unexplained = [(test, why) for test, why in result.skipped if not why.startswith(HONEST)]
    if unexplained and under_ci():
        for test, why in unexplained:
            print("FAIL under CI: %s was skipped (%s), which the set-up script should make "
                  "possible" % (test.id(), why))
        return 1
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
