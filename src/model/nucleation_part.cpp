#include "model/nucleation_part.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "properties/aggregates.h"

namespace aerosol {

NucleationPart::NucleationPart(const StateLayout& layout, const Vapor& vapor,
                               const NodeGrid& grid, double margin, int areaId)
    : layout_(layout),
      vapor_(vapor),
      grid_(grid),
      n_(layout.nodeCount()),
      margin_(margin),
      areaId_(areaId),
      xi_(static_cast<std::size_t>(grid.capacity), 0.0) {}

std::vector<int> NucleationPart::writes() const {
  std::vector<int> w;
  if (vapor_.depleted()) w.push_back(0);
  for (int k = 2; k <= n_; ++k) w.push_back(k - 1);
  return w;
}

int NucleationPart::placementOf(const ModelPoint& point, const double* y) {
  const NucleationState st = vapor_.state(point.gas, y[0]);
  if (!(st.saturationRatio > 1.0)) return kNoSaturation;
  computeNucleationFractions(grid_.volume, n_, st.criticalVolume, xi_);
  for (int k = 2; k <= n_; ++k)
    if (xi_[static_cast<std::size_t>(k)] != 0.0) return k;
  return n_ + 1;
}

double NucleationPart::rate(const ModelPoint& point, const double* y) {
  const int placement = placementOf(point, y);
  if (placement < 2 || placement > n_) return 0.0;
  return vapor_.state(point.gas, y[0]).nucleationRate;
}

void NucleationPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  const NucleationState st = vapor_.state(point.gas, y[0]);
  if (!(st.saturationRatio > 1.0)) return;
  const int node = placementOf(point, y);
  const int placement = holding_ ? held_ : node;
  if (placement < 2 || placement > n_) return;
  const std::vector<double>& v = grid_.volume;
  const double J = st.nucleationRate;
  // The held node takes the clusters with the fraction that keeps their volume, as the
  // placement operator forms it for its own node.
  const double xi = placement == node ? xi_[static_cast<std::size_t>(placement)]
                                      : st.criticalVolume / v[static_cast<std::size_t>(placement)];
  ydot[placement - 1] += xi * J;
  if (areaId_ >= 0) ydot[layout_.at(areaId_, placement)] += xi * J * sphereArea(v[placement]);
  if (vapor_.depleted()) ydot[0] = ydot[0] - J * st.criticalSize;
}

void NucleationPart::addJacobian(const ModelPoint& point, const double* y,
                                 JacobianColumns columns) {
  // The rates depend on N1 alone (and the gas): one column, by a difference quotient.
  const double root = std::sqrt(std::numeric_limits<double>::epsilon());
  quotients_.addColumns(
      layout_.size(), y, {0},
      [&](const double* state, double* out) { addRates(point, state, out); },
      [&](int, double value) { return root * std::max(std::fabs(value), 1.0); }, columns);
}

void NucleationPart::roots(const ModelPoint& point, const double* y, double* g) {
  g[0] = 1.0;
  g[1] = 1.0;
  if (!holding_) return;
  const NucleationState st = vapor_.state(point.gas, y[0]);
  const double S = y[0] > 0.0 ? st.saturationRatio : 0.0;
  const std::vector<double>& v = grid_.volume;
  const int k = held_;
  if (k == kNoSaturation) {
    g[0] = S - 1.0;  // saturation reached
    return;
  }
  // v* grows without bound as S falls to 1: a state below saturation lies above every node.
  const bool above = !(S > 1.0);
  const double lnV = above ? 0.0 : std::log(st.criticalVolume);
  const auto lnNode = [&v](int node) { return std::log(v[static_cast<std::size_t>(node)]); };
  if (k == n_ + 1) {
    g[0] = S - 1.0;                                        // S falls to 1
    g[1] = above ? 1.0 : lnV - lnNode(n_) + lowMargin();  // v* below v_n
    return;
  }
  g[0] = above ? 1.0 : lnV - lnNode(k) - highMargin();                 // v* above v_k
  if (k >= 3) g[1] = above ? 1.0 : lnV - lnNode(k - 1) + lowMargin();  // v* below v_{k-1}
}

bool NucleationPart::withinHeldRange(const NucleationState& st) const {
  const int k = held_;
  if (!(st.saturationRatio > 1.0) || k < 2 || k > n_ + 1) return false;
  const std::vector<double>& v = grid_.volume;
  const double lnV = std::log(st.criticalVolume);
  const double low = std::log(v[static_cast<std::size_t>(k - 1)]) - lowMargin();
  if (k == n_ + 1) return lnV >= low;
  const double high = std::log(v[static_cast<std::size_t>(k)]) + highMargin();
  return (k == 2 || lnV >= low) && lnV < high;
}

int NucleationPart::placementAcross(int which, int direction) const {
  const int k = held_;
  if (k == kNoSaturation) return direction > 0 ? n_ + 1 : k;
  if (k == n_ + 1) {
    if (which == 0) return direction < 0 ? kNoSaturation : k;
    return direction < 0 ? n_ : k;
  }
  if (which == 0) return direction > 0 ? k + 1 : k;
  return direction < 0 && k >= 3 ? k - 1 : k;
}

bool NucleationPart::holdBranch(const ModelPoint& point, const double* y, const int* found) {
  int placement = placementOf(point, y);
  // Within the margin of the held node's range the branch stays.
  if (holding_ && placement != held_ && withinHeldRange(vapor_.state(point.gas, y[0])))
    placement = held_;
  if (holding_ && found != nullptr && placement == held_) {
    // Exactly on the node volume: across it in the direction the root function went.
    const int which = found[0] != 0 ? 0 : (found[1] != 0 ? 1 : -1);
    if (which >= 0) placement = placementAcross(which, found[which]);
  }
  const bool changed = !holding_ || placement != held_;
  // A move by one node is a crossing of the boundary between them; the margin guards it.
  const bool nodes = held_ >= 2 && placement >= 2;
  enteredFrom_ = !changed ? enteredFrom_
                 : nodes && placement == held_ - 1 ? 1
                 : nodes && placement == held_ + 1 ? -1
                                                   : 0;
  held_ = placement;
  holding_ = true;
  return changed;
}

}  // namespace aerosol
