#include "model/aggregate_coagulation_part.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace aerosol {

AggregateCoagulationPart::AggregateCoagulationPart(const StateLayout& layout, int areaId,
                                                   Collisions& collisions,
                                                   const SplitOperator& split,
                                                   const NodeGrid& grid, int first,
                                                   const AggregateProperties& aggregates,
                                                   const CarrierGasProperties& gas)
    : layout_(layout),
      noiseNumber_(layout.nodeVariables().front().absoluteTolerance),
      areaId_(areaId),
      collisions_(collisions),
      grid_(grid),
      n_(layout.nodeCount()),
      first_(first),
      aggregates_(aggregates),
      gas_(gas) {
  const auto n = static_cast<std::size_t>(n_);
  low_.assign(n * n, 0);
  lowFraction_.assign(n * n, 0.0);
  highFraction_.assign(n * n, 0.0);
  lowArea_.assign(n * n, 0.0);
  highArea_.assign(n * n, 0.0);
  for (int i = 1; i <= n_; ++i)
    for (int j = 1; j <= n_; ++j) {
      const std::size_t p = static_cast<std::size_t>(i - 1) * n + static_cast<std::size_t>(j - 1);
      const std::size_t q = split.pair(i, j);
      low_[p] = split.lowNode[q];
      lowFraction_[p] = split.lowFraction[q];
      highFraction_[p] = split.highFraction[q];
      // The share of the pair's area each receiving node takes: its share of the volume.
      const int k = low_[p];
      const double sum = grid.volume[i] + grid.volume[j];
      lowArea_[p] = lowFraction_[p] * (grid.volume[k] / sum);
      if (k + 1 <= n_) highArea_[p] = highFraction_[p] * (grid.volume[k + 1] / sum);
    }
  spheres_ = aggregates.sintering.form == SinteringForm::Instant;
  volumeDiameter_.assign(n + 1, 0.0);
  for (int k = 1; k <= n_; ++k)
    volumeDiameter_[static_cast<std::size_t>(k)] =
        aggregateShape(grid.volume[k], 0.0, aggregates, 0.0).collisionDiameter;
  // A guard, far below any real primary (a noisy, nearly empty node), against overflow.
  smallestPrimary_ = 1e-3 * volumeDiameter_[1];
  collision_.assign(n + 1, 0.0);
  byNumber_.assign(n + 1, 0.0);
  byArea_.assign(n + 1, 0.0);
  beta_.assign(n * n, 0.0);
  particles_.assign(n + 1, FuchsParticle{});
  speedSquared_.assign(n + 1, 0.0);
  transitionSquared_.assign(n + 1, 0.0);
  diffusion_.assign(n + 1, 0.0);
  row_.assign(n + 1, 0.0);
  formedAt_.assign(n + 1, 0.0);
  changed_.assign(n + 1, 0);
  rates_.assign(static_cast<std::size_t>(layout.size()), 0.0);
}

std::vector<int> AggregateCoagulationPart::reads() const {
  std::vector<int> r;
  for (int k = first_; k <= n_; ++k) r.push_back(k - 1);
  for (int k = first_; k <= n_; ++k) r.push_back(area(k));
  return r;
}

double AggregateCoagulationPart::fuchs(const FuchsParticle& a, double di, int j, int i) const {
  const double dj = collision_[static_cast<std::size_t>(j)];
  return fuchsPair(a, di, j == i ? a : particles_[static_cast<std::size_t>(j)], j == i ? di : dj);
}

