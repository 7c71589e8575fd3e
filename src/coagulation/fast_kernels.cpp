#include <cmath>

#include "coagulation/coagulation_rates.h"
#include "coagulation/pass_kernels.h"

namespace aerosol {

void FastPassKernels::prepare(const RunSettings& settings, const NodeGrid& grid,
                              const SplitOperator* split, int n, int s) {
  settings_ = settings;
  grid_ = &grid;
  split_ = split;
  n_ = n;
  first_ = s;
  capacity_ = grid.capacity;
  filled_ = false;
  const auto c = static_cast<std::size_t>(capacity_);
  const std::vector<double>& v = grid.volume;

  // Free-molecular pair factors: both are symmetric to the bit (commutative sums).
  shapeFactor_ = std::pow(3.0 / 12.5663704, 0.1666666);
  root_.assign(c * c, 0.0);
  square_.assign(c * c, 0.0);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const std::size_t at = static_cast<std::size_t>(i) * c + static_cast<std::size_t>(j);
      root_[at] = std::pow(1 / v[i] + 1 / v[j], 0.5);
      square_[at] = std::pow(std::pow(v[i], 0.333333) + std::pow(v[j], 0.333333), 2.0);
    }
  }
  diffusion_.assign(c, 0.0);
  speed_.assign(c, 0.0);
  transition_.assign(c, 0.0);

  growthDiameter_.assign(c, 0.0);
  for (int k = 1; k <= n; ++k) growthDiameter_[k] = growthDiameter(v[k]);

  // Gain terms: for node k, the ordered pairs (i, j), i = s..n, j = s..k, whose fraction at
  // k is non-zero, in the order of the dense sum.
  termStart_.assign(c + 1, 0);
  termSplit_.clear();
  termI_.clear();
  termJ_.clear();
  termPair_.clear();
  if (split != nullptr) {
    for (int k = s; k <= n; ++k) {
      termStart_[k] = static_cast<std::int32_t>(termSplit_.size());
      for (int i = s; i <= n; ++i) {
        for (int j = s; j <= k; ++j) {
          const double chi = split->at(i, j, k);
          if (chi == 0.0) continue;
          termSplit_.push_back(chi);
          termI_.push_back(i);
          termJ_.push_back(j);
          termPair_.push_back(static_cast<std::uint32_t>(i) * static_cast<std::uint32_t>(c) +
                              static_cast<std::uint32_t>(j));
        }
      }
    }
    termStart_[n + 1] = static_cast<std::int32_t>(termSplit_.size());
  }
}

void FastPassKernels::fillFreeMolecular(double T, CollisionKernel& kernel) {
  const double thermalAndShape = std::pow(T * 6.0 * 1.38e-23 / settings_.density, 0.5) * shapeFactor_;
  const auto c = static_cast<std::size_t>(capacity_);
  for (int i = 1; i <= n_; ++i) {
    const std::size_t row = static_cast<std::size_t>(i) * c;
    double* out = kernel.beta.data() + row;
    const double* root = root_.data() + row;
    const double* square = square_.data() + row;
    for (int j = 1; j <= n_; ++j) out[j] = thermalAndShape * root[j] * square[j];
  }
}

void FastPassKernels::fillFuchs(double T, CollisionKernel& kernel) {
  const CarrierGas gas = carrierGas(T, settings_);
  const std::vector<double>& d = grid_->diameter;
  const std::vector<double>& m = grid_->mass;
  for (int i = 1; i <= n_; ++i) {
    const FuchsParticle p = fuchsParticle(T, gas, d[i], m[i]);
    diffusion_[i] = p.diffusion;
    speed_[i] = p.speed;
    transition_[i] = p.transition;
  }
  for (int i = 1; i <= n_; ++i) {
    const FuchsParticle a{diffusion_[i], speed_[i], transition_[i]};
    for (int j = i; j <= n_; ++j) {
      const FuchsParticle b{diffusion_[j], speed_[j], transition_[j]};
      const double value = fuchsPair(a, d[i], b, d[j]);
      kernel.at(i, j) = value;
      kernel.at(j, i) = value;
    }
  }
}

