#include "nucleation/nucleation.h"

#include <cmath>

#include "properties/constants.h"

namespace aerosol {

MonomerProperties computeMonomerProperties(double density, double v1) {
  MonomerProperties m;
  m.monomerArea = kPi * std::pow(6 * v1 / kPi, 0.66666666667);
  m.monomerMass = density * v1;
  m.monomerVolume = v1;
  return m;
}

double initialMonomerConcentration(const MaterialProperties& m, double P, double T0) {
  const double S0 = 1.001;
  const double Ps0 = std::exp(m.vaporPressureC - m.vaporPressureD / T0) *
                     m.vaporPressureFactorAt(P) * kPascalPerAtm;
  const double ns0 = Ps0 / (kBoltzmann * T0);
  return S0 * ns0;
}

void computeSaturation(const MaterialProperties& m, double P, double T, NucleationState& st) {
  st.surfaceTension = (m.surfaceTensionA - m.surfaceTensionB * T) * 0.001;
  st.saturationPressure = std::exp(m.vaporPressureC - m.vaporPressureD / T) *
                          m.vaporPressureFactorAt(P) * kPascalPerAtm;
  st.saturationConcentration = st.saturationPressure / (kBoltzmann * T);
}

NucleationState computeNucleationState(const MaterialProperties& m, double P,
                                       const MonomerProperties& monomer, double T, double N1) {
  NucleationState st;
  computeSaturation(m, P, T, st);
  const double sigma = st.surfaceTension;
  const double ns = st.saturationConcentration;
  const double v1 = monomer.monomerVolume;
  const double S = N1 / ns;
  st.saturationRatio = S;
  const double theta = monomer.monomerArea * sigma / (kBoltzmann * T);
  st.theta = theta;
  const double g = 2 * sigma / (monomer.monomerMass * kPi);
  const double lnS = std::log(S);
  st.nucleationRate = std::pow(ns, 2) * S * v1 * std::pow(g, 0.5) *
                      std::exp(theta - 4 * std::pow(theta, 3) / (27 * std::pow(lnS, 2)));
  st.criticalSize = std::pow(theta * 0.6666667 / lnS, 3);
  st.criticalDiameter = 4 * sigma * v1 / (kBoltzmann * T * lnS);
  st.criticalVolume = std::pow(st.criticalDiameter, 3) * kPi / 6;
  return st;
}

void computeNucleationFractions(const std::vector<double>& v, int n, double vStar,
                                std::vector<double>& xi) {
  if (vStar < v[1]) {
    // Smaller than a monomer (S below 1): all of it at node 2.
    xi[2] = vStar / v[2];
    for (int k = 3; k <= n; ++k) xi[k] = 0.0;
    return;
  }
  for (int k = 2; k <= n; ++k) xi[k] = (v[k - 1] <= vStar && vStar < v[k]) ? vStar / v[k] : 0.0;
}

double removeNucleatedMonomers(double N1, double Jk, double kStar, double dt) {
  return N1 - Jk * kStar * dt;
}

double coolGas(double T, double coolingRate, double dt) { return T - dt * coolingRate; }

}  // namespace aerosol
