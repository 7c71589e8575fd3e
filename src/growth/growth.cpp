#include "growth/growth.h"

#include <cmath>

#include "properties/constants.h"

namespace aerosol {

GrowthRates makeGrowthRates(int capacity) {
  GrowthRates rates;
  rates.growthGain.assign(static_cast<std::size_t>(capacity), 0.0);
  rates.growthLoss.assign(static_cast<std::size_t>(capacity), 0.0);
  return rates;
}

double growthDiameter(double volume) { return std::pow(volume * 6.0 / kPi, 0.333333); }

void computeGrowthRates(const GrowthInputs& in, std::vector<double>& d,
                        std::vector<double>& Ks, GrowthRates& rates) {
  for (int k = 1; k <= in.nodeCount; ++k) d[k] = growthDiameter((*in.volume)[k]);
  computeGrowthRatesFromDiameters(in, d, Ks, rates);
}

namespace {

// The rates with share(k) = v_1/(v_k - v_{k-1}), the part of a particle moved between nodes
// k - 1 and k per monomer.
template <class Share>
void growthRatesWith(const GrowthInputs& in, const std::vector<double>& d,
                     std::vector<double>& Ks, GrowthRates& rates, Share share) {
  const int n = in.nodeCount;
  const std::vector<double>& N = *in.concentration;
  const double* beta = in.monomerKernelRow;
  const double N1 = N[1];

  // Kelvin equilibrium concentration over each node's curved surface: ns exp(4 sigma M /
  // (rho R T d)).
  for (int k = 1; k <= n; ++k) {
    Ks[k] = in.saturationConcentration *
            std::exp(in.surfaceTension * in.molecularWeight * 4.0 /
                     (in.temperature * in.density * d[k] * kGasConstant));
  }

  // The two monomer sums run over k in order; kept in locals (not behind the rate tables'
  // pointers) so that each add waits only for the one before.
  double uptake = 0.0;
  double release = 0.0;
  double* gain = rates.growthGain.data();
  double* loss = rates.growthLoss.data();
  for (int k = 2; k <= n; ++k) {
    gain[k] = 0.0;
    loss[k] = 0.0;
    if (!in.on) continue;
    double g = 0.0;
    double l = 0.0;
    // a. node k-1 grows into node k
    if (Ks[k - 1] < N1 && k >= 3) {
      g = g + share(k) * beta[k - 1] * (N1 - Ks[k - 1]) * N[k - 1];
      uptake = uptake + (N1 - Ks[k - 1]) * beta[k - 1] * N[k - 1];
    }
    // b. node k+1 evaporates into node k; the top node receives nothing from above
    if (Ks[k + 1] > N1 && k <= n - 1) {
      g = g - share(k + 1) * beta[k + 1] * (N1 - Ks[k + 1]) * N[k + 1];
      release = release + (Ks[k + 1] - N1) * beta[k + 1] * N[k + 1];
    }
    // c. node k grows into node k+1; the top node does not grow
    if (Ks[k] < N1 && k <= n - 1) l = l + share(k + 1) * beta[k] * (N1 - Ks[k]) * N[k];
    // d. node k evaporates into node k-1; out of node 2 the particles leave the grid and
    // only their monomers are counted
    if (Ks[k] > N1) {
      l = l - share(k) * beta[k] * (N1 - Ks[k]) * N[k];
      if (k == 2) release = release + (Ks[2] - N1) * beta[2] * N[2];
    }
    gain[k] = g;
    loss[k] = l;
  }
  rates.monomerUptake = uptake;
  rates.monomerRelease = release;
}

}  // namespace

void computeGrowthRatesFromDiameters(const GrowthInputs& in, const std::vector<double>& d,
                                     std::vector<double>& Ks, GrowthRates& rates) {
  const std::vector<double>& v = *in.volume;
  growthRatesWith(in, d, Ks, rates, [&v](int k) { return growthShare(v, k); });
}

void computeGrowthRatesFromShares(const GrowthInputs& in, const std::vector<double>& d,
                                  const std::vector<double>& share, std::vector<double>& Ks,
                                  GrowthRates& rates) {
  growthRatesWith(in, d, Ks, rates, [&share](int k) { return share[k]; });
}

double growthShare(const std::vector<double>& v, int k) { return v[1] / (v[k] - v[k - 1]); }

}  // namespace aerosol
