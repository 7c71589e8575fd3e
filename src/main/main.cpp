// aerosol: nodal simulation of an aerosol's size distribution. Without arguments it reads
// main.inp (and coag.inp or grow.inp) from the working directory and prints its tables to
// standard output; with arguments it is a command line (--help, --version, simulate,
// materials).

#include <csignal>
#include <cstdio>
#include <cstring>

#include "modes/modes.h"
#include "setup/output.h"
#include "setup/run_settings.h"

#ifdef AEROSOL_WITH_SIMULATE
#include "simulate/simulate_command.h"
#endif

#ifndef AEROSOL_VERSION
#define AEROSOL_VERSION "unknown"
#endif

namespace {

#ifndef AEROSOL_WITH_SIMULATE
// The command line of a build without the simulate library (the Arm cross build).
int runCommandLine(int argc, char** argv) {
  const char* first = argv[1];
  if (argc == 2 && std::strcmp(first, "--version") == 0) {
    std::printf("aerosol %s\n", AEROSOL_VERSION);
  } else if (argc == 2 && (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0)) {
    std::printf(
        "aerosol: nodal simulation of an aerosol's size distribution.\n"
        "Usage: aerosol              run the process that main.inp in the working directory "
        "chooses\n"
        "       aerosol --version\n"
        "This build has no simulate or materials command (configured with "
        "-DAEROSOL_SIMULATE=OFF).\n");
  } else if (std::strcmp(first, "simulate") == 0 || std::strcmp(first, "materials") == 0) {
    std::fprintf(stderr,
                 "aerosol: this program was built without the %s command "
                 "(-DAEROSOL_SIMULATE=OFF)\n",
                 first);
    return aerosol::kExitInputError;
  } else {
    std::fprintf(stderr, "aerosol: unexpected argument \"%s\"; run aerosol --help\n", first);
    return aerosol::kExitInputError;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return aerosol::reportWriteFailure();
  return aerosol::kExitSuccess;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe then shows up as a write error that ends the run, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
#ifdef AEROSOL_WITH_SIMULATE
  if (argc > 1) return aerosol::runCommandLine(argc, argv);
#else
  if (argc > 1) return runCommandLine(argc, argv);
#endif
  aerosol::RunSettings settings;
  int status = aerosol::readRunSettings(settings);
  if (status == aerosol::kExitSuccess) status = aerosol::runProcess(settings);
  if (status != aerosol::kExitWriteError && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    status = aerosol::reportWriteFailure();
  return status;
}
