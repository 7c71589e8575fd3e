#pragma once
// A mechanism part of the model: one physical process (nucleation, coagulation, growth...)
// that adds its rates to dy/dt and its block to the Jacobian, over the named state. The model
// is the sum of the parts that a case turns on and never knows what a part does.
//
// Adding a mechanism: a new file here with a class derived from MechanismPart, one line where
// AerosolModel assembles its parts, its case keys (src/case) and its docs.

#include <vector>

#include "output/results.h"
#include "properties/gas_history.h"

namespace aerosol {

// What every part sees of one evaluation besides the state: the time and the gas.
struct ModelPoint {
  double time = 0.0;  // s
  GasState gas;       // T (K) and P (atm) at that time
};

// Jacobian columns: columns[m][k] = d(dy_k/dt)/dy_m, over the whole state.
using JacobianColumns = double* const*;

class MechanismPart {
 public:
  virtual ~MechanismPart() = default;
  // A short name for messages and tests ("coagulation").
  virtual const char* name() const = 0;
  // The state entries the part's rates depend on, and those it changes.
  virtual std::vector<int> reads() const = 0;
  virtual std::vector<int> writes() const = 0;
  // Adds the part's rates at (point, y) to ydot; the tables the model fills for the point
  // (the collision table) are in place.
  virtual void addRates(const ModelPoint& point, const double* y, double* ydot) = 0;
  // Adds d(its rates)/dy to the columns.
  virtual void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) = 0;

  // Figures of its own that the part adds to the results (after the state's variables and the
  // figures every run has), and their values at (point, y), in that order, into `values`.
  virtual std::vector<ResultVariable> results() const { return {}; }
  virtual void describe(const ModelPoint&, const double*, double*) {}

  // A part whose rates jump where the state crosses a boundary (nucleation's placement of new
  // clusters on the grid) holds one branch of its rates between crossings, so that the rates
  // stay smooth for the integrator's steps; the crossings are found as roots of its root
  // functions (a sign change means the state left the branch).
  virtual int rootCount() const { return 0; }
  virtual void roots(const ModelPoint&, const double*, double*) {}
  // Takes the branch of the state at (point, y). `found` (rootCount() entries, or null) says
  // which root function the integrator stopped at and in which direction (+1, -1), for a
  // state that lies exactly on a boundary. True when the branch changed.
  virtual bool holdBranch(const ModelPoint&, const double*, const int*) { return false; }
};

// Forward difference quotients of a part's own rates, for the parts whose Jacobian block has
// no closed form here. Owns its scratch vectors.
class DifferenceQuotients {
 public:
  // Adds (f(y + h_m e_m) - f(y)) / h_m to column m for each m of `variables`, where f adds
  // the part's rates into a zeroed vector and h_m comes from `step(m, y_m)`.
  template <class Rates, class Step>
  void addColumns(int size, const double* y, const std::vector<int>& variables, Rates rates,
                  Step step, JacobianColumns columns) {
    const auto n = static_cast<std::size_t>(size);
    base_.assign(n, 0.0);
    shifted_.assign(y, y + size);
    rates(y, base_.data());
    for (int m : variables) {
      const auto i = static_cast<std::size_t>(m);
      const double original = y[m];
      shifted_[i] = original + step(m, original);
      const double taken = shifted_[i] - original;
      stepped_.assign(n, 0.0);
      rates(shifted_.data(), stepped_.data());
      for (std::size_t k = 0; k < n; ++k) columns[m][k] += (stepped_[k] - base_[k]) / taken;
      shifted_[i] = original;
    }
  }

 private:
  std::vector<double> base_, stepped_, shifted_;
};

}  // namespace aerosol
