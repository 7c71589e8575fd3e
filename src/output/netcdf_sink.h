#pragma once
// The results of a simulate run as a NetCDF file (64-bit offset classic format), readable by
// xarray without options. The file is synced after every output time, so a run that stops
// early (interrupted, integrator failure, killed) leaves a valid file with the times reached;
// the global attribute run_end says how the run ended ("running" while it goes on).

#include <string>

#include <vector>

#include "output/results.h"

namespace aerosol {

class NetcdfSink : public ResultsSink {
 public:
  // `path`: the file, replaced if it exists; `version`: the program's, for the attributes.
  NetcdfSink(std::string path, std::string version);
  ~NetcdfSink() override;
  NetcdfSink(const NetcdfSink&) = delete;
  NetcdfSink& operator=(const NetcdfSink&) = delete;

  bool begin(const SimulationCase& simulationCase, const ResultsLayout& layout,
             std::string& message) override;
  bool write(const OutputSample& sample, std::string& message) override;
  bool finish(const RunOutcome& outcome, std::string& message) override;

  const std::string& path() const { return path_; }
  long timesWritten() const { return records_; }
  // Whether this run made the file (and it is still there).
  bool created() const;

 private:
  bool fail(int status, const char* what, std::string& message);

  std::string path_;
  std::string version_;
  int ncid_ = -1;
  bool created_ = false;
  ResultsLayout layout_;
  long records_ = 0;
  int timeId_ = -1;
  std::vector<int> variableIds_;  // in the layout's order
  std::vector<int> countIds_;     // in the order of kOutputCounts
};

}  // namespace aerosol
