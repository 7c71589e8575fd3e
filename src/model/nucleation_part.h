#pragma once
// Homogeneous nucleation of the vapour: critical clusters appear at the rate J and go whole
// into the node just above their volume v* (xi_k J new particles of node k, volume kept),
// using J k* monomers when the vapour is depleted. Only above saturation (below it the
// classical formulas give a negative critical size) and only while a node takes the clusters
// (a cluster above the top node would use monomers without adding particles).
//
// The rate jumps where v* crosses a node volume: the part holds the node that takes the
// clusters between crossings, found as roots, so the integrator sees smooth rates. A crossing
// back over the boundary just crossed must take v* a margin beyond it (in ln v): the state
// the method restarts from lies on that boundary, and the errors of its first steps, of the
// order of the tolerance, would otherwise take it back across at once and hide the next
// crossing for many steps. The boundary ahead has no margin: clusters go to the new node
// from the crossing on.

#include <vector>

#include "coagulation/node_grid.h"
#include "model/mechanism.h"
#include "model/state_layout.h"
#include "model/vapor.h"

namespace aerosol {

class NucleationPart final : public MechanismPart {
 public:
  // `margin`: how far past the boundary just crossed, in ln v, a crossing back must go (the
  // run's relative tolerance times ten is ample).
  // `areaId`: the layout's surface area of aggregates (new clusters are spheres), or -1.
  NucleationPart(const StateLayout& layout, const Vapor& vapor, const NodeGrid& grid,
                 double margin, int areaId = -1);

  const char* name() const override { return "nucleation"; }
  std::vector<int> reads() const override { return {0}; }
  std::vector<int> writes() const override;
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

  // A placement is the node k = 2..n that takes the clusters, kNoSaturation (S <= 1, no
  // nucleation) or n + 1 (v* at or above the top node: none).
  static constexpr int kNoSaturation = 0;
  int rootCount() const override { return 2; }
  void roots(const ModelPoint& point, const double* y, double* g) override;
  bool holdBranch(const ModelPoint& point, const double* y, const int* found) override;

  // The placement the state itself gives, and the one held.
  int placementOf(const ModelPoint& point, const double* y);
  int heldPlacement() const { return held_; }
  // The nucleation rate that adds particles at this state (0 without a node to take them).
  double rate(const ModelPoint& point, const double* y);

 private:
  // The placement beyond the held one when root `which` changed sign in `direction`.
  int placementAcross(int which, int direction) const;
  // Whether v* (S > 1) lies within the held node's range, widened by the margin on the side
  // it was entered from.
  bool withinHeldRange(const NucleationState& state) const;
  double lowMargin() const { return enteredFrom_ < 0 ? margin_ : 0.0; }
  double highMargin() const { return enteredFrom_ > 0 ? margin_ : 0.0; }

  const StateLayout& layout_;
  const Vapor& vapor_;
  const NodeGrid& grid_;
  int n_;
  double margin_;
  int areaId_;
  int held_ = kNoSaturation;
  int enteredFrom_ = 0;  // +1 across its upper boundary (v* fell), -1 its lower, 0 otherwise
  bool holding_ = false;  // false until a branch is held: follow the state
  std::vector<double> xi_;
  DifferenceQuotients quotients_;
};

}  // namespace aerosol
