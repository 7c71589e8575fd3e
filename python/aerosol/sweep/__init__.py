"""Parameter sweeps of the aerosol program (the aerosol-sweep command): see docs/sweeps.md."""
