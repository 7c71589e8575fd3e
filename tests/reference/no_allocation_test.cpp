// The time loops allocate nothing: every table is made before the first step. Counted by
// replacing the global allocation functions in this test program.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/fast_pass_kernels.h"
#include "processes/passes.h"
#include "reference/literal_kernels.h"
#include "support/example_material.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace aerosol {
namespace {

template <class Kernels>
void expectPassesAllocateNothing(bool growth, int collisionFunction) {
  Kernels kernels;
  NucleationRun run(exampleMaterial(26, growth ? 3 : 2, collisionFunction), growth, kernels);
  const long before = allocations.load();
  for (int pass = 0; pass < 2000; ++pass) {
    run.beginPass();
    run.finishPass();
  }
  EXPECT_EQ(allocations.load(), before) << (growth ? "process 3" : "process 2");
  EXPECT_GT(run.totalNumber, 0.0);
}

TEST(TimeLoops, AllocateNothing) {
  for (int cf : {1, 2}) {
    expectPassesAllocateNothing<FastPassKernels>(false, cf);
    expectPassesAllocateNothing<FastPassKernels>(true, cf);
  }
  FastPassKernels kernels;
  RunSettings s = exampleMaterial(26, 1, 1);
  s.startTemperature = 300.0;
  CoagulationRun coagulation(s, 1.0, 1e20, kernels);
  RunSettings g = exampleMaterial(26, 4, 1);
  FastPassKernels growthKernels;
  SeededGrowthRun seeded(g, 10, 1e12, growthKernels);
  const long before = allocations.load();
  for (int step = 0; step < 500; ++step) {
    coagulation.step();
    seeded.beginStep();
    seeded.finishStep();
  }
  EXPECT_EQ(allocations.load(), before);
}

}  // namespace
}  // namespace aerosol
