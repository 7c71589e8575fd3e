#pragma once
// The results of a simulate run as CSV files in a folder, the same data as the NetCDF file:
//   nodes.csv          node, volume [m3], diameter [m]
//   series.csv         one row per output time: time and every scalar figure, counts
//   concentration.csv  one row per output time: time, then the concentration of each node
//   run.csv            attribute,value: program version, case source, how the run ended
//   case.toml          the case's text
// Numbers carry 17 significant digits (they read back to the same doubles); every header
// names its unit in brackets. Rows are flushed as they are written, so a run that stops
// early leaves the times it reached.

#include <cstdio>
#include <string>

#include "simulate/simulation.h"

namespace aerosol {

class CsvSink : public ResultsSink {
 public:
  // `folder` is created if missing; files in it with the names above are replaced.
  CsvSink(std::string folder, std::string version);
  ~CsvSink() override;
  CsvSink(const CsvSink&) = delete;
  CsvSink& operator=(const CsvSink&) = delete;

  bool begin(const SimulationCase& simulationCase, const OutputGrid& grid,
             std::string& message) override;
  bool write(const OutputSample& sample, std::string& message) override;
  bool finish(const RunOutcome& outcome, std::string& message) override;

 private:
  bool writeRunFile(const std::string& runEnd, std::string& message);
  std::string file(const char* name) const;

  std::string folder_;
  std::string version_;
  std::string caseSource_;
  int firstParticleNode_ = 1;
  int nodeCount_ = 0;
  std::FILE* series_ = nullptr;
  std::FILE* concentration_ = nullptr;
};

}  // namespace aerosol
