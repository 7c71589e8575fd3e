#pragma once
// The program's command line when it is given arguments: `aerosol --help`, `aerosol --version`,
// `aerosol simulate CASE [-o FILE] [--csv DIR] [--print-case]` and `aerosol materials`.
// Without arguments the program runs the input-file processes and never comes here.

namespace aerosol {

// Exit statuses of `aerosol simulate`.
inline constexpr int kSimulateComplete = 0;
inline constexpr int kSimulateRefused = 1;       // bad command line or case refused
inline constexpr int kSimulateWriteFailure = 2;  // results could not be written
inline constexpr int kSimulateUnfinished = 3;    // integrator failure or interrupted

// Parses the arguments and runs what they ask for; returns the exit status.
int runCommandLine(int argc, char** argv);

}  // namespace aerosol
