#include "simulate/csv_sink.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "simulate/netcdf_sink.h"

namespace aerosol {

namespace {

// A column of series.csv: its header and the member it shows.
template <class Owner, class Value>
struct Column {
  const char* header;
  Value Owner::*field;
};

// The scalar columns of series.csv, as in the NetCDF file.
constexpr Column<OutputSample, double> kSeriesColumns[] = {
    {"temperature [K]", &OutputSample::temperature},
    {"pressure [atm]", &OutputSample::pressure},
    {"monomer_concentration [m-3]", &OutputSample::monomerConcentration},
    {"saturation_ratio [1]", &OutputSample::saturationRatio},
    {"nucleation_rate [m-3 s-1]", &OutputSample::nucleationRate},
    {"critical_diameter [m]", &OutputSample::criticalDiameter},
    {"total_number [m-3]", &OutputSample::totalNumber},
    {"particle_volume [m3 m-3]", &OutputSample::particleVolume},
    {"total_volume [m3 m-3]", &OutputSample::totalVolume},
    {"mean_diameter [m]", &OutputSample::meanDiameter},
    {"geometric_std [1]", &OutputSample::geometricStd},
};

constexpr Column<IntegratorCounts, long> kCountColumns[] = {
    {"steps [1]", &IntegratorCounts::steps},
    {"rhs_evaluations [1]", &IntegratorCounts::rhsEvaluations},
    {"jacobian_evaluations [1]", &IntegratorCounts::jacobianEvaluations},
    {"error_test_failures [1]", &IntegratorCounts::errorTestFailures},
    {"convergence_failures [1]", &IntegratorCounts::convergenceFailures},
};

// 17 significant digits: every double reads back to itself. NaN as "nan" whatever its sign.
void putNumber(std::FILE* file, double value) {
  if (std::isnan(value))
    std::fputs("nan", file);
  else
    std::fprintf(file, "%.17g", value);
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string result = "\"";
  for (char c : text) {
    if (c == '"') result += '"';
    result += c;
  }
  return result + "\"";
}

std::string systemReason() {
  return errno != 0 ? std::strerror(errno) : "write error";
}

// Opens `path` for writing; null, with the reason in `message`, when it cannot.
std::FILE* createFile(const std::string& path, std::string& message) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) message = "could not create " + path + ": " + systemReason();
  return file;
}

// Pushes the two CSV files' rows out to the system; false, with the reason in `message`,
// when either has failed.
bool flushBoth(std::FILE* series, std::FILE* concentration, const std::string& folder,
               std::string& message) {
  if (std::fflush(series) != 0 || std::ferror(series) || std::fflush(concentration) != 0 ||
      std::ferror(concentration)) {
    message = "could not write the CSV files in " + folder + ": " + systemReason();
    return false;
  }
  return true;
}

// Writes `text` to `path` through a temporary file renamed over it: the file is either the
// old one or the new one, never half written.
bool replaceFile(const std::string& path, const std::string& text, std::string& message) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = createFile(temporary, message);
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                       std::fflush(file) == 0 && !std::ferror(file);
  const std::string reason = systemReason();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    message = "could not write " + temporary + ": " + (written ? systemReason() : reason);
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    message = "could not replace " + path + ": " + systemReason();
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

CsvSink::CsvSink(std::string folder, std::string version)
    : folder_(std::move(folder)), version_(std::move(version)) {}

CsvSink::~CsvSink() {
  if (series_ != nullptr) std::fclose(series_);
  if (concentration_ != nullptr) std::fclose(concentration_);
}

std::string CsvSink::file(const char* name) const {
  return (std::filesystem::path(folder_) / name).string();
}

bool CsvSink::writeRunFile(const std::string& runEnd, std::string& message) {
  std::string text = "attribute,value\n";
  text += "program_version," + csvField(version_) + "\n";
  text += "case_source," + csvField(caseSource_) + "\n";
  text += "first_particle_node," + std::to_string(firstParticleNode_) + "\n";
  text += "run_end," + csvField(runEnd) + "\n";
  return replaceFile(file("run.csv"), text, message);
}

