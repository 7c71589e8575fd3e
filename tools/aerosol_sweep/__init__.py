"""Parameter sweeps of the aerosol program: see tools/aerosol-sweep and docs/sweeps.md."""