double FastPassKernels::fillKernel(double T, CollisionKernel& kernel) {
  const int cf = settings_.collisionFunction;
  if (cf != 1 && cf != 2) return 1e-9;  // nothing is written
  // At a constant temperature every fill gives the same table: keep the last one.
  if (filled_ && filledTable_ == &kernel && T == filledTemperature_) return filledSmallest_;
  if (cf == 1)
    fillFreeMolecular(T, kernel);
  else
    fillFuchs(T, kernel);
  filled_ = true;
  filledTable_ = &kernel;
  filledTemperature_ = T;
  // Only process 1 (whose first coagulating node is 1) sizes its step by the smallest entry;
  // it is searched in the order of the fill, so ties of signed zeros resolve the same way.
  filledSmallest_ = 1e-9;
  if (first_ == 1) {
    for (int i = 1; i <= n_; ++i)
      for (int j = 1; j <= n_; ++j)
        if (kernel.at(i, j) < filledSmallest_) filledSmallest_ = kernel.at(i, j);
  }
  return filledSmallest_;
}

void FastPassKernels::fillMonomerRow(double T, CollisionKernel& kernel) {
  filled_ = false;
  const double thermalAndShape = std::pow(T * 6.0 * 1.38e-23 / settings_.density, 0.5) * shapeFactor_;
  const std::size_t row = static_cast<std::size_t>(capacity_);
  double* out = kernel.beta.data() + row;
  const double* root = root_.data() + row;
  const double* square = square_.data() + row;
  for (int j = 1; j <= n_; ++j) out[j] = thermalAndShape * root[j] * square[j];
}

void FastPassKernels::coagulation(const std::vector<double>& N, const CollisionKernel& kernel,
                                  std::vector<double>& gain, std::vector<double>& loss) {
  const int s = first_;
  const int n = n_;
  const double* beta = kernel.beta.data();
  const auto c = static_cast<std::size_t>(capacity_);

  // Loss sums, all nodes at once: L_k adds beta[k][i] N_i over ascending i, and the table
  // is symmetric to the bit, so row i supplies beta[k][i] for every k.
  for (int k = s; k <= n; ++k) loss[k] = 0.0;
  for (int i = s; i <= n; ++i) {
    const double Ni = N[i];
    const double* row = beta + static_cast<std::size_t>(i) * c;
    double* L = loss.data();
    for (int k = s; k <= n; ++k) L[k] = L[k] + row[k] * Ni;
  }

  // Gain sums over the non-zero terms only. A dropped term chi = 0 is 0 * beta * N_i * N_j,
  // a signed zero while every factor is finite, and adding a zero to a sum that started at
  // +0 leaves its bits unchanged.
  const double* chi = termSplit_.data();
  const std::int32_t* ti = termI_.data();
  const std::int32_t* tj = termJ_.data();
  const std::uint32_t* pair = termPair_.data();
  const double* Nd = N.data();
  bool finite = true;
  for (int k = s; k <= n; ++k) {
    double g = 0.0;
    const std::int32_t end = termStart_[k + 1];
    for (std::int32_t t = termStart_[k]; t < end; ++t)
      g = g + chi[t] * beta[pair[t]] * Nd[ti[t]] * Nd[tj[t]];
    gain[k] = g;
    finite = finite && std::isfinite(g) && std::isfinite(Nd[k]);
  }
  // With a non-finite concentration or table entry a dropped term would have been a
  // not-a-number: then only the dense sums give the same bits.
  if (!finite) {
    std::vector<double>& scratch = loss;  // the dense form rewrites both
    coagulationRates(N, *split_, kernel, n, s, gain, scratch);
  }
}

void FastPassKernels::growth(const GrowthInputs& in, std::vector<double>& diameter,
                             std::vector<double>& kelvinConcentration, GrowthRates& rates) {
  // The node diameters depend on the grid alone.
  for (int k = 1; k <= in.nodeCount; ++k) diameter[k] = growthDiameter_[k];
  computeGrowthRatesFromDiameters(in, growthDiameter_, kelvinConcentration, rates);
}

}  // namespace aerosol
