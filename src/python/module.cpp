// The compiled half of the Python module `aerosol`: case reading and one simulate run whose
// samples are kept in memory. The pure-Python half (python/aerosol) turns the arrays into an
// xarray Dataset laid out as the NetCDF file is, from the same results layout.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <toml++/toml.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "case/case.h"
#include "integrator/simulation.h"
#include "output/results.h"

#ifndef AEROSOL_VERSION
#define AEROSOL_VERSION "unknown"
#endif

namespace py = pybind11;

namespace aerosol {
namespace {

// Every sample of a run, column by column. A sample that cannot be stored (memory) ends the
// run as a write failure, keeping the times stored before it.
class MemorySink : public ResultsSink {
 public:
  bool begin(const SimulationCase&, const ResultsLayout& layout, std::string& message) override {
    if (!layout.coordinatesComplete()) {
      message = "internal error: the output grid's arrays do not match its node count";
      return false;
    }
    layout_ = layout;
    values_.assign(layout.variables().size(), {});
    began_ = true;
    return true;
  }

  bool write(const OutputSample& sample, std::string& message) override {
    if (sample.values.size() != layout_.valueCount()) {
      message = "internal error: a sample's values do not match the output layout";
      return false;
    }
    try {
      time_.push_back(sample.time);
      for (size_t i = 0; i < values_.size(); ++i) {
        const auto first = sample.values.begin() + static_cast<std::ptrdiff_t>(layout_.offset(i));
        values_[i].insert(values_[i].end(), first,
                          first + static_cast<std::ptrdiff_t>(layout_.width(i)));
      }
      for (size_t i = 0; i < std::size(kOutputCounts); ++i)
        counts_[i].push_back(storedCount(sample.counts.*kOutputCounts[i].field));
    } catch (const std::bad_alloc&) {
      truncate();
      message = "out of memory for the results";
      return false;
    }
    ++records_;
    return true;
  }

  bool finish(const RunOutcome&, std::string&) override { return true; }

  // The arrays and the attributes, in the NetCDF file's order (GIL held).
  py::dict results(const SimulationCase& simulationCase) const {
    py::dict out;
    const size_t n = static_cast<size_t>(layout_.nodeCount);
    const size_t records = static_cast<size_t>(records_);
    // (name, dims, attributes, values, coordinate): the attributes as xarray decodes the
    // NetCDF file's (its _FillValue and coordinates attributes become encoding, not attrs).
    py::list variables;
    const auto add = [&](const ResultVariable& v, py::tuple dims, py::object values,
                         bool coordinate) {
      py::dict attributes;
      attributes["units"] = v.units;
      attributes["long_name"] = v.longName;
      if (!v.standardName.empty()) attributes["standard_name"] = v.standardName;
      variables.append(py::make_tuple(v.name, dims, attributes, values, coordinate));
    };
    std::vector<int> nodes(n);
    for (size_t k = 0; k < n; ++k) nodes[k] = static_cast<int>(k + 1);
    add(layout_.time, py::make_tuple("time"), array(time_, {records}), true);
    add(layout_.node, py::make_tuple("node"), array(nodes, {n}), true);
    for (const NodeCoordinate& c : layout_.nodeCoordinates())
      add(c.variable, py::make_tuple("node"), array(c.values, {n}), true);
    for (size_t i = 0; i < values_.size(); ++i) {
      const ResultVariable& v = layout_.variables()[i];
      if (v.perNode)
        add(v, py::make_tuple("time", "node"), array(values_[i], {records, n}), false);
      else
        add(v, py::make_tuple("time"), array(values_[i], {records}), false);
    }
    for (size_t i = 0; i < std::size(kOutputCounts); ++i)
      add({kOutputCounts[i].name, "1", kOutputCounts[i].longName}, py::make_tuple("time"),
          array(counts_[i], {records}), false);
    out["variables"] = variables;

    py::list attributes;  // (name, value); run_end is added by the caller
    for (const auto& [name, text] : globalTextAttributes(simulationCase, AEROSOL_VERSION))
      attributes.append(py::make_tuple(name, text));
    // An int attribute of the file reads back as a 32-bit numpy integer.
    attributes.append(py::make_tuple(
        "first_particle_node",
        py::module_::import("numpy").attr("int32")(layout_.firstParticleNode)));
    out["attributes"] = attributes;
    return out;
  }

