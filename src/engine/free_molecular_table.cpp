// The free-molecular table: a temperature factor times pair factors that depend on the grid
// alone, kept by diagonals.

#include <cfloat>
#include <cmath>

#include "engine/fast_pass_kernels.h"
#include "engine/wide_vectors.h"
#include "properties/constants.h"

namespace aerosol {
namespace {

// Every diagonal d = 0..n-1 of a table kept by diagonals: out[x] = (factor * a[x]) * b[x]
// over the nodes x = 1 + d..n; element by element, so it vectorises without changing any
// value. `origin` is where diagonal 0's x = 0 sits. Returns how many entries are not finite.
AEROSOL_WIDE_VECTORS
int scaleDiagonals(double* __restrict out, const double* __restrict a,
                   const double* __restrict b, double factor, std::ptrdiff_t origin,
                   std::ptrdiff_t stride, int n) {
  int notFinite = 0;
  for (int d = 0; d <= n - 1; ++d) {
    const std::ptrdiff_t row = origin + d * stride;
    for (int x = 1 + d; x <= n; ++x) {
      const double value = factor * a[row + x] * b[row + x];
      out[row + x] = value;
      notFinite += !(std::fabs(value) <= DBL_MAX);
    }
  }
  return notFinite;
}

}  // namespace

void FastPassKernels::prepareFreeMolecular() {
  const std::vector<double>& v = grid_->volume;
  const CollisionModel& model = setup_.collision;
  rootDiag_.assign(diag_.size(), 0.0);
  squareDiag_.assign(diag_.size(), 0.0);
  shapeFactor_ = std::pow(3.0 / kFourPi, 0.1666666);
  for (int d = 0; d <= n_ - 1; ++d) {
    const std::size_t row = static_cast<std::size_t>(d) * width_;
    for (int x = 1 + d; x <= n_; ++x) {
      const int j = x - d;
      const std::size_t at = row + static_cast<std::size_t>(x - xLow_);
      // The test kernels take the same table with a factor of 1: 1 times beta itself.
      if (model.form == KernelForm::Constant) {
        rootDiag_[at] = 1.0;
        squareDiag_[at] = model.constantKernel;
      } else if (model.form == KernelForm::Additive) {
        rootDiag_[at] = 1.0;
        squareDiag_[at] = model.additiveKernel * (v[x] + v[j]);
      } else {
        rootDiag_[at] = std::pow(1 / v[x] + 1 / v[j], 0.5);
        squareDiag_[at] = std::pow(std::pow(v[x], 0.333333) + std::pow(v[j], 0.333333), 2.0);
      }
    }
  }
}

double FastPassKernels::freeMolecularFactor(double T) const {
  const KernelForm form = setup_.collision.form;
  if (form == KernelForm::Constant || form == KernelForm::Additive) return 1.0;
  return std::pow(T * 6.0 * kBoltzmann / setup_.collision.density, 0.5) * shapeFactor_;
}

void FastPassKernels::fillFreeMolecular(double T) {
  tableFinite_ = scaleDiagonals(diag_.data(), rootDiag_.data(), squareDiag_.data(),
                                freeMolecularFactor(T), offset(0),
                                static_cast<std::ptrdiff_t>(width_), n_) == 0;
}

void FastPassKernels::fillMonomerRow(double T, CollisionKernel& kernel) {
  requireStage(stage_ != Stage::kUnprepared, "fillMonomerRow()");
  // The diagonal table is not filled: the coagulation sums must wait for fillKernel().
  stage_ = Stage::kRowFilled;
  filled_ = false;
  onDemand_ = false;
  pendingRow_ = nullptr;
  const double factor = freeMolecularFactor(T);
  for (int j = 1; j <= n_; ++j) {
    const auto at = static_cast<std::size_t>(entry(1, j));
    kernel.at(1, j) = factor * rootDiag_[at] * squareDiag_[at];
  }
}

}  // namespace aerosol
