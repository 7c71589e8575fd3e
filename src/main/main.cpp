// aerosol: nodal simulation of an aerosol's size distribution. Reads main.inp (and coag.inp
// or grow.inp) from the working directory; prints its tables to standard output.

#include <csignal>
#include <cstdio>

#include "modes/modes.h"
#include "setup/output.h"
#include "setup/run_settings.h"

int main() {
  // A closed pipe then shows up as a write error that ends the run, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  aerosol::RunSettings settings;
  int status = aerosol::readRunSettings(settings);
  if (status == aerosol::kExitSuccess) status = aerosol::runProcess(settings);
  if (status != aerosol::kExitWriteError && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    status = aerosol::reportWriteFailure();
  return status;
}
