#include "main/command_line.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "common/console.h"
#include "common/exit_status.h"

#ifdef AEROSOL_WITH_SIMULATE
#include "case/case.h"
#include "case/case_checks.h"
#include "case/materials.h"
#include "integrator/simulation.h"
#include "output/csv_sink.h"
#include "output/netcdf_sink.h"
#endif

#ifndef AEROSOL_VERSION
#define AEROSOL_VERSION "unknown"
#endif

namespace aerosol {

namespace {

struct SimulateOptions {
  std::string casePath;
  std::string outputFile;
  std::string csvFolder;
  bool printCase = false;
  bool outputGiven = false;  // -o on the command line, even with an empty name
  bool csvGiven = false;
};

#ifdef AEROSOL_WITH_SIMULATE
namespace fs = std::filesystem;

// Set by SIGINT or SIGTERM; the integrator polls it between steps and ends the run as
// interrupted, so the files are closed properly and say so.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void requestStop(int signal) { stopSignal = signal; }

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  // A second Ctrl-C kills at once: the file is still valid up to its last synced time.
  // Writes under way when the signal comes are restarted, not failed with EINTR.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Every sink in turn; a failure of any one ends the run as a write failure. Remembers the
// first failure, so a run can never look complete when one of its files is not.
class SinkList : public ResultsSink {
 public:
  void add(std::unique_ptr<ResultsSink> sink) { sinks_.push_back(std::move(sink)); }

  bool begin(const SimulationCase& simulationCase, const ResultsLayout& layout,
             std::string& message) override {
    for (auto& sink : sinks_)
      if (!sink->begin(simulationCase, layout, message)) return failed(message);
    return true;
  }
  bool write(const OutputSample& sample, std::string& message) override {
    for (auto& sink : sinks_)
      if (!sink->write(sample, message)) return failed(message);
    return true;
  }
  // Every sink is finished, whatever the others did.
  bool finish(const RunOutcome& outcome, std::string& message) override {
    finished_ = true;
    bool ok = true;
    for (auto& sink : sinks_) {
      std::string sinkMessage;
      if (!sink->finish(outcome, sinkMessage)) {
        ok = failed(sinkMessage);
        message = sinkMessage;
      }
    }
    return ok;
  }

  bool anyFailed() const { return !failure_.empty(); }
  bool finished() const { return finished_; }
  const std::string& failure() const { return failure_; }

