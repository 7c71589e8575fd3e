#pragma once
// What a simulate run hands out at every output time, as data: the variables with their units
// and long names (per node or per time), the samples, the integrator's counts and how the run
// ended. The model says which variables its state and figures make; the NetCDF and CSV sinks
// and the Python Dataset are built from that list, so a new variable appears in every output
// without editing them.

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "case/case.h"

namespace aerosol {

// The integrator's counts so far.
struct IntegratorCounts {
  long steps = 0;
  long rhsEvaluations = 0;       // right-hand sides, those for difference quotients included
  long jacobianEvaluations = 0;
  long factorizations = 0;       // LU factorisations of the Newton matrix
  long errorTestFailures = 0;    // steps rejected by the error test
  long convergenceFailures = 0;  // nonlinear solver failures
};

// The counts in the outputs, stored as 32-bit integers with units "1".
struct CountVariable {
  const char* name;
  const char* longName;
  long IntegratorCounts::*field;
};

inline constexpr CountVariable kOutputCounts[] = {
    {"steps", "integrator steps taken since t = 0", &IntegratorCounts::steps},
    {"rhs_evaluations", "right-hand side evaluations since t = 0 (difference quotients included)",
     &IntegratorCounts::rhsEvaluations},
    {"jacobian_evaluations", "Jacobian evaluations since t = 0",
     &IntegratorCounts::jacobianEvaluations},
    {"factorizations", "LU factorisations of the Newton matrix since t = 0",
     &IntegratorCounts::factorizations},
    {"error_test_failures", "steps rejected by the local error test since t = 0",
     &IntegratorCounts::errorTestFailures},
    {"convergence_failures", "nonlinear solver convergence failures since t = 0",
     &IntegratorCounts::convergenceFailures},
};

// Counts are cumulative and stay far below 2^31 in any run that finishes (the step limit is
// a case setting); a larger one is stored as the largest int rather than wrapped.
inline int storedCount(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < 0) return 0;
  return static_cast<int>(value);
}

// One variable of the results, with the attributes every output gives it.
struct ResultVariable {
  ResultVariable() = default;
  ResultVariable(std::string name_, std::string units_, std::string longName_,
                 bool perNode_ = false, std::string standardName_ = "",
                 bool mayBeMissing_ = false)
      : name(std::move(name_)),
        units(std::move(units_)),
        longName(std::move(longName_)),
        perNode(perNode_),
        standardName(std::move(standardName_)),
        mayBeMissing(mayBeMissing_) {}

  std::string name;
  std::string units;         // UDUNITS form ("m-3", "m3 m-3")
  std::string longName;
  bool perNode = false;      // (time, node), else (time)
  std::string standardName;  // CF standard name; "" where none exists
  bool mayBeMissing = false;  // NaN marks a missing value (NetCDF _FillValue NaN)
};

// A coordinate of the node dimension: one value per node, fixed for the run (the node's
// volume, its diameter). Every per-node variable is labelled with them.
struct NodeCoordinate {
  ResultVariable variable;
  std::vector<double> values;  // node k at k - 1
};

// The variables of a run's results and its coordinates. A sample holds the variables'
// values in this order: n values for a per-node variable (node k at k - 1), one for the rest.
class ResultsLayout {
 public:
  int nodeCount = 0;
  int firstParticleNode = 1;  // 2 when node 1 holds the vapour monomers
  // The dimension coordinates: the samples' times, and the node numbers 1..n.
  ResultVariable time{"time", "s", "time since the start of the run", false, "time"};
  ResultVariable node{"node", "1", "node number", true};

  void addNodeCoordinate(ResultVariable variable, std::vector<double> values);
  const std::vector<NodeCoordinate>& nodeCoordinates() const { return coordinates_; }
  // Whether the node coordinates have a value at every node.
  bool coordinatesComplete() const;
  // The node coordinates' names, space-separated: the CF `coordinates` attribute of the
  // per-node variables.
  std::string nodeCoordinateNames() const;

  void add(ResultVariable variable);
  const std::vector<ResultVariable>& variables() const { return variables_; }
  // Where variable i's values start in a sample, and how many values a sample holds.
  std::size_t offset(std::size_t i) const { return offsets_[i]; }
  std::size_t valueCount() const { return count_; }
  std::size_t width(std::size_t i) const {
    return variables_[i].perNode ? static_cast<std::size_t>(nodeCount) : 1;
  }
  // The index of the variable of that name; -1 when there is none.
  int find(std::string_view name) const;

 private:
  std::vector<NodeCoordinate> coordinates_;
  std::vector<ResultVariable> variables_;
  std::vector<std::size_t> offsets_;
  std::size_t count_ = 0;
};

// The state at one output time with every figure derived from it.
struct OutputSample {
  double time = 0.0;           // s
  std::vector<double> values;  // in the layout's order
  IntegratorCounts counts;     // cumulative at this time
};

enum class RunEnd { Complete, IntegratorFailure, Interrupted, WriteFailure };

struct RunOutcome {
  RunEnd end = RunEnd::Complete;
  double timeReached = 0.0;  // s
  std::string message;       // why a run did not complete
  IntegratorCounts counts;
};

// How a run ended, in the words every output uses: "complete", "integrator failure at t =
// ... s: <reason>", "interrupted at t = ... s", "write failure at t = ... s: <reason>".
std::string describeRunEnd(const RunOutcome& outcome);

// The global text attributes in the file's order; first_particle_node (an integer) and
// run_end follow them.
std::vector<std::pair<std::string, std::string>> globalTextAttributes(
    const SimulationCase& simulationCase, const std::string& version);

class ResultsSink {
 public:
  virtual ~ResultsSink() = default;
  // Before the first sample. False (with message) ends the run with a write failure.
  virtual bool begin(const SimulationCase& simulationCase, const ResultsLayout& layout,
                     std::string& message) = 0;
  virtual bool write(const OutputSample& sample, std::string& message) = 0;
  // Once at the end, whatever the outcome; the file must then say how the run ended.
  virtual bool finish(const RunOutcome& outcome, std::string& message) = 0;
};

}  // namespace aerosol
