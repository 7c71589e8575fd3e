#pragma once
// Reactor conditions of a simulate case: the gas that carries the aerosol expands or contracts
// with its temperature and pressure, mixes with clean gas (dilution) and loses what reaches
// the walls; a gas-phase precursor reacts to the condensing species. Records and the few
// formulas of their own; the rates they drive are the model's parts (src/model).

#include <cmath>
#include <vector>

#include "properties/gas_history.h"

namespace aerosol {

struct RatePoint {
  double time = 0.0;  // s
  double rate = 0.0;  // 1/s
};

// A first-order rate (1/s): a constant, or a table of times interpolated linearly and held
// before its first row and after its last.
struct RateHistory {
  double constant = 0.0;         // 1/s, used when the table is empty
  std::vector<RatePoint> table;  // times increasing

  double at(double time) const;
  // Whether the rate is 0 at every time.
  bool isZero() const;
};

struct ReactorConditions {
  // Concentrations follow the gas density P/T (a flow at the history's pressure); false: a
  // closed, rigid volume, as the input-file processes assume.
  bool expansion = false;
  RateHistory dilution;       // 1/s, mixing with particle- and vapour-free gas
  double tubeDiameter = 0.0;  // m; 0: no tube (no diffusion to its wall)
  double wallLossRate = 0.0;  // 1/s, size-independent

  bool hasDilution() const { return !dilution.isZero(); }
  bool hasWalls() const { return tubeDiameter > 0.0 || wallLossRate > 0.0; }
};

// What a reacting precursor molecule gives: one monomer of the vapour, or one stable particle
// of monomer size (no vapour, no nucleation barrier).
enum class PrecursorProduct { Vapor, Particles };

struct PrecursorProperties {
  bool present = false;
  double concentration = 0.0;          // molecules/m3 at t = 0
  double rateA = 0.0;                  // 1/s, Arrhenius prefactor
  double activationTemperature = 0.0;  // K, E/R
  PrecursorProduct product = PrecursorProduct::Vapor;

  // First-order rate constant k = A exp(-Ta / T), 1/s.
  double rateConstant(double temperature) const {
    return rateA * std::exp(-activationTemperature / temperature);
  }
};

// Density of an ideal gas at `now` relative to `start`: (P / P0) (T0 / T).
inline double gasDensityRatio(const GasState& now, const GasState& start) {
  return (now.pressure / start.pressure) * (start.temperature / now.temperature);
}

}  // namespace aerosol