 private:
  bool failed(const std::string& message) {
    if (failure_.empty()) failure_ = message.empty() ? "write error" : message;
    return false;
  }
  std::vector<std::unique_ptr<ResultsSink>> sinks_;
  std::string failure_;
  bool finished_ = false;
};

// The NetCDF file: -o, else the case's own output.file (relative to the case file's folder),
// else the case file's name with .nc, or simulate.nc inside a legacy folder.
std::string outputPath(const std::string& casePath, bool legacy, const SimulationCase& simCase,
                       const std::string& option) {
  if (!option.empty()) return option;
  const fs::path casePathObject(casePath);
  if (!simCase.output.file.empty()) {
    const fs::path file(simCase.output.file);
    if (file.is_absolute()) return file.string();
    const fs::path base = legacy ? casePathObject : casePathObject.parent_path();
    return (base / file).string();
  }
  if (legacy) return (casePathObject / "simulate.nc").string();
  fs::path path = casePathObject;
  path.replace_extension(".nc");
  return path.string();
}

bool samePath(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

int printCase(const SimulationCase& simulationCase) {
  const std::string text = caseToToml(simulationCase);
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
      std::fflush(stdout) != 0 || std::ferror(stdout))
    return reportWriteFailure();
  return kExitSuccess;
}

// `aerosol materials`: the library with its figures, fit ranges and sources.
int printMaterials() {
  if (materialLibrary().empty()) {
    std::fprintf(stderr, "aerosol materials: the built-in materials library is empty\n");
    return kExitRangeError;
  }
  const std::string text = listMaterials();
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
      std::fflush(stdout) != 0 || std::ferror(stdout))
    return reportWriteFailure();
  return kExitSuccess;
}

int runSimulate(const SimulateOptions& options) {
  // An empty name would silently mean the default file, or no CSV files at all.
  for (const auto& [given, value, option] :
       {std::tuple(options.outputGiven, &options.outputFile, "-o"),
        std::tuple(options.csvGiven, &options.csvFolder, "--csv")})
    if (given && value->empty()) {
      std::fprintf(stderr, "aerosol simulate: %s \"\": an empty name; expected %s\n", option,
                   std::string(option) == "-o" ? "the NetCDF file's path" : "a folder's path");
      return kExitInputError;
    }
  SimulationCase simulationCase;
  std::string message;
  const bool legacy = fs::is_directory(options.casePath);
  if (!readCase(options.casePath, simulationCase, message)) {
    std::fprintf(stderr, "aerosol simulate: %s\n", message.c_str());
    return kExitInputError;
  }
  if (options.printCase) return printCase(simulationCase);

  const std::string netcdfPath =
      outputPath(options.casePath, legacy, simulationCase, options.outputFile);
  if (samePath(netcdfPath, options.casePath)) {
    std::fprintf(stderr,
                 "aerosol simulate: the results file %s would replace the case itself; "
                 "name another with -o\n",
                 netcdfPath.c_str());
    return kExitInputError;
  }

  // The NetCDF library removes the path when it cannot finish creating the file: never hand
  // it a device, a folder or a pipe.
  std::error_code error;
  const fs::file_status existing = fs::status(netcdfPath, error);
  if (fs::exists(existing) && !fs::is_regular_file(existing)) {
    std::fprintf(stderr,
                 "aerosol simulate: could not write the results to %s: it exists and is not a "
                 "regular file\n",
                 netcdfPath.c_str());
    return kExitWriteError;
  }

  SinkList sinks;
  auto netcdf = std::make_unique<NetcdfSink>(netcdfPath, AEROSOL_VERSION);
  const NetcdfSink* netcdfFile = netcdf.get();
  sinks.add(std::move(netcdf));
  const CsvSink* csvFiles = nullptr;
  if (!options.csvFolder.empty()) {
    auto csv = std::make_unique<CsvSink>(options.csvFolder, AEROSOL_VERSION);
    csvFiles = csv.get();
    sinks.add(std::move(csv));
  }

  // The progress line follows the temperature when the run ends at one, else the time.
  const auto& history = simulationCase.temperature;
  const bool byTemperature = simulationCase.end.rule == EndRule::Temperature &&
                             history.law != TemperatureLaw::Constant;
  const double startTemperature = history.at(0.0, 0.0).temperature;

  // Said before the run, as the run may take long: a fit used outside its range.
  for (const std::string& warning : caseWarnings(simulationCase))
    std::fprintf(stderr, "aerosol: warning: %s\n", warning.c_str());

  installStopHandlers();
  const auto started = std::chrono::steady_clock::now();
  RunOutcome outcome;
  {
    ProgressLine progress(byTemperature ? "T" : "t", byTemperature ? "K" : "s",
                          byTemperature ? startTemperature : 0.0,
                          byTemperature ? simulationCase.end.temperature
                                        : simulationCase.end.time);
    RunControl control;
    control.stopRequested = [] { return stopSignal != 0; };
    control.progress = [&](double time) {
      progress.slowPass(byTemperature ? history.at(time, 0.0).temperature : time);
    };
    outcome = runSimulation(simulationCase, sinks, control);
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  int status = kExitSuccess;
  // The files must say how the run ended even if the run could not tell them.
  if (!sinks.finished()) {
    std::string finishMessage;
    sinks.finish(outcome, finishMessage);
  }
  if (outcome.end == RunEnd::WriteFailure || sinks.anyFailed()) {
    status = kExitWriteError;
    if (outcome.end != RunEnd::WriteFailure) {
      outcome.end = RunEnd::WriteFailure;
      outcome.message = sinks.failure();
    } else if (outcome.message.empty()) {
      outcome.message = sinks.failure();
    }
  } else if (outcome.end != RunEnd::Complete) {
    status = kExitRangeError;
  }

  const IntegratorCounts& counts = outcome.counts;
  std::fprintf(stderr,
               "aerosol simulate: %s\n"
               "  %ld steps, %ld right-hand sides, %ld Jacobians, %ld factorizations, %ld steps "
               "rejected by the error test, %ld convergence failures; %.3g s wall time\n",
               describeRunEnd(outcome).c_str(), counts.steps, counts.rhsEvaluations,
               counts.jacobianEvaluations, counts.factorizations, counts.errorTestFailures,
               counts.convergenceFailures, wall);
  if (status == kExitWriteError) {
    // Only files that were made can be incomplete.
    std::string made;
    if (netcdfFile->created()) made = netcdfPath;
    if (csvFiles != nullptr && csvFiles->created())
      made += (made.empty() ? "the CSV files in " : " and the CSV files in ") + options.csvFolder;
    if (made.empty())
      std::fprintf(stderr, "  no results were written\n");
    else
      std::fprintf(stderr, "  the results in %s are incomplete\n", made.c_str());
  } else
    std::fprintf(stderr, "  results in %s%s%s\n", netcdfPath.c_str(),
                 options.csvFolder.empty() ? "" : " and the CSV files in ",
                 options.csvFolder.c_str());
  return status;
}
#endif

}  // namespace

int runCommandLine(int argc, char** argv) {
  CLI::App app{
      "aerosol: nodal simulation of an aerosol's size distribution.\n"
      "Without arguments it runs the input-file process that main.inp in the working "
      "directory chooses (and reads coag.inp or grow.inp), printing its tables.",
      "aerosol"};
  app.set_version_flag("--version", std::string("aerosol ") + AEROSOL_VERSION);
  // At most one command; arguments that are none (aerosol foo, aerosol --bogus) are refused
  // as unexpected.
  app.require_subcommand(0, 1);
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return "aerosol: " + std::string(error.what()) + "\nRun aerosol --help for more information.\n";
  });

  SimulateOptions options;
  CLI::App* simulate = app.add_subcommand(
      "simulate",
      "Integrate a case with an error-controlled stiff integrator (CVODE) and write NetCDF.");
  simulate->add_option("CASE", options.casePath,
                       "a TOML case file, or a legacy run folder holding main.inp")
      ->required();
  CLI::Option* output =
      simulate->add_option("-o,--output", options.outputFile,
                           "the NetCDF file (default: the case file's name with .nc, or "
                           "simulate.nc inside a legacy folder)");
  CLI::Option* csv = simulate->add_option("--csv", options.csvFolder,
                                          "also write the results as CSV files in this folder");
  simulate->add_flag("--print-case", options.printCase,
                     "print the case as a TOML case file and exit");
  simulate->footer(
      "Exit status: 0 complete; 1 command line or case refused; 2 results could not be "
      "written; 3 integrator failure or interrupted (Ctrl-C), the file kept up to the time "
      "reached.");

  CLI::App* materials = app.add_subcommand(
      "materials",
      "List the materials library: molar mass, density, surface tension and vapour pressure "
      "fits with their temperature ranges and sources (a case names one with "
      "material = \"iron\").");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version are successes (if they could be written); every other parse error
    // is a refused command line.
    if (app.exit(error) != 0) return kExitInputError;
    std::cout.flush();
    if (!std::cout) {
      std::fprintf(stderr, "aerosol: could not write to standard output\n");
      return kExitWriteError;
    }
    return kExitSuccess;
  }
  options.outputGiven = output->count() > 0;
  options.csvGiven = csv->count() > 0;
#ifdef AEROSOL_WITH_SIMULATE
  if (materials->parsed()) return printMaterials();
  if (simulate->parsed()) return runSimulate(options);
#else
  for (const CLI::App* command : {simulate, materials})
    if (command->parsed()) {
      std::fprintf(stderr,
                   "aerosol: this program was built without the %s command "
                   "(-DAEROSOL_SIMULATE=OFF)\n",
                   command->get_name().c_str());
      return kExitInputError;
    }
#endif
  std::fprintf(stderr, "aerosol: no command given\nRun aerosol --help for more information.\n");
  return kExitInputError;
}

}  // namespace aerosol
