// One pass of each process, straightforward forms against the program's forms, on states
// taken from a real run (particles spread over the grid, fine time step).

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "engine/fast_pass_kernels.h"
#include "engine/library_powers.h"
#include "processes/passes.h"
#include "reference/literal_kernels.h"
#include "support/example_material.h"

namespace aerosol {
namespace {

RunSettings material(int n, int process, int collisionFunction, double startTemperature,
                     double coolingRate) {
  RunSettings s = exampleMaterial(n, process, collisionFunction);
  s.startTemperature = startTemperature;
  s.coolingRate = coolingRate;
  return s;
}

// Runs the program's forms past nucleation and into the fine step, then hands the state to
// a run stepped by `kernels`.
template <class Kernels>
void nucleationPass(benchmark::State& bench, bool growth, bool allOccupied = false) {
  const int n = static_cast<int>(bench.range(0));
  const int cf = static_cast<int>(bench.range(1));
  const RunSettings s = material(n, growth ? 3 : 2, cf, 1500.0, 1000.0);
  FastPassKernels warmKernels;
  NucleationRun warm(s, growth, warmKernels);
  while (warm.t <= 0.14) {
    warm.beginPass();
    warm.finishPass();
  }
  for (int i = 0; i < 20000; ++i) {
    warm.beginPass();
    warm.finishPass();
  }
  Kernels kernels;
  NucleationRun run(s, growth, kernels);
  run.N = warm.N;
  run.T = warm.T;
  run.t = warm.t;
  run.dt = warm.dt;
  // The worst case: no empty node for the sums to pass over.
  if (allOccupied)
    for (int k = 2; k <= n; ++k)
      if (run.N[k] == 0.0) run.N[k] = 1e-3;
  for (auto _ : bench) {
    run.beginPass();
    run.finishPass();
    benchmark::DoNotOptimize(run.N.data());
  }
  bench.counters["T"] = run.T;
}

template <class Kernels>
void coagulationStep(benchmark::State& bench) {
  const int n = static_cast<int>(bench.range(0));
  const int cf = static_cast<int>(bench.range(1));
  RunSettings s = material(n, 1, cf, 300.0, 0.0);
  Kernels kernels;
  CoagulationRun run(s, 1.0, 1e20, kernels);
  for (auto _ : bench) {
    run.step();
    run.t = run.t + run.dt;
    // Start over when the run ends, so every step is a real one.
    if (!(run.t < 0.01)) {
      bench.PauseTiming();
      for (int k = 1; k <= n; ++k) run.N[k] = 0.0;
      run.N[1] = 1e20;
      run.t = 0.0;
      run.dt = 1e-8;
      bench.ResumeTiming();
    }
    benchmark::DoNotOptimize(run.N.data());
  }
}

template <class Kernels>
void seededGrowthStep(benchmark::State& bench) {
  const int n = static_cast<int>(bench.range(0));
  const RunSettings s = material(n, 4, 1, 1000.0, 1e4);
  Kernels kernels;
  SeededGrowthRun run(s, n / 3, 1e12, kernels);
  for (auto _ : bench) {
    run.beginStep();
    run.finishStep();
    benchmark::DoNotOptimize(run.N.data());
  }
}

// The Fuchs transition parameters of every node at one fill (a nucleation grid at 1300 K),
// from error-free products where they decide pow's double, or from pow node by node.
struct TransitionInputs {
  std::vector<double> d, l, g2, scratch;
  std::vector<char> done;
  explicit TransitionInputs(int n) {
    const RunSettings s = material(n, 2, 2, 1300.0, 1000.0);
    NodeGrid grid = makeNodeGrid(tableCapacity(n));
    buildNodeGrid(grid, s.monomerVolume, s.spacingFactor, s.density, n, kThirdSeven);
    const CarrierGas gas = carrierGas(1300.0, carrierGasOf(s));
    const auto c = static_cast<std::size_t>(grid.capacity);
    d = grid.diameter;
    l.assign(c, 0.0);
    g2.assign(c, 0.0);
    scratch.assign(2 * c, 0.0);
    done.assign(c, 0);
    for (int k = 1; k <= n; ++k)
      l[k] = fuchsMobility(1300.0, gas, d[k], grid.mass[k]).meanFreePath;
  }
};

void BM_FuchsTransitions_Products(benchmark::State& bench) {
  const int n = static_cast<int>(bench.range(0));
  TransitionInputs in(n);
  if (!productsDecidePowers()) bench.SkipWithError("pow is always called here");
  for (auto _ : bench) {
    for (int k = 1; k <= n; ++k) in.done[static_cast<std::size_t>(k)] = 0;
    fuchsTransitionSquares(in.d.data(), in.l.data(), in.done.data(), in.g2.data(),
                           in.scratch.data(), 1, n);
    benchmark::DoNotOptimize(in.g2.data());
  }
}

void BM_FuchsTransitions_Pow(benchmark::State& bench) {
  const int n = static_cast<int>(bench.range(0));
  TransitionInputs in(n);
  for (auto _ : bench) {
    for (int k = 1; k <= n; ++k) {
      const double g = fuchsTransition(in.d[k], in.l[k]);
      in.g2[k] = g * g;
    }
    benchmark::DoNotOptimize(in.g2.data());
  }
}

void nodeCounts(benchmark::internal::Benchmark* b) {
  for (int n : {14, 26, 48})
    for (int cf : {1, 2}) b->Args({n, cf});
  b->ArgNames({"n", "kernel"});
}

void BM_Process1_Literal(benchmark::State& s) { coagulationStep<LiteralPassKernels>(s); }
void BM_Process1_Fast(benchmark::State& s) { coagulationStep<FastPassKernels>(s); }
void BM_Process2_Literal(benchmark::State& s) { nucleationPass<LiteralPassKernels>(s, false); }
void BM_Process2_Fast(benchmark::State& s) { nucleationPass<FastPassKernels>(s, false); }
void BM_Process3_Literal(benchmark::State& s) { nucleationPass<LiteralPassKernels>(s, true); }
void BM_Process3_Fast(benchmark::State& s) { nucleationPass<FastPassKernels>(s, true); }
void BM_Process2_Literal_AllOccupied(benchmark::State& s) {
  nucleationPass<LiteralPassKernels>(s, false, true);
}
void BM_Process2_Fast_AllOccupied(benchmark::State& s) {
  nucleationPass<FastPassKernels>(s, false, true);
}
void BM_Process4_Literal(benchmark::State& s) { seededGrowthStep<LiteralPassKernels>(s); }
void BM_Process4_Fast(benchmark::State& s) { seededGrowthStep<FastPassKernels>(s); }

BENCHMARK(BM_Process1_Literal)->Apply(nodeCounts);
BENCHMARK(BM_Process1_Fast)->Apply(nodeCounts);
BENCHMARK(BM_Process2_Literal)->Apply(nodeCounts);
BENCHMARK(BM_Process2_Fast)->Apply(nodeCounts);
BENCHMARK(BM_Process3_Literal)->Apply(nodeCounts);
BENCHMARK(BM_Process3_Fast)->Apply(nodeCounts);
BENCHMARK(BM_Process2_Literal_AllOccupied)->Apply(nodeCounts);
BENCHMARK(BM_Process2_Fast_AllOccupied)->Apply(nodeCounts);
BENCHMARK(BM_Process4_Literal)->Arg(14)->Arg(26)->Arg(48)->ArgName("n");
BENCHMARK(BM_Process4_Fast)->Arg(14)->Arg(26)->Arg(48)->ArgName("n");
BENCHMARK(BM_FuchsTransitions_Products)->Arg(48)->Arg(200)->ArgName("n");
BENCHMARK(BM_FuchsTransitions_Pow)->Arg(48)->Arg(200)->ArgName("n");

}  // namespace
}  // namespace aerosol

BENCHMARK_MAIN();
