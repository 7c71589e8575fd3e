#include "processes/passes.h"

#include <cmath>

#include "properties/constants.h"

namespace aerosol {
namespace {

std::vector<double> zeroTable(int capacity) {
  return std::vector<double>(static_cast<std::size_t>(capacity), 0.0);
}

// The process 3 start-up step: while it lasts (until the first particles appear), growth is
// off.
constexpr double kStartUpStep = 0.0001;

}  // namespace

CoagulationRun::CoagulationRun(const RunSettings& s, double d0, double N0, PassKernels& k)
    : settings(s),
      kernels(k),
      n(s.nodeCount),
      temperature(s.startTemperature),
      grid(makeNodeGrid(tableCapacity(s.nodeCount))),
      split(makeSplitOperator(tableCapacity(s.nodeCount))),
      kernel(makeCollisionKernel(tableCapacity(s.nodeCount))),
      N(zeroTable(tableCapacity(s.nodeCount))),
      gain(zeroTable(tableCapacity(s.nodeCount))),
      loss(zeroTable(tableCapacity(s.nodeCount))) {
  N[1] = N0;
  const double v1 = volumeOfDiameterNm(d0);
  buildNodeGrid(grid, v1, settings.spacingFactor, settings.density, n, kThirdSeven);
  buildSplitOperator(split, grid.volume, n);
  kernels.prepare(engineSetupOf(settings, 1), grid, &split, n);
}

void CoagulationRun::step() {
  const double smallestKernel = kernels.fillKernel(temperature, kernel);
  kernels.coagulation(N, kernel, gain, loss);
  double Ninf = 0.0;
  for (int k = 1; k <= n; ++k) {
    N[k] = N[k] + (0.5 * gain[k] - N[k] * loss[k]) * dt;
    Ninf = Ninf + N[k];
  }
  // The next step keeps the fastest collision rate's change per step near 0.1%.
  dt = 0.001 / (smallestKernel * Ninf);
  double V = 0.0;
  for (int k = 1; k <= n; ++k) V = V + N[k] * grid.volume[k];
  totalConcentration = Ninf;
  totalVolume = V;
}

NucleationRun::NucleationRun(const RunSettings& s, bool growthOn, PassKernels& k)
    : settings(s),
      withGrowth(growthOn),
      kernels(k),
      n(s.nodeCount),
      grid(makeNodeGrid(tableCapacity(s.nodeCount))),
      split(makeSplitOperator(tableCapacity(s.nodeCount))),
      kernel(makeCollisionKernel(tableCapacity(s.nodeCount))),
      N(zeroTable(tableCapacity(s.nodeCount))),
      gain(zeroTable(tableCapacity(s.nodeCount))),
      loss(zeroTable(tableCapacity(s.nodeCount))),
      xi(zeroTable(tableCapacity(s.nodeCount))),
      Ks(zeroTable(tableCapacity(s.nodeCount))),
      growth(makeGrowthRates(tableCapacity(s.nodeCount))),
      material(materialOf(s)),
      T(s.startTemperature),
      dt(growthOn ? kStartUpStep : 0.0005) {
  const double v1 = settings.monomerVolume;
  // The growth process keeps six threes in its cube root, the nucleation process seven.
  buildNodeGrid(grid, v1, settings.spacingFactor, settings.density, n,
                withGrowth ? kThirdSix : kThirdSeven);
  buildSplitOperator(split, grid.volume, n);
  kernels.prepare(engineSetupOf(settings, 2), grid, &split, n);
  monomer = computeMonomerProperties(settings.density, v1);
  N[1] = initialMonomerConcentration(material, settings.pressure, T);
}

void NucleationRun::beginPass() {
  state = computeNucleationState(material, settings.pressure, monomer, T, N[1]);
  const std::vector<double>& v = grid.volume;
  double Ntot = 0.0;
  double V = 0.0;
  for (int k = 2; k <= n; ++k) Ntot = Ntot + N[k];
  for (int k = 2; k <= n; ++k) V = V + N[k] * v[k];
  totalNumber = Ntot;
  particleVolume = V;
  totalVolume = N[1] * v[1] + V;
  // Diameter of the mean particle volume; not a number while there are no particles.
  if (withGrowth) {
    const double meanVolume = V / Ntot;
    volumeMeanDiameter = std::pow(meanVolume * 6.0 / kPi, 0.3333333);
    // Growth switches on with the first particles; after 0.14 s the fine step holds.
    if (Ntot > 100.0) dt = 1e-05;
    if (t > 0.14) dt = 5e-08;
  } else {
    volumeMeanDiameter = std::pow(6 * (V / Ntot) / kPi, 0.3333333);
    if (t > 0.14) dt = 5e-8;
  }
}

void NucleationRun::finishPass() {
  const double Jk = state.nucleationRate;
  kernels.fillKernel(T, kernel);
  computeNucleationFractions(grid.volume, n, state.criticalVolume, xi);
  if (withGrowth) {
    const GrowthInputs in{n,  &grid.volume, &N, &kernel.beta[kernel.index(1, 0)],
                          state.surfaceTension, state.saturationConcentration, T,
                          settings.molecularWeight, settings.density, dt != kStartUpStep};
    kernels.growth(in, grid.diameter, Ks, growth);
    kernels.coagulation(N, kernel, gain, loss);
    for (int k = 2; k <= n; ++k)
      N[k] = N[k] + dt * (xi[k] * Jk + (0.5 * gain[k] - N[k] * loss[k]) +
                          growth.growthGain[k] - growth.growthLoss[k]);
    N[1] = removeNucleatedMonomers(N[1], Jk, state.criticalSize, dt);
    N[1] = N[1] - dt * (growth.monomerUptake - growth.monomerRelease);
  } else {
    kernels.coagulation(N, kernel, gain, loss);
    for (int k = 2; k <= n; ++k)
      N[k] = N[k] + dt * (xi[k] * Jk + (0.5 * gain[k] - N[k] * loss[k]));
    N[1] = removeNucleatedMonomers(N[1], Jk, state.criticalSize, dt);
  }
  T = coolGas(T, settings.coolingRate, dt);
  t = t + dt;
}

SeededGrowthRun::SeededGrowthRun(const RunSettings& s, int seedNode, double seedConcentration,
                                 PassKernels& k)
    : settings(s),
      kernels(k),
      n(s.nodeCount),
      grid(makeNodeGrid(tableCapacity(s.nodeCount))),
      kernel(makeCollisionKernel(tableCapacity(s.nodeCount))),
      N(zeroTable(tableCapacity(s.nodeCount))),
      Ks(zeroTable(tableCapacity(s.nodeCount))),
      growth(makeGrowthRates(tableCapacity(s.nodeCount))),
      material(materialOf(s)),
      T(s.startTemperature) {
  buildNodeGrid(grid, settings.monomerVolume, settings.spacingFactor, settings.density, n,
                kThirdSix);
  kernels.prepare(engineSetupOf(settings, 2), grid, nullptr, n);
  N[static_cast<std::size_t>(seedNode)] = seedConcentration;
  // The vapour is held at its starting concentration for the whole run; a seed put into
  // node 1 would be replaced by it.
  N[1] = initialMonomerConcentration(material, settings.pressure, T);
}

void SeededGrowthRun::beginStep() { computeSaturation(material, settings.pressure, T, state); }

void SeededGrowthRun::finishStep() {
  kernels.fillMonomerRow(T, kernel);
  const GrowthInputs in{n,  &grid.volume, &N, &kernel.beta[kernel.index(1, 0)],
                        state.surfaceTension, state.saturationConcentration, T,
                        settings.molecularWeight, settings.density, true};
  kernels.growth(in, grid.diameter, Ks, growth);
  for (int k = 2; k <= n; ++k) N[k] = N[k] + (growth.growthGain[k] - growth.growthLoss[k]) * dt;
  T = coolGas(T, settings.coolingRate, dt);
  t = t + dt;
}

}  // namespace aerosol