void AggregateCoagulationPart::fillKernel(const ModelPoint& point, const double* y) {
  const bool isFuchs = collisions_.form() == KernelForm::Fuchs;
  const double D = aggregates_.fractalDimension;
  for (int k = first_; k <= n_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const double N = y[k - 1];
    const double A = y[area(k)];
    const double dv = volumeDiameter_[i];
    collision_[i] = dv;
    byNumber_[i] = 0.0;
    byArea_[i] = 0.0;
    // Instant sintering makes spheres: their kernels, whatever the area's rounding says.
    if (!spheres_ && N > 0.0 && A > 0.0) {
      const AggregateShape shape = aggregateShape(grid_.volume[k], A / N, aggregates_,
                                                  smallestPrimary_);
      const double excess = shape.collisionDiameter - dv;
      if (excess > 0.0) {
        // A node that holds next to nothing (about the absolute tolerance) has no shape to
        // speak of, only the noise of A / N: its collision diameter goes over to the
        // sphere's as N falls to that level, weight w = N / (N + N_noise).
        const double w = N / (N + noiseNumber_);
        collision_[i] = dv + w * excess;
        if (!shape.limited) {
          // ln d_c = ln d_p + (ln n_p - ln k_f) / D_f, d_p = 6 v N / A, n_p = (d_v / d_p)^3.
          const double dc = shape.collisionDiameter;
          byArea_[i] = w * dc * (3.0 / D - 1.0) / A;
          byNumber_[i] = w * dc * (1.0 - 3.0 / D) / N;
        }
        byNumber_[i] += noiseNumber_ / ((N + noiseNumber_) * (N + noiseNumber_)) * excess;
      }
    }
    // A sphere keeps the grid's diameter in Fuchs' form, as the sphere kernel has it.
    if (isFuchs && !(collision_[i] > dv)) collision_[i] = grid_.diameter[k];
  }
  const auto n = static_cast<std::size_t>(n_);
  if (isFuchs) {
    // Only the pairs of a node whose collision diameter changed are formed anew at the same
    // gas state: the others' numbers would come out the same. Spheres keep theirs all run.
    const bool sameGas = filled_ && point.gas.temperature == temperature_ &&
                         point.gas.pressure == pressure_;
    if (!sameGas) {
      temperature_ = point.gas.temperature;
      pressure_ = point.gas.pressure;
      CarrierGasProperties gas = gas_;
      gas.pressure = pressure_;
      carrier_ = carrierGas(temperature_, gas);
    }
    for (int k = first_; k <= n_; ++k) {
      const auto i = static_cast<std::size_t>(k);
      changed_[i] = !sameGas || collision_[i] != formedAt_[i];
      if (!changed_[i]) continue;
      formedAt_[i] = collision_[i];
      particles_[i] = fuchsParticle(temperature_, carrier_, collision_[i], grid_.mass[k]);
      diffusion_[i] = particles_[i].diffusion;
      speedSquared_[i] = particles_[i].speed * particles_[i].speed;
      transitionSquared_[i] = particles_[i].transition * particles_[i].transition;
    }
    filled_ = true;
    // The kernel is symmetric, bit for bit (the pair's sums commute): a changed node's row
    // is formed and mirrored into its column. Where every node changed (a new gas state, or
    // a Newton iteration that moved every shape) each row from the diagonal on is enough.
    const bool allChanged = std::all_of(changed_.begin() + first_, changed_.begin() + n_ + 1,
                                        [](char c) { return c != 0; });
    for (int i = first_; i <= n_; ++i) {
      const auto a = static_cast<std::size_t>(i);
      if (!changed_[a]) continue;
      const int from = allChanged ? i : first_;
      fuchsRow(row_.data(), collision_.data(), diffusion_.data(), speedSquared_.data(),
               transitionSquared_.data(), i, from, n_);
      for (int j = from; j <= n_; ++j) {
        const auto b = static_cast<std::size_t>(j);
        beta_[(a - 1) * n + b - 1] = row_[b];
        beta_[(b - 1) * n + a - 1] = row_[b];
      }
    }
    return;
  }
  collisions_.completeTable();
  const CollisionKernel& sphere = collisions_.table();
  for (int i = first_; i <= n_; ++i)
    for (int j = first_; j <= n_; ++j) {
      const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j);
      const double ratio =
          (collision_[a] + collision_[b]) / (volumeDiameter_[a] + volumeDiameter_[b]);
      beta_[(a - 1) * n + b - 1] = sphere.at(i, j) * (ratio * ratio);
    }
}

void AggregateCoagulationPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  fillKernel(point, y);
  const auto n = static_cast<std::size_t>(n_);
  // The pairs (i, j) and (j, i) collide alike and their products land alike (the kernel and
  // the split are symmetric): each unordered pair once, with the gains of both orders.
  for (int i = first_; i <= n_; ++i) {
    const double Ni = y[i - 1];
    const double Ai = y[area(i)];
    if (Ni == 0.0 && Ai == 0.0) continue;  // an empty node: nothing gained or lost with it
    double L = 0.0;  // 1/s: node i's losses to the partners j >= i
    for (int j = i; j <= n_; ++j) {
      const std::size_t p = static_cast<std::size_t>(i - 1) * n + static_cast<std::size_t>(j - 1);
      const double beta = beta_[p];
      const double Nj = y[j - 1];
      const double Aj = y[area(j)];
      L += beta * Nj;
      double gain = beta;
      if (j != i) {
        ydot[j - 1] -= beta * Ni * Nj;
        ydot[area(j)] -= beta * Ni * Aj;
      } else {
        gain = 0.5 * beta;  // beta_ii N_i^2 / 2 collisions
      }
      const double number = gain * Ni * Nj;
      const double areaGain = gain * (Ai * Nj + Aj * Ni);
      const int k = low_[p];
      if (lowFraction_[p] != 0.0) {
        ydot[k - 1] += lowFraction_[p] * number;
        ydot[area(k)] += lowArea_[p] * areaGain;
      }
      if (highFraction_[p] != 0.0 && k + 1 <= n_) {
        ydot[k] += highFraction_[p] * number;
        ydot[area(k + 1)] += highArea_[p] * areaGain;
      }
    }
    ydot[i - 1] -= Ni * L;
    ydot[area(i)] -= Ai * L;
  }
}

