#include "output/csv_sink.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace aerosol {

namespace {

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
  for (std::FILE* f : files_)
    if (f != nullptr) std::fclose(f);
}

std::string CsvSink::file(const std::string& name) const {
  return (std::filesystem::path(folder_) / name).string();
}

// Pushes every CSV file's rows out to the system; false, with the reason, when one failed.
bool CsvSink::flushAll(std::string& message) {
  for (std::FILE* f : files_)
    if (std::fflush(f) != 0 || std::ferror(f)) {
      message = "could not write the CSV files in " + folder_ + ": " + systemReason();
      return false;
    }
  return true;
}

bool CsvSink::writeRunFile(const std::string& runEnd, std::string& message) {
  std::string text = "attribute,value\n";
  text += "program_version," + csvField(version_) + "\n";
  text += "case_source," + csvField(caseSource_) + "\n";
  text += "first_particle_node," + std::to_string(layout_.firstParticleNode) + "\n";
  text += "run_end," + csvField(runEnd) + "\n";
  return replaceFile(file("run.csv"), text, message);
}

bool CsvSink::begin(const SimulationCase& simulationCase, const ResultsLayout& layout,
                    std::string& message) {
  const auto n = static_cast<std::size_t>(layout.nodeCount);
  if (!layout.coordinatesComplete()) {
    message = "internal error: the output grid's arrays do not match its node count";
    return false;
  }
  caseSource_ = simulationCase.source;
  layout_ = layout;
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error || !std::filesystem::is_directory(folder_)) {
    message = "could not create the folder " + folder_ + ": " +
              (error ? error.message() : "a file of that name is in the way");
    return false;
  }
  begun_ = true;
  if (!writeRunFile("running", message)) return false;
  if (!replaceFile(file("case.toml"), simulationCase.sourceText, message)) return false;

  std::string nodes = layout.node.name + " [" + layout.node.units + "]";
  for (const NodeCoordinate& c : layout.nodeCoordinates())
    nodes += "," + c.variable.name + " [" + c.variable.units + "]";
  nodes += "\n";
  char number[40];
  for (std::size_t k = 0; k < n; ++k) {
    nodes += std::to_string(k + 1);
    for (const NodeCoordinate& c : layout.nodeCoordinates()) {
      std::snprintf(number, sizeof number, ",%.17g", c.values[k]);
      nodes += number;
    }
    nodes += "\n";
  }
  if (!replaceFile(file("nodes.csv"), nodes, message)) return false;

  std::FILE* series = createFile(file("series.csv"), message);
  if (series == nullptr) return false;
  files_.push_back(series);
  const std::string timeTitle = layout.time.name + " [" + layout.time.units + "]";
  std::fputs(timeTitle.c_str(), series);
  for (const ResultVariable& v : layout.variables())
    if (!v.perNode) std::fprintf(series, ",%s [%s]", v.name.c_str(), v.units.c_str());
  for (const CountVariable& count : kOutputCounts) std::fprintf(series, ",%s [1]", count.name);
  std::fputc('\n', series);
  for (const ResultVariable& v : layout.variables()) {
    if (!v.perNode) continue;
    std::FILE* f = createFile(file(v.name + ".csv"), message);
    if (f == nullptr) return false;
    files_.push_back(f);
    std::fputs(timeTitle.c_str(), f);
    for (std::size_t k = 1; k <= n; ++k) std::fprintf(f, ",node_%zu [%s]", k, v.units.c_str());
    std::fputc('\n', f);
  }
  return flushAll(message);
}

bool CsvSink::write(const OutputSample& sample, std::string& message) {
  if (files_.empty()) {
    message = "internal error: the CSV files in " + folder_ + " are not open";
    return false;
  }
  if (sample.values.size() != layout_.valueCount()) {
    message = "internal error: a sample's values do not match the output layout";
    return false;
  }
  errno = 0;
  std::FILE* series = files_.front();
  putNumber(series, sample.time);
  std::size_t next = 1;
  for (std::size_t i = 0; i < layout_.variables().size(); ++i) {
    const double* values = sample.values.data() + layout_.offset(i);
    if (!layout_.variables()[i].perNode) {
      std::fputc(',', series);
      putNumber(series, *values);
      continue;
    }
    std::FILE* f = files_[next++];
    putNumber(f, sample.time);
    for (std::size_t k = 0; k < layout_.width(i); ++k) {
      std::fputc(',', f);
      putNumber(f, values[k]);
    }
    std::fputc('\n', f);
  }
  for (const CountVariable& count : kOutputCounts)
    std::fprintf(series, ",%ld", sample.counts.*count.field);
  std::fputc('\n', series);
  return flushAll(message);
}

bool CsvSink::finish(const RunOutcome& outcome, std::string& message) {
  bool ok = true;
  errno = 0;
  for (std::FILE*& f : files_) {
    if (f == nullptr) continue;
    if (std::fflush(f) != 0 || std::ferror(f)) ok = false;
    if (std::fclose(f) != 0) ok = false;
    f = nullptr;
  }
  files_.clear();
  if (!ok) {
    message = "could not write the CSV files in " + folder_ + ": " + systemReason();
    return false;
  }
  if (!begun_) return true;  // begin never got as far as the folder
  return writeRunFile(describeRunEnd(outcome), message);
}

}  // namespace aerosol
