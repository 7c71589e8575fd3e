#!/usr/bin/python3
"""The Python tests' classes, one ctest each (tests/CMakeLists.txt, aerosol_python_tests).

  run_unittest.py --list FILE    the classes of FILE that hold tests, one a line (read, not
                                 imported: CMake asks at configure time)
  run_unittest.py MODULE.CLASS   runs that class from the current folder. A class that runs
                                 no test fails; under CI (CI=true) so does a skipped test,
                                 unless its reason begins "cannot run here:", the mark of what
                                 the machine cannot do and scripts/setup.sh cannot provide.
"""

import ast
import os
import sys
import unittest

HONEST = "cannot run here:"


def under_ci():
    return os.environ.get("CI", "").lower() in ("true", "1", "yes")


def test_classes(path):
    with open(path) as f:
        tree = ast.parse(f.read(), path)
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}

    def has_tests(node, seen):
        if any(isinstance(f, ast.FunctionDef) and f.name.startswith("test") for f in node.body):
            return True
        return any(isinstance(b, ast.Name) and b.id in classes and b.id not in seen
                   and has_tests(classes[b.id], seen | {b.id}) for b in node.bases)

    return [name for name, node in classes.items() if has_tests(node, {name})]


def main(argv):
    if len(argv) == 3 and argv[1] == "--list":
        print("\n".join(test_classes(argv[2])))
        return 0
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
