#include "output/results.h"

#include <cstdio>

namespace aerosol {

void ResultsLayout::addNodeCoordinate(ResultVariable variable, std::vector<double> values) {
  variable.perNode = true;
  coordinates_.push_back({std::move(variable), std::move(values)});
}

bool ResultsLayout::coordinatesComplete() const {
  for (const NodeCoordinate& c : coordinates_)
    if (c.values.size() != static_cast<std::size_t>(nodeCount)) return false;
  return nodeCount >= 1;
}

std::string ResultsLayout::nodeCoordinateNames() const {
  std::string names;
  for (const NodeCoordinate& c : coordinates_)
    names += (names.empty() ? "" : " ") + c.variable.name;
  return names;
}

void ResultsLayout::add(ResultVariable variable) {
  offsets_.push_back(count_);
  count_ += variable.perNode ? static_cast<std::size_t>(nodeCount) : 1;
  variables_.push_back(std::move(variable));
}

int ResultsLayout::find(std::string_view name) const {
  for (std::size_t i = 0; i < variables_.size(); ++i)
    if (variables_[i].name == name) return static_cast<int>(i);
  return -1;
}

namespace {

std::string formatTime(double time) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", time);
  return text;
}

}  // namespace

std::string describeRunEnd(const RunOutcome& outcome) {
  // The run's message may already be the whole sentence; otherwise it is the reason.
  const auto sentence = [&](const std::string& opening) {
    if (outcome.message.rfind(opening, 0) == 0) return outcome.message;
    std::string text = opening + " " + formatTime(outcome.timeReached) + " s";
    if (!outcome.message.empty()) text += ": " + outcome.message;
    return text;
  };
  switch (outcome.end) {
    case RunEnd::Complete:
      return "complete";
    case RunEnd::IntegratorFailure:
      return sentence("integrator failure at t =");
    case RunEnd::Interrupted:
      return outcome.message.rfind("interrupted at t =", 0) == 0
                 ? outcome.message
                 : "interrupted at t = " + formatTime(outcome.timeReached) + " s";
    case RunEnd::WriteFailure:
      return sentence("write failure at t =");
  }
  return "unknown";
}

std::vector<std::pair<std::string, std::string>> globalTextAttributes(
    const SimulationCase& simulationCase, const std::string& version) {
  return {
      {"Conventions", "CF-1.10"},
      {"title", "aerosol simulate: nodal size distribution"},
      {"source", "aerosol " + version +
                     " simulate: nodal (sectional) model integrated by SUNDIALS CVODE (BDF)"},
      {"program_version", version},
      {"case_source", simulationCase.source},
      {"case", simulationCase.sourceText},
  };
}

}  // namespace aerosol