  bool began() const { return began_; }

 private:
  template <typename T>
  static py::array_t<T> array(const std::vector<T>& values, std::vector<size_t> shape) {
    py::array_t<T> result(std::vector<py::ssize_t>(shape.begin(), shape.end()));
    if (!values.empty())
      std::memcpy(result.mutable_data(), values.data(), values.size() * sizeof(T));
    return result;
  }

  void truncate() {
    const size_t records = static_cast<size_t>(records_);
    time_.resize(records);
    for (size_t i = 0; i < values_.size(); ++i) values_[i].resize(records * layout_.width(i));
    for (auto& c : counts_) c.resize(records);
  }

  ResultsLayout layout_;
  bool began_ = false;
  long records_ = 0;
  std::vector<double> time_;
  std::vector<std::vector<double>> values_;  // per variable of the layout
  std::vector<int> counts_[std::size(kOutputCounts)];
};

const char* endName(RunEnd end) {
  switch (end) {
    case RunEnd::Complete:
      return "complete";
    case RunEnd::IntegratorFailure:
      return "integrator failure";
    case RunEnd::Interrupted:
      return "interrupted";
    case RunEnd::WriteFailure:
      return "write failure";
  }
  return "unknown";
}

// A path as a message shows it: control characters escaped, a long one cut short.
std::string shownPath(const std::string& path) {
  constexpr size_t kShown = 60;
  std::string out;
  for (const char ch : path.substr(0, kShown)) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  if (path.size() > kShown) out += "... (" + std::to_string(path.size()) + " bytes)";
  return out;
}

// A path that no file can have, refused before the file system is asked (whose message would
// repeat the whole path, or stop at a NUL).
void checkPath(const std::string& path) {
  if (path.empty()) throw py::value_error("case path is empty; expected a case file or folder");
  if (path.find('\0') != std::string::npos)
    throw py::value_error("case path '" + shownPath(path) +
                          "' contains a NUL character, which no file name holds");
  size_t longest = 0;
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find('/', start), path.size());
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  if (path.size() >= PATH_MAX || longest > NAME_MAX)
    throw py::value_error("case path '" + shownPath(path) + "' is too long for a file name (" +
                          std::to_string(PATH_MAX - 1) + " bytes at most, " +
                          std::to_string(NAME_MAX) + " between two slashes)");
}

SimulationCase readCasePath(const std::string& path) {
  checkPath(path);
  SimulationCase result;
  std::string message;
  if (!readCase(path, result, message)) throw py::value_error(message);
  return result;
}

SimulationCase parseCase(const std::string& text, const std::string& source) {
  SimulationCase result;
  std::string message;
  if (!parseCaseText(text, source, result, message)) throw py::value_error(message);
  return result;
}

// The case with output and tolerance settings replaced: `options` is TOML text of [output] and
// [tolerances] keys, merged into the case's own text, which the case reader then reads again,
// so that the values are checked once, by the case file's rules. `keywords` names the
// keyword argument of each dotted key, for the message when one is refused.
SimulationCase withOptions(const SimulationCase& simulationCase, const std::string& options,
                           const py::dict& keywords) {
  toml::table doc;
  toml::table given;
  try {
    doc = toml::parse(caseToToml(simulationCase));
    given = toml::parse(options);
  } catch (const toml::parse_error& error) {
    throw py::value_error("keyword arguments: " + std::string(error.description()));
  }
  for (const auto& [table, keys] : given) {
    const toml::table* from = keys.as_table();
    if (from == nullptr) throw py::value_error("keyword arguments: not a table of settings");
    toml::table* into = doc[table.str()].as_table();
    if (into == nullptr)
      into = doc.insert_or_assign(table.str(), toml::table{}).first->second.as_table();
    for (const auto& [key, value] : *from)
      value.visit([&, &key = key](const auto& v) { into->insert_or_assign(key.str(), v); });
  }
  std::ostringstream text;
  text << doc;
  SimulationCase result;
  std::string message;
  if (!parseCaseText(text.str(), simulationCase.source, result, message)) {
    // "source:line: tolerances.relative = 2: expected ..." becomes "rtol = 2: expected ...".
    for (const auto& [key, keyword] : keywords) {
      const std::string dotted = py::str(key);
      const size_t at = message.find(dotted + " = ");
      if (at != std::string::npos)
        throw py::value_error(std::string(py::str(keyword)) + message.substr(at + dotted.size()) +
                              " (the case's " + dotted + ")");
    }
    throw py::value_error(message);
  }
  result.legacyProcess = simulationCase.legacyProcess;
  // The case attribute then holds the case as run.
  result.sourceText = caseToToml(result);
  return result;
}

// Integrates the case with the GIL released. Between internal steps, at most every 20 ms,
// the GIL is taken back to let Python run its signal handlers: an exception they raise
// (KeyboardInterrupt for Ctrl-C) stops the run as interrupted and is handed back, not raised,
// so that the caller can attach the times reached.
py::dict run(const SimulationCase& simulationCase) {
  MemorySink sink;
  RunOutcome outcome;
  py::object pending = py::none();
  {
    bool stop = false;
    auto last = std::chrono::steady_clock::now();
    RunControl control;
    control.stopRequested = [&] {
      if (stop) return true;
      const auto now = std::chrono::steady_clock::now();
      if (now - last < std::chrono::milliseconds(20)) return false;
      last = now;
      py::gil_scoped_acquire gil;
      if (PyErr_CheckSignals() != 0) {
        py::error_already_set raised;
        pending = raised.value();
        stop = true;
      }
      return stop;
    };
    py::gil_scoped_release released;
    outcome = runSimulation(simulationCase, sink, control);
  }
  py::dict result = sink.began() ? sink.results(simulationCase) : py::dict();
  py::dict end;
  end["end"] = endName(outcome.end);
  end["time_reached"] = outcome.timeReached;
  end["message"] = outcome.message;
  end["run_end"] = describeRunEnd(outcome);
  py::dict counts;
  for (const auto& variable : kOutputCounts)
    counts[variable.name] = outcome.counts.*variable.field;
  end["counts"] = counts;
  result["outcome"] = end;
  result["exception"] = pending;
  return result;
}

}  // namespace
}  // namespace aerosol

