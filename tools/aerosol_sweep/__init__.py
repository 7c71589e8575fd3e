"""Parameter sweeps of the aerosol program: see tools/aerosol-sweep and docs/sweeps.md."""

import os
import sys

# The shared readers of the program's files (aerosol_inputs, aerosol_output) live in tools/.
_TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if _TOOLS not in sys.path:
    sys.path.insert(0, _TOOLS)
