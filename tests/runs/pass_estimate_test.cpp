// The pass estimate that warns about (and refuses) very long cooling runs must never exceed
// the passes a run really takes, or it would refuse runs that can finish. Checked against
// runs stepped to 300 K through the same run records as the program.

#include <gtest/gtest.h>

#include "engine/fast_pass_kernels.h"
#include "processes/passes.h"
#include "support/example_material.h"

namespace aerosol {
namespace {

RunSettings cooling(int process, double start, double rate) {
  RunSettings s = exampleMaterial(3, process, 1);
  s.startTemperature = start;
  s.coolingRate = rate;
  return s;
}

// Passes until the gas is at or below 300 K, or `most` (a run that would not end).
long long passesToEnd(const RunSettings& s, long long most) {
  FastPassKernels kernels;
  long long passes = 0;
  if (s.process == 4) {
    SeededGrowthRun run(s, 2, 1e10, kernels);
    while (run.T > 300.0 && passes < most) {
      run.beginStep();
      run.finishStep();
      ++passes;
    }
  } else {
    NucleationRun run(s, s.process == 3, kernels);
    while (run.T > 300.0 && passes < most) {
      run.beginPass();
      run.finishPass();
      ++passes;
    }
  }
  return passes;
}

TEST(PassEstimate, IsALowerBoundAndCloseWhereThePhasesAreKnown) {
  struct Case {
    int process;
    double start, rate;
    double slack;  // passes the bound may fall short by
  };
  // Processes 2 and 3 reach the fine step at t = 0.1405 s and 0.1401 s; the bound grants
  // the coarse phase 0.15 s of cooling: up to 0.0099 s / 5e-8 s more fine passes, plus the
  // 14,001 coarse passes it does not count. Process 4 has one step: the bound is nearly exact,
  // except where a step is below an ulp: 0.75 ulp per step (2^-44.58 K) rounds to a whole
  // ulp, so the run takes 1/0.75 of the naive count, and the bound 1/1 of it.
  for (const Case& c : {Case{2, 301.6, 10.0, 2.2e5}, Case{3, 301.6, 10.0, 2.2e5},
                        Case{2, 300.5, 10.0, 281.0}, Case{4, 301.0, 1e4, 2.0},
                        Case{4, 300.0000001, 3.0 * 2.8421709430404007e-06 / 2.0, 1.8e6 / 3.0},
                        Case{4, 300.0, 1e4, 0.0}}) {
    SCOPED_TRACE(testing::Message() << "process " << c.process << " from " << c.start
                                    << " K at " << c.rate << " K/s");
    const RunSettings s = cooling(c.process, c.start, c.rate);
    const double bound = estimatePasses(s);
    const long long passes = passesToEnd(s, 10'000'000);
    ASSERT_LT(passes, 10'000'000);
    EXPECT_LE(bound, static_cast<double>(passes));
    EXPECT_GE(bound, static_cast<double>(passes) - c.slack);
  }
}

TEST(PassEstimate, CoolingThatNeverEndsHasNoBound) {
  EXPECT_EQ(estimatePasses(cooling(2, 400.0, 0.0)), INFINITY);
  EXPECT_EQ(estimatePasses(cooling(4, 400.0, -1.0)), INFINITY);
  // Process 1 does not cool; nor does a run that starts at 300 K.
  EXPECT_EQ(estimatePasses(cooling(1, 400.0, 1e-3)), 0.0);
  EXPECT_EQ(estimatePasses(cooling(3, 300.0, 0.0)), 0.0);
  // 100 K at 1e-3 K/s: 1e13 steps of 1e-8 s, 2e12 of 5e-8 s, both well past the refusal.
  EXPECT_NEAR(estimatePasses(cooling(4, 400.0, 1e-3)), 1e13, 0.01e13);
  EXPECT_NEAR(estimatePasses(cooling(2, 400.0, 1e-3)), 2e12, 0.01e12);
  EXPECT_GT(estimatePasses(cooling(3, 400.0, 1e-3)), kMostPasses);
}

}  // namespace
}  // namespace aerosol
