#include "model/collisions.h"

namespace aerosol {

Collisions::Collisions(const EngineSetup& setup, const NodeGrid& grid, const SplitOperator* split,
                       int n, bool wholeTable, bool pressureVaries)
    : table_(makeCollisionKernel(grid.capacity)),
      form_(setup.collision.form),
      wholeTable_(wholeTable),
      pressureVaries_(pressureVaries) {
  engine_.prepare(setup, grid, split, n);
}

void Collisions::fill(const GasState& gas) {
  // The Jacobian comes at the state of a right-hand side just evaluated: the same table.
  if (filled_ && gas.temperature == temperature_ && gas.pressure == pressure_) return;
  if (pressureVaries_) engine_.setGasPressure(gas.pressure);
  if (wholeTable_)
    engine_.fillKernel(gas.temperature, table_);
  else
    engine_.fillMonomerRow(gas.temperature, table_);
  filled_ = true;
  temperature_ = gas.temperature;
  pressure_ = gas.pressure;
  complete_ = false;
}

void Collisions::completeTable() {
  if (complete_ || !wholeTable_) return;
  engine_.writeFullTable(table_);
  complete_ = true;
}

}  // namespace aerosol
