#pragma once
// The named state of the model: which variables each node carries and which scalars the state
// holds, with names, units and offsets. The integrator (sizes, absolute tolerances), the
// output (variable names and units) and the mechanism parts (where to read and write) all ask
// the layout instead of assuming an order.
//
// y holds the per-node variables first, each as a block of n values (node k at offset + k - 1),
// then the scalars, one value each.

#include <string>
#include <string_view>
#include <vector>

namespace aerosol {

struct StateVariable {
  std::string name;            // as in the outputs, e.g. "concentration"
  std::string units;           // e.g. "m-3"
  std::string longName;
  double absoluteTolerance;    // in its units
  // The integrator keeps it >= 0; a variable that no rate reads may be left free (its
  // rounding may then dip below 0, and its outputs are clipped).
  bool nonNegative = true;
};

class StateLayout {
 public:
  explicit StateLayout(int nodeCount = 0) : nodeCount_(nodeCount) {}

  // Adds a variable; returns its id among the per-node variables or among the scalars.
  int addNodeVariable(StateVariable variable);
  int addScalar(StateVariable variable);

  int nodeCount() const { return nodeCount_; }
  int size() const {
    return nodeCount_ * static_cast<int>(perNode_.size()) + static_cast<int>(scalars_.size());
  }
  const std::vector<StateVariable>& nodeVariables() const { return perNode_; }
  const std::vector<StateVariable>& scalars() const { return scalars_; }

  // Where node k (1..n) of per-node variable `id` sits in y.
  int at(int id, int node) const { return id * nodeCount_ + node - 1; }
  // Where scalar `id` sits in y.
  int scalar(int id) const { return nodeCount_ * static_cast<int>(perNode_.size()) + id; }
  // The id of the per-node variable or scalar of that name; -1 when there is none.
  int findNodeVariable(std::string_view name) const;
  int findScalar(std::string_view name) const;

  // The absolute tolerance of every entry of y, in y's order.
  std::vector<double> absoluteTolerances() const;
  // 1 where the entry of y is kept >= 0, 0 where it is free (CVODE's constraints).
  std::vector<double> constraints() const;

 private:
  int nodeCount_;
  std::vector<StateVariable> perNode_;
  std::vector<StateVariable> scalars_;
};

}  // namespace aerosol
