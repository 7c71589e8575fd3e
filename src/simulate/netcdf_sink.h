#pragma once
// The results of a simulate run as a NetCDF file (64-bit offset classic format), readable by
// xarray without options. The file is synced after every output time, so a run that stops
// early (interrupted, integrator failure, killed) leaves a valid file with the times reached;
// the global attribute run_end says how the run ended ("running" while it goes on).

#include <string>

#include "simulate/simulation.h"

namespace aerosol {

// How a run ended, in the words every output uses: "complete", "integrator failure at t =
// ... s: <reason>", "interrupted at t = ... s", "write failure at t = ... s: <reason>".
std::string describeRunEnd(const RunOutcome& outcome);

class NetcdfSink : public ResultsSink {
 public:
  // `path`: the file, replaced if it exists; `version`: the program's, for the attributes.
  NetcdfSink(std::string path, std::string version);
  ~NetcdfSink() override;
  NetcdfSink(const NetcdfSink&) = delete;
  NetcdfSink& operator=(const NetcdfSink&) = delete;

  bool begin(const SimulationCase& simulationCase, const OutputGrid& grid,
             std::string& message) override;
  bool write(const OutputSample& sample, std::string& message) override;
  bool finish(const RunOutcome& outcome, std::string& message) override;

  const std::string& path() const { return path_; }
  long timesWritten() const { return records_; }

 private:
  // Variable ids: the time series and counts in the order of output_layout.h.
  struct Ids {
    int time = -1, concentration = -1;
    int series[11] = {};
    int counts[5] = {};
  };
  bool fail(int status, const char* what, std::string& message);

  std::string path_;
  std::string version_;
  int ncid_ = -1;
  int nodeCount_ = 0;
  long records_ = 0;
  Ids ids_;
};

}  // namespace aerosol
