#pragma once
// A first-order loss of state entries into a running tally, shared by dilution and the walls:
// entry e goes at k_e y_e per second, and the tally's number (particles only) and volume (of
// the condensed species: particles, vapour monomers, precursor molecules as one monomer each)
// grow by what goes, so that what is lost plus what is left is what there was. The rates are
// linear in y: the Jacobian block is exact.

#include <vector>

#include "model/mechanism.h"

namespace aerosol {

struct LossTarget {
  int entry;        // index in y
  double volume;    // m3 of the condensed species per unit lost
  bool particle;    // counted in the number lost
  double diameter;  // m, of a particle (or molecule) of the entry
};

class FirstOrderLoss {
 public:
  // `lostNumber` and `lostVolume`: the tally's entries in y.
  FirstOrderLoss(std::vector<LossTarget> targets, int lostNumber, int lostVolume);

  const std::vector<LossTarget>& targets() const { return targets_; }
  // The entries lost from, and those with the tally.
  std::vector<int> entries() const;
  std::vector<int> written() const;
  // rate[i]: the loss rate (1/s) of target i.
  void addRates(const double* rate, const double* y, double* ydot) const;
  void addJacobian(const double* rate, JacobianColumns columns) const;

 private:
  std::vector<LossTarget> targets_;
  int lostNumber_;
  int lostVolume_;
};

}  // namespace aerosol
