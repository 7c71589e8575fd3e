#pragma once
// The program's command line when it is given arguments: `aerosol --help`, `aerosol --version`,
// `aerosol simulate CASE [-o FILE] [--csv DIR] [--print-case]` and `aerosol materials`.
// Without arguments the program runs the input-file processes and never comes here. A build
// without the simulate library (-DAEROSOL_SIMULATE=OFF) has the same command line and refuses
// the commands it lacks.

namespace aerosol {

// Parses the arguments and runs what they ask for; returns the exit status.
int runCommandLine(int argc, char** argv);

}  // namespace aerosol
