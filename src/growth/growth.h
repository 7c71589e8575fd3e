#pragma once
// Surface growth: condensation of vapour monomers on particles and evaporation from them,
// with the Kelvin effect. A particle of node k that takes up one monomer gains v_1 of
// volume; the operator moves v_1/(v_{k+1} - v_k) of a particle to node k + 1 per monomer
// taken up (and the reverse for evaporation), so particle volume is conserved.

#include <vector>

namespace aerosol {

struct GrowthRates {
  std::vector<double> growthGain;  // #/(m3 s) arriving at node k, k = 2..n
  std::vector<double> growthLoss;  // #/(m3 s) leaving node k, k = 2..n
  double monomerUptake = 0.0;      // monomers/(m3 s) taken up by condensation
  double monomerRelease = 0.0;     // monomers/(m3 s) given off by evaporation
};

GrowthRates makeGrowthRates(int capacity);

// Inputs of one evaluation; every value is the one at the start of the step.
struct GrowthInputs {
  int nodeCount;
  const std::vector<double>* volume;         // v[1..n+1], m3; v[1] is the monomer volume
  const std::vector<double>* concentration;  // N[1..n+1], #/m3; N[1] is the vapour
  const double* monomerKernelRow;            // beta(1, k), k = 1..n, m3/s
  double surfaceTension;                     // N/m
  double saturationConcentration;            // #/m3
  double temperature;                        // K
  double molecularWeight;                    // kg/mol
  double density;                            // kg/m3
  bool on;                                   // false: every rate 0 (growth switched off)
};

// Fills diameter[1..n] and kelvinConcentration[1..n] and the rates.
void computeGrowthRates(const GrowthInputs& in, std::vector<double>& diameter,
                        std::vector<double>& kelvinConcentration, GrowthRates& rates);

// The node diameter the growth operator uses, (6 v / pi)^0.333333, m.
double growthDiameter(double volume);

// The same rates from diameters already in place (they depend on the grid only).
void computeGrowthRatesFromDiameters(const GrowthInputs& in, const std::vector<double>& diameter,
                                     std::vector<double>& kelvinConcentration,
                                     GrowthRates& rates);

// The part of a particle moved between nodes k - 1 and k per monomer, v_1/(v_k - v_{k-1});
// it depends on the grid only.
double growthShare(const std::vector<double>& volume, int k);
// The same rates again, with growthShare(v, k) of k = 2..n already in share[k].
void computeGrowthRatesFromShares(const GrowthInputs& in, const std::vector<double>& diameter,
                                  const std::vector<double>& share,
                                  std::vector<double>& kelvinConcentration, GrowthRates& rates);

}  // namespace aerosol