void AggregateCoagulationPart::addJacobian(const ModelPoint& point, const double* y,
                                           JacobianColumns columns) {
  fillKernel(point, y);
  const auto n = static_cast<std::size_t>(n_);
  const std::vector<double>& v = grid_.volume;
  // The rates' derivatives at a fixed kernel.
  for (int i = first_; i <= n_; ++i) {
    const double Ni = y[i - 1];
    const double Ai = y[area(i)];
    double L = 0.0;
    for (int j = first_; j <= n_; ++j) {
      const std::size_t p = static_cast<std::size_t>(i - 1) * n + static_cast<std::size_t>(j - 1);
      const double beta = beta_[p];
      const double Nj = y[j - 1];
      const double Aj = y[area(j)];
      L += beta * Nj;
      // Losses of node i: N_i beta_ij N_j and A_i beta_ij N_j.
      columns[j - 1][i - 1] -= Ni * beta;
      columns[j - 1][area(i)] -= Ai * beta;
      const double sum = v[i] + v[j];
      const int low = low_[p];
      const double fractions[2] = {lowFraction_[p], highFraction_[p]};
      for (int t = 0; t < 2; ++t) {
        const int k = low + t;
        const double chi = fractions[t];
        if (chi == 0.0 || k > n_) continue;
        const double half = 0.5 * chi * beta;
        const double w = half * (v[k] / sum);
        columns[i - 1][k - 1] += half * Nj;
        columns[j - 1][k - 1] += half * Ni;
        columns[area(i)][area(k)] += w * Nj;
        columns[area(j)][area(k)] += w * Ni;
        columns[j - 1][area(k)] += w * Ai;
        columns[i - 1][area(k)] += w * Aj;
      }
    }
    columns[i - 1][i - 1] -= L;
    columns[area(i)][area(i)] -= L;
  }
  // The kernel's dependence on each node's collision diameter: node m's d_c changes the
  // pairs (m, j) alone.
  const bool isFuchs = collisions_.form() == KernelForm::Fuchs;
  for (int m = first_; m <= n_; ++m) {
    const auto mi = static_cast<std::size_t>(m);
    if (byNumber_[mi] == 0.0 && byArea_[mi] == 0.0) continue;
    std::fill(rates_.begin(), rates_.end(), 0.0);
    const double dc = collision_[mi];
    const double step = 1e-7 * dc;
    const FuchsParticle moved =
        isFuchs ? fuchsParticle(temperature_, carrier_, dc + step, grid_.mass[m]) : FuchsParticle{};
    const double Nm = y[m - 1];
    const double Am = y[area(m)];
    for (int j = first_; j <= n_; ++j) {
      const std::size_t p = (mi - 1) * n + static_cast<std::size_t>(j - 1);
      const double beta = beta_[p];
      double slope = 0.0;  // dbeta_mj / dd_cm
      if (isFuchs)
        slope = (fuchs(moved, dc + step, j, m) - beta) / step;
      else
        slope = (j == m ? 4.0 : 2.0) * beta / (dc + collision_[static_cast<std::size_t>(j)]);
      if (slope == 0.0) continue;
      const double Nj = y[j - 1];
      const double Aj = y[area(j)];
      // beta_mj enters the ordered pairs (m, j) and (j, m), once when j = m.
      const double orderings = j == m ? 1.0 : 2.0;
      const double sum = v[m] + v[j];
      const int low = low_[p];
      const double fractions[2] = {lowFraction_[p], highFraction_[p]};
      for (int t = 0; t < 2; ++t) {
        const int k = low + t;
        if (fractions[t] == 0.0 || k > n_) continue;
        rates_[k - 1] += orderings * 0.5 * fractions[t] * slope * Nm * Nj;
        rates_[area(k)] += orderings * 0.5 * fractions[t] * (v[k] / sum) * slope *
                           (Am * Nj + Aj * Nm);
      }
      rates_[m - 1] -= slope * Nm * Nj;
      rates_[area(m)] -= slope * Am * Nj;
      if (j != m) {
        rates_[j - 1] -= slope * Nj * Nm;
        rates_[area(j)] -= slope * Aj * Nm;
      }
    }
    for (std::size_t r = 0; r < rates_.size(); ++r) {
      if (rates_[r] == 0.0) continue;
      columns[m - 1][r] += rates_[r] * byNumber_[mi];
      columns[area(m)][r] += rates_[r] * byArea_[mi];
    }
  }
}

std::vector<ResultVariable> AggregateCoagulationPart::results() const {
  return {{"collision_time", "s",
           "characteristic collision time of the particles, 2 N / sum_ij beta_ij N_i N_j "
           "(missing while they do not collide)",
           false, "", true}};
}

void AggregateCoagulationPart::describe(const ModelPoint& point, const double* y,
                                        double* values) {
  fillKernel(point, y);
  const auto n = static_cast<std::size_t>(n_);
  double number = 0.0, collisions = 0.0;  // m-3, m-3 s-1
  for (int i = first_; i <= n_; ++i) {
    const double Ni = std::max(y[i - 1], 0.0);
    number += Ni;
    for (int j = first_; j <= n_; ++j)
      collisions += beta_[static_cast<std::size_t>(i - 1) * n + static_cast<std::size_t>(j - 1)] *
                    Ni * std::max(y[j - 1], 0.0);
  }
  values[0] = collisions > 0.0 ? 2.0 * number / collisions
                               : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace aerosol