bool CsvSink::begin(const SimulationCase& simulationCase, const OutputGrid& grid,
                    std::string& message) {
  if (grid.nodeCount < 1 || grid.volume.size() != static_cast<size_t>(grid.nodeCount) ||
      grid.diameter.size() != static_cast<size_t>(grid.nodeCount)) {
    message = "internal error: the output grid's arrays do not match its node count";
    return false;
  }
  caseSource_ = simulationCase.source;
  firstParticleNode_ = grid.nodeOneIsVapor ? 2 : 1;
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error || !std::filesystem::is_directory(folder_)) {
    message = "could not create the folder " + folder_ + ": " +
              (error ? error.message() : "a file of that name is in the way");
    return false;
  }
  nodeCount_ = grid.nodeCount;
  if (!writeRunFile("running", message)) return false;
  if (!replaceFile(file("case.toml"), simulationCase.sourceText, message)) return false;

  std::string nodes = "node [1],volume [m3],diameter [m]\n";
  char number[40];
  for (int k = 0; k < grid.nodeCount; ++k) {
    nodes += std::to_string(k + 1);
    std::snprintf(number, sizeof number, ",%.17g", grid.volume[k]);
    nodes += number;
    std::snprintf(number, sizeof number, ",%.17g\n", grid.diameter[k]);
    nodes += number;
  }
  if (!replaceFile(file("nodes.csv"), nodes, message)) return false;

  series_ = createFile(file("series.csv"), message);
  if (series_ == nullptr) return false;
  concentration_ = createFile(file("concentration.csv"), message);
  if (concentration_ == nullptr) return false;
  std::fputs("time [s]", series_);
  for (const auto& column : kSeriesColumns) std::fprintf(series_, ",%s", column.header);
  for (const auto& column : kCountColumns) std::fprintf(series_, ",%s", column.header);
  std::fputc('\n', series_);
  std::fputs("time [s]", concentration_);
  for (int k = 1; k <= grid.nodeCount; ++k) std::fprintf(concentration_, ",node_%d [m-3]", k);
  std::fputc('\n', concentration_);
  return flushBoth(series_, concentration_, folder_, message);
}

bool CsvSink::write(const OutputSample& sample, std::string& message) {
  if (series_ == nullptr || concentration_ == nullptr) {
    message = "internal error: the CSV files in " + folder_ + " are not open";
    return false;
  }
  if (sample.concentration.size() != static_cast<size_t>(nodeCount_)) {
    message = "internal error: a sample's concentrations do not match the node count";
    return false;
  }
  errno = 0;
  putNumber(series_, sample.time);
  for (const auto& column : kSeriesColumns) {
    std::fputc(',', series_);
    putNumber(series_, sample.*column.field);
  }
  for (const auto& column : kCountColumns)
    std::fprintf(series_, ",%ld", sample.counts.*column.field);
  std::fputc('\n', series_);
  putNumber(concentration_, sample.time);
  for (double value : sample.concentration) {
    std::fputc(',', concentration_);
    putNumber(concentration_, value);
  }
  std::fputc('\n', concentration_);
  return flushBoth(series_, concentration_, folder_, message);
}

bool CsvSink::finish(const RunOutcome& outcome, std::string& message) {
  bool ok = true;
  errno = 0;
  for (std::FILE** stream : {&series_, &concentration_}) {
    if (*stream == nullptr) continue;
    if (std::fflush(*stream) != 0 || std::ferror(*stream)) ok = false;
    if (std::fclose(*stream) != 0) ok = false;
    *stream = nullptr;
  }
  if (!ok) {
    message = "could not write the CSV files in " + folder_ + ": " + systemReason();
    return false;
  }
  if (nodeCount_ == 0) return true;  // begin never got as far as the folder
  return writeRunFile(describeRunEnd(outcome), message);
}

}  // namespace aerosol
