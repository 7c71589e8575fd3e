#pragma once
// A gas-phase precursor that reacts at first order, k(T) = A exp(-Ta / T): it is consumed at
// k C_p, and each molecule that reacts puts one monomer into node 1 (the vapour's monomers,
// or stable particles of monomer size). Its Jacobian block is exact: the rate is linear in
// C_p.

#include <vector>

#include "model/mechanism.h"
#include "properties/reactor.h"

namespace aerosol {

class PrecursorPart final : public MechanismPart {
 public:
  // `precursor`: its entry in y; `product`: node 1's. Particles of aggregates also bring their
  // (sphere's) area `productArea` m2 each into the entry `area` (-1: none).
  PrecursorPart(const PrecursorProperties& properties, int precursor, int product, int area = -1,
                double productArea = 0.0);

  const char* name() const override { return "precursor"; }
  std::vector<int> reads() const override { return {precursor_}; }
  std::vector<int> writes() const override {
    return area_ >= 0 ? std::vector<int>{precursor_, product_, area_}
                      : std::vector<int>{precursor_, product_};
  }
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

 private:
  PrecursorProperties properties_;
  int precursor_;
  int product_;
  int area_;
  double productArea_;
};

}  // namespace aerosol
