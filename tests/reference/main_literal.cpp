// The program with the straightforward forms of the step's heavy work: the reference build
// whose output the golden files hold.

#include <csignal>
#include <cstdio>

#include "reference/literal_kernels.h"
#include "processes/processes.h"
#include "common/console.h"
#include "processes/run_settings.h"

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  aerosol::RunSettings settings;
  int status = aerosol::readRunSettings(settings);
  aerosol::LiteralPassKernels kernels;
  if (status == aerosol::kExitSuccess) status = aerosol::runProcess(settings, kernels);
  if (status != aerosol::kExitWriteError && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    status = aerosol::reportWriteFailure();
  return status;
}
