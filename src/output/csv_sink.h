#pragma once
// The results of a simulate run as CSV files in a folder, the same data as the NetCDF file:
//   nodes.csv          node and the node coordinates: volume [m3], diameter [m]
//   series.csv         one row per output time: time and every figure per time, counts
//   NAME.csv           for every per-node variable (concentration.csv first): one row per
//                      output time, the time and the value at each node
//   run.csv            attribute,value: program version, case source, how the run ended
//   case.toml          the case's text
// Numbers carry 17 significant digits (they read back to the same doubles); every header
// names its unit in brackets. Rows are flushed as they are written, so a run that stops
// early leaves the times it reached.

#include <cstdio>
#include <string>

#include <vector>

#include "output/results.h"

namespace aerosol {

class CsvSink : public ResultsSink {
 public:
  // `folder` is created if missing; files in it with the names above are replaced.
  CsvSink(std::string folder, std::string version);
  ~CsvSink() override;
  CsvSink(const CsvSink&) = delete;
  CsvSink& operator=(const CsvSink&) = delete;

  bool begin(const SimulationCase& simulationCase, const ResultsLayout& layout,
             std::string& message) override;
  bool write(const OutputSample& sample, std::string& message) override;
  bool finish(const RunOutcome& outcome, std::string& message) override;
  // Whether this run made the folder's files.
  bool created() const { return begun_; }

 private:
  bool writeRunFile(const std::string& runEnd, std::string& message);
  std::string file(const std::string& name) const;
  bool flushAll(std::string& message);

  std::string folder_;
  std::string version_;
  std::string caseSource_;
  ResultsLayout layout_;
  bool begun_ = false;
  // series.csv first, then one file per per-node variable in the layout's order.
  std::vector<std::FILE*> files_;
};

}  // namespace aerosol
