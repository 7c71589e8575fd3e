#include "model/state_layout.h"

#include <utility>

namespace aerosol {

int StateLayout::addNodeVariable(StateVariable variable) {
  perNode_.push_back(std::move(variable));
  return static_cast<int>(perNode_.size()) - 1;
}

int StateLayout::addScalar(StateVariable variable) {
  scalars_.push_back(std::move(variable));
  return static_cast<int>(scalars_.size()) - 1;
}

namespace {

int findIn(const std::vector<StateVariable>& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].name == name) return static_cast<int>(i);
  return -1;
}

}  // namespace

int StateLayout::findNodeVariable(std::string_view name) const { return findIn(perNode_, name); }

int StateLayout::findScalar(std::string_view name) const { return findIn(scalars_, name); }

std::vector<double> StateLayout::absoluteTolerances() const {
  std::vector<double> tolerances;
  tolerances.reserve(static_cast<std::size_t>(size()));
  for (const StateVariable& v : perNode_)
    tolerances.insert(tolerances.end(), static_cast<std::size_t>(nodeCount_),
                      v.absoluteTolerance);
  for (const StateVariable& v : scalars_) tolerances.push_back(v.absoluteTolerance);
  return tolerances;
}

std::vector<double> StateLayout::constraints() const {
  std::vector<double> c;
  c.reserve(static_cast<std::size_t>(size()));
  for (const StateVariable& v : perNode_)
    c.insert(c.end(), static_cast<std::size_t>(nodeCount_), v.nonNegative ? 1.0 : 0.0);
  for (const StateVariable& v : scalars_) c.push_back(v.nonNegative ? 1.0 : 0.0);
  return c;
}

}  // namespace aerosol
