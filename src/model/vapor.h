#pragma once
// The condensing vapour shared by the parts that use it (nucleation, growth): its material,
// its monomer, whether it is depleted or held, and its saturation state at a gas state.
// Node 1 of the number concentrations holds its monomers.

#include "nucleation/nucleation.h"
#include "properties/gas_history.h"
#include "properties/material.h"

namespace aerosol {

class Vapor {
 public:
  Vapor(const MaterialProperties& material, double monomerVolume, bool depleted)
      : material_(material),
        monomer_(computeMonomerProperties(material.density, monomerVolume)),
        depleted_(depleted) {}

  const MaterialProperties& material() const { return material_; }
  const MonomerProperties& monomer() const { return monomer_; }
  // Depleted: nucleation and condensation take monomers out; held: N1 stays as it started.
  bool depleted() const { return depleted_; }

  // The saturation state at the gas state with N1 monomers per m3 (and, with S > 1, the
  // nucleation rate and critical cluster). No monomers: S = 0 and nothing to nucleate (the
  // classical formulas take log S).
  NucleationState state(const GasState& gas, double monomerConcentration) const {
    if (monomerConcentration > 0.0)
      return computeNucleationState(material_, gas.pressure, monomer_, gas.temperature,
                                    monomerConcentration);
    NucleationState st;
    computeSaturation(material_, gas.pressure, gas.temperature, st);
    return st;
  }

 private:
  MaterialProperties material_;
  MonomerProperties monomer_;
  bool depleted_;
};

}  // namespace aerosol
