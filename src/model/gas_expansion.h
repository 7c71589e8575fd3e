#pragma once
// The gas that carries the aerosol as a flow at the history's pressure: its density follows
// P/T, and every concentration with it, dN/dt = N d ln(P/T)/dt + (the parts' rates).
//
// The model integrates the amounts per m3 of gas at the starting density, z = N / (rho/rho0),
// and hands the parts the concentrations N = (rho/rho0) z: then dz/dt = (the parts' rates) /
// (rho/rho0), which is the equation above for N, and the Jacobian in z is the parts' own in
// N. The expansion itself is exact (N T/P of a species nothing else touches stays constant to
// the last bits), needs no derivative of the history (a table's corners would make the rate
// jump), and a volume that the parts conserve stays conserved in z as the integrator keeps
// any linear invariant.

#include <vector>

#include "properties/gas_history.h"
#include "properties/reactor.h"

namespace aerosol {

class GasExpansion {
 public:
  // `start`: the gas at t = 0; `size`: the state's.
  GasExpansion(const GasState& start, int size) : start_(start), scaled_(size, 0.0) {}

  // rho / rho0 at the gas state.
  double ratio(const GasState& gas) const { return gasDensityRatio(gas, start_); }
  // The concentrations of the amounts z at density ratio s, s z (kept here until the next
  // call).
  const double* concentrations(double ratio, const double* amounts) {
    for (std::size_t i = 0; i < scaled_.size(); ++i) scaled_[i] = ratio * amounts[i];
    return scaled_.data();
  }

 private:
  GasState start_;
  std::vector<double> scaled_;
};

}  // namespace aerosol
