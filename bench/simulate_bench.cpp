// `aerosol simulate`'s model and integrator: one right-hand side and one Jacobian on a state
// from a real run, and whole runs of the cases the fixed-step processes find hard (the long
// process 2 cooling; the nucleation-growth vapour on fine grids), with the integrator's
// counts and the peak memory as counters. Run the whole runs one grid at a time for the peak
// memory of each (--benchmark_filter='SimulateNucleationGrowth/400').

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <string>
#include <vector>

#include "case/case.h"
#include "integrator/simulation.h"
#include "model/model.h"
#include "support/example_case.h"
#include "support/example_material.h"

namespace aerosol {
namespace {

// The example material cooling from `start` at `rate` to 300 K with nucleation, coagulation
// and (with `growth`) condensation, as the legacy folder of process 2 or 3 describes it.
SimulationCase coolingVapour(int n, bool growth, double start, double rate) {
  RunSettings s = exampleMaterial(n, growth ? 3 : 2, 1);
  s.startTemperature = start;
  s.coolingRate = rate;
  SimulationCase c = legacyCaseOf(s, s.process);
  c.source = "bench";
  c.output.times = 11;
  return c;
}

// The last sample of a run; its values start with the state.
struct LastSample : ResultsSink {
  ResultsLayout layout;
  OutputSample last;
  bool begin(const SimulationCase&, const ResultsLayout& l, std::string&) override {
    layout = l;
    return true;
  }
  bool write(const OutputSample& sample, std::string&) override {
    last = sample;
    return true;
  }
  bool finish(const RunOutcome&, std::string&) override { return true; }
  double figure(const char* name) const {
    const int i = layout.find(name);
    return i < 0 ? 0.0 : last.values[layout.offset(static_cast<std::size_t>(i))];
  }
};

// The nucleation-growth vapour (1500 K, 6000 K/s) after its burst, at 0.05 s: particles
// over much of the grid, growth and coagulation both busy.
SimulationCase burstCase(int n) {
  SimulationCase c = coolingVapour(n, true, 1500.0, 6000.0);
  c.end.rule = EndRule::Time;
  c.end.time = 0.05;
  c.output.times = 2;
  return c;
}


void report(benchmark::State& state, const RunOutcome& outcome, const LastSample& last) {
  state.counters["steps"] = static_cast<double>(outcome.counts.steps);
  state.counters["rhs"] = static_cast<double>(outcome.counts.rhsEvaluations);
  state.counters["jacobians"] = static_cast<double>(outcome.counts.jacobianEvaluations);
  state.counters["factorizations"] = static_cast<double>(outcome.counts.factorizations);
  // The process's peak so far (runs are in increasing grid order, so it is this run's).
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["rejected"] = static_cast<double>(outcome.counts.errorTestFailures);
  state.counters["total_number"] = last.figure("total_number");
  state.counters["mean_diameter_nm"] = last.figure("mean_diameter") * 1e9;
  state.counters["sigma_g"] = last.figure("geometric_std");
  if (outcome.end != RunEnd::Complete) state.SkipWithError(outcome.message.c_str());
}

// bench/long-run's folder: 1800 K to 300 K at 1000 K/s, 48 nodes, nucleation and
// coagulation (the fixed-step process takes about 63 s for it).
void SimulateLongProcessTwo(benchmark::State& state) {
  const SimulationCase c = coolingVapour(48, false, 1800.0, 1000.0);
  for (auto _ : state) {
    LastSample sink;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    report(state, outcome, sink);
  }
}
BENCHMARK(SimulateLongProcessTwo)->Unit(benchmark::kMillisecond)->Iterations(3);

// The bundled nucleation-growth vapour, 1500 K to 300 K at 6000 K/s, growth on.
void SimulateNucleationGrowth(benchmark::State& state) {
  const SimulationCase c = coolingVapour(static_cast<int>(state.range(0)), true, 1500.0, 6000.0);
  for (auto _ : state) {
    LastSample sink;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    report(state, outcome, sink);
  }
}
BENCHMARK(SimulateNucleationGrowth)
    ->Arg(48)
    ->Arg(100)
    ->Arg(200)
    ->Arg(400)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// The reactor terms on the nucleation-growth vapour (`terms` 1): the gas contracting as it
// cools, a little dilution, a tube of 2 cm with a size-independent wall loss, and a precursor
// that feeds the vapour. They are diagonal, or nearly: a run with them costs about what one
// without them (`terms` 0) does. With `terms` 2 every term but the expansion is on at rates
// too small to change the run, which then takes the same steps as without them: the cost of
// the terms alone.
SimulationCase withReactor(SimulationCase c, long terms) {
  if (terms == 0) return c;
  const double scale = terms == 1 ? 1.0 : 1e-12;
  c.reactor.expansion = terms == 1;
  c.reactor.dilution.constant = 5.0 * scale;
  c.reactor.tubeDiameter = terms == 1 ? 0.02 : 2e4;
  c.reactor.wallLossRate = 0.5 * scale;
  c.precursor = PrecursorProperties{true, 1e18, 100.0 * scale, 0.0, PrecursorProduct::Vapor};
  return c;
}

// One right-hand side and one Jacobian after the burst, without the terms (`terms` 0: the
// model's own cost) and with them.
void SimulateReactorRhs(benchmark::State& state) {
  const SimulationCase c = withReactor(burstCase(static_cast<int>(state.range(0))),
                                      state.range(1));
  LastSample sink;
  runSimulation(c, sink, RunControl{});
  AerosolModel model(c);
  std::vector<double> f(static_cast<std::size_t>(model.size()));
  for (auto _ : state) {
    model.rhs(0.05, sink.last.values.data(), f.data());
    benchmark::DoNotOptimize(f.data());
  }
}
BENCHMARK(SimulateReactorRhs)->ArgsProduct({{48, 200}, {0, 1}})->Unit(benchmark::kMicrosecond);

void SimulateReactorJacobian(benchmark::State& state) {
  const SimulationCase c = withReactor(burstCase(static_cast<int>(state.range(0))),
                                      state.range(1));
  LastSample sink;
  runSimulation(c, sink, RunControl{});
  AerosolModel model(c);
  model.holdBranches(0.05, sink.last.values.data(), nullptr);
  const int size = model.size();
  std::vector<double> storage(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
  std::vector<double*> columns;
  for (int m = 0; m < size; ++m)
    columns.push_back(storage.data() + static_cast<std::size_t>(m) * size);
  for (auto _ : state) {
    model.jacobian(0.05, sink.last.values.data(), columns.data());
    benchmark::DoNotOptimize(storage.data());
  }
}
BENCHMARK(SimulateReactorJacobian)
    ->ArgsProduct({{48, 200}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The whole cooling, 1500 K to 300 K at 6000 K/s, with and without the terms.
void SimulateReactorRun(benchmark::State& state) {
  const SimulationCase c = withReactor(
      coolingVapour(static_cast<int>(state.range(0)), true, 1500.0, 6000.0), state.range(1));
  for (auto _ : state) {
    LastSample sink;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    report(state, outcome, sink);
  }
}
BENCHMARK(SimulateReactorRun)
    ->ArgsProduct({{48, 200}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Aggregates against spheres: the same case with and without [aggregates] (`aggregates` 1 and
// 0). The TiO2 flame example (a precursor making particles, coagulation and sintering by the
// library's titania law, 100 nodes) and the nucleation-growth vapour on 100 nodes as
// aggregates (D_f 1.8) that sinter by the titania law's form and constants.
SimulationCase aggregateCase(long which, long aggregates) {
  SimulationCase c;
  if (which == 0) {
    std::string message;
    if (!readCaseFile(AEROSOL_SOURCE_DIR "/examples/aggregates/tio2-flame.toml", c, message))
      return SimulationCase{};
  } else {
    c = coolingVapour(100, true, 1500.0, 6000.0);
    AggregateProperties a;
    a.sintering.form = SinteringForm::GrainBoundary;
    a.sintering.prefactor = 7.44e16;  // titania's law, s/(m4 K)
    a.sintering.activationTemperature = 31000.0;
    c.aggregates = a;
  }
  c.output.times = 11;
  if (aggregates == 0) c.aggregates.reset();
  return c;
}

void SimulateAggregates(benchmark::State& state) {
  const SimulationCase c = aggregateCase(state.range(0), state.range(1));
  if (c.grid.nodeCount == 0) {
    state.SkipWithError("examples/aggregates/tio2-flame.toml could not be read");
    return;
  }
  for (auto _ : state) {
    LastSample sink;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    report(state, outcome, sink);
  }
}
BENCHMARK(SimulateAggregates)
    ->ArgNames({"case", "aggregates"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace aerosol

BENCHMARK_MAIN();
