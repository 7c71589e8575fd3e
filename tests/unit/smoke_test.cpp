#include <gtest/gtest.h>

#include "coagulation/node_grid.h"

namespace aerosol {
namespace {

TEST(NodeGrid, ThreeNodesSpanTwelveDecades) {
  NodeGrid grid = makeNodeGrid(50);
  buildNodeGrid(grid, 1.0, 1e12, 1.0, 3, kThirdSeven);
  EXPECT_DOUBLE_EQ(grid.volume[2], 1e12);
  EXPECT_DOUBLE_EQ(grid.volume[3], 1e24);
}

}  // namespace
}  // namespace aerosol
