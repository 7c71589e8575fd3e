// aerosol: nodal simulation of an aerosol's size distribution. Without arguments it reads
// main.inp (and coag.inp or grow.inp) from the working directory and prints its tables to
// standard output; with arguments it is a command line (--help, --version, simulate,
// materials).

#include <csignal>
#include <cstdio>

#include "common/console.h"
#include "common/exit_status.h"
#include "main/command_line.h"
#include "processes/processes.h"
#include "processes/run_settings.h"

int main(int argc, char** argv) {
  // A closed pipe then shows up as a write error that ends the run, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc > 1) return aerosol::runCommandLine(argc, argv);
  aerosol::RunSettings settings;
  int status = aerosol::readRunSettings(settings);
  if (status == aerosol::kExitSuccess) status = aerosol::runProcess(settings);
  if (status != aerosol::kExitWriteError && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    status = aerosol::reportWriteFailure();
  return status;
}
