// FastPassKernels: preparing the tables of a run, the fill of each step, and the order in
// which the calls come.

#include "engine/fast_pass_kernels.h"

#include <stdexcept>
#include <string>

namespace aerosol {

void FastPassKernels::requireStage(bool allowed, const char* call) const {
  if (allowed) return;
  const char* where = stage_ == Stage::kUnprepared ? "before prepare()"
                      : stage_ == Stage::kPrepared ? "before a fill of the table"
                      : stage_ == Stage::kRowFilled
                          ? "after fillMonomerRow(), which fills row 1 only"
                          : "out of order";
  throw std::logic_error(std::string("FastPassKernels: ") + call + " called " + where);
}

void FastPassKernels::prepare(const EngineSetup& setup, const NodeGrid& grid,
                              const SplitOperator* split, int n) {
  const int s = setup.firstParticleNode;
  stage_ = Stage::kUnprepared;
  auto refuse = [&](const std::string& what) {
    throw std::invalid_argument("FastPassKernels::prepare: " + what + " (node count " +
                                std::to_string(n) + ", first particle node " +
                                std::to_string(s) + ")");
  };
  if (n < 3 || n > kMostNodes)
    refuse("the node count must lie within 3.." + std::to_string(kMostNodes));
  if (s != 1 && s != 2) refuse("the first particle node must be 1 or 2");
  // Nodes 0..n + 1: node n + 1 is the grid's guard.
  const auto need = static_cast<std::size_t>(n + 2);
  if (grid.capacity < n + 2 || grid.volume.size() < need || grid.diameter.size() < need ||
      grid.mass.size() < need)
    refuse("the grid has room for " + std::to_string(grid.capacity) + " nodes");
  if (split != nullptr && (split->capacity < n + 2 ||
                           split->lowNode.size() < need * need))
    refuse("the split operator has room for " + std::to_string(split->capacity) + " nodes");

  setup_ = setup;
  grid_ = &grid;
  split_ = split;
  n_ = n;
  first_ = s;
  capacity_ = grid.capacity;
  filled_ = false;
  onDemand_ = false;
  pendingRow_ = nullptr;

  // Diagonals 0..n + 16 (the table is symmetric to the bit, so those at or below the main
  // one hold it all), each over x = 2s - n - 16 .. 2n + 32: wide enough for every index the
  // side-by-side sums form, in any lane of any pair of groups.
  xLow_ = 2 * s - n - 16;
  width_ = static_cast<std::size_t>(diagonalWidth(n, s));
  const auto entries = static_cast<std::size_t>(diagonalCount(n)) * width_;
  diag_.assign(entries, 0.0);
  paddedN_.assign(width_, 0.0);
  scratch_ = makeCollisionKernel(capacity_);

  prepareFreeMolecular();
  prepareFuchs();
  prepareGrowth();
  prepareTerms();
  stage_ = Stage::kPrepared;
}

void FastPassKernels::writeMonomerRow(CollisionKernel& kernel) const {
  for (int j = 1; j <= n_; ++j) kernel.at(1, j) = diag_[static_cast<std::size_t>(entry(1, j))];
}

void FastPassKernels::writeFullTable(CollisionKernel& kernel) {
  requireStage(stage_ == Stage::kTableFilled, "writeFullTable()");
  completeFill();
  for (int i = 1; i <= n_; ++i)
    for (int j = 1; j <= n_; ++j) kernel.at(i, j) = diag_[static_cast<std::size_t>(entry(i, j))];
}

void FastPassKernels::setGasPressure(double pressure) {
  requireStage(stage_ != Stage::kUnprepared, "setGasPressure()");
  if (pressure == setup_.collision.gas.pressure) return;
  setup_.collision.gas.pressure = pressure;
  // The Fuchs table of the last fill was made at the old pressure.
  filled_ = false;
  stage_ = Stage::kPrepared;
}

double FastPassKernels::fillKernel(double T, CollisionKernel& kernel) {
  requireStage(stage_ != Stage::kUnprepared, "fillKernel()");
  const bool fuchs = setup_.collision.form == KernelForm::Fuchs;
  stage_ = Stage::kPrepared;
  onDemand_ = false;
  pendingRow_ = nullptr;
  if (first_ != 1) {
    stage_ = Stage::kTableFilled;
    if (fuchs) {
      startFuchsOnDemand(T, kernel);
      return 1e-9;
    }
    fillFreeMolecular(T);
    // Row 1 feeds the growth operator.
    writeMonomerRow(kernel);
    return 1e-9;
  }
  // Particles from node 1 (process 1): the temperature never changes, so every fill gives the
  // same table; keep the last one, and its smallest entry, which sizes the step.
  stage_ = Stage::kTableFilled;
  if (filled_ && filledTable_ == &kernel && T == filledTemperature_) return filledSmallest_;
  if (fuchs)
    fillFuchs(T);
  else
    fillFreeMolecular(T);
  filled_ = true;
  filledTable_ = &kernel;
  filledTemperature_ = T;
  filledSmallest_ = 1e-9;
  // Searched in the order of the dense fill, so ties of signed zeros resolve the same way.
  writeFullTable(kernel);
  for (int i = 1; i <= n_; ++i)
    for (int j = 1; j <= n_; ++j)
      if (kernel.at(i, j) < filledSmallest_) filledSmallest_ = kernel.at(i, j);
  return filledSmallest_;
}

}  // namespace aerosol
