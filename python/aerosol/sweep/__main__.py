"""python3 -m aerosol.sweep: the aerosol-sweep command."""

import sys

from .cli import main

sys.exit(main())