PYBIND11_MODULE(_aerosol, m) {
  using aerosol::SimulationCase;
  m.doc() = "The compiled core of the aerosol module; use the functions of `aerosol`.";
  m.attr("__version__") = AEROSOL_VERSION;

  py::class_<SimulationCase>(m, "Case", "A case read and checked, ready to run.")
      .def_readonly("source", &SimulationCase::source, "the file, folder or name it came from")
      .def_readonly("text", &SimulationCase::sourceText, "the case file's text")
      .def("to_toml", &aerosol::caseToToml, "The case as a TOML case file.");

  m.def("read_case", &aerosol::readCasePath, py::arg("path"),
        "Reads a TOML case file or a legacy run folder; ValueError with the command line's "
        "message when it is refused.");
  m.def("parse_case", &aerosol::parseCase, py::arg("text"), py::arg("source"),
        "Reads a case from TOML text; `source` names it in messages.");
  m.def("with_options", &aerosol::withOptions, py::arg("case"), py::arg("options"),
        py::arg("keywords"),
        "The case with [output] and [tolerances] keys (TOML text) replaced, checked by the "
        "case file's rules; ValueError naming the keyword argument when one is refused.");
  m.def(
      "case_warnings",
      [](const SimulationCase& c) {
        py::list warnings;
        for (const std::string& text : aerosol::caseWarnings(c)) warnings.append(text);
        return warnings;
      },
      py::arg("case"),
        "The warnings the command line prints before a run of the case, one line each.");
  m.def("run", &aerosol::run, py::arg("case"),
        "Integrates the case; returns the arrays, the attributes and the outcome.");
}
