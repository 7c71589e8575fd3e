// runSimulation: the model of a case integrated by CVODE (BDF, Newton iterations with a dense
// difference-quotient Jacobian, concentrations constrained to stay non-negative), one
// internal step at a time so that an interruption is seen between steps; the output times
// come from CVODE's interpolating polynomial.

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "case/case_checks.h"
#include "common/console.h"
#include "integrator/lapack_dense.h"
#include "integrator/simulation.h"
#include "model/model.h"

namespace aerosol {
namespace {

struct Callback {
  AerosolModel* model = nullptr;
  bool notFinite = false;
  double notFiniteTime = 0.0;
  std::string lastError;  // CVODE's own words for its last error
  std::string failure;    // an error of the model itself
};

// One evaluation of the model for CVODE: 0 when its numbers are finite; 1 when a rate is
// not, so that CVODE retries with a smaller step and gives up with CV_REPTD_RHSFUNC_ERR (or
// its Jacobian counterpart) if that does not help; -1 on an exception, which may not unwind
// through CVODE's C frames.
template <class Evaluate>
int evaluateModel(void* data, realtype t, Evaluate evaluate) {
  auto* cb = static_cast<Callback*>(data);
  try {
    if (evaluate(*cb->model)) return 0;
  } catch (const std::exception& e) {
    cb->failure = e.what();
    return -1;
  }
  cb->notFinite = true;
  cb->notFiniteTime = t;
  return 1;
}

int modelRhs(realtype t, N_Vector y, N_Vector ydot, void* data) {
  return evaluateModel(data, t, [&](AerosolModel& model) {
    return model.rhs(t, N_VGetArrayPointer(y), N_VGetArrayPointer(ydot));
  });
}

int modelJacobian(realtype t, N_Vector y, N_Vector, SUNMatrix J, void* data, N_Vector,
                  N_Vector, N_Vector) {
  return evaluateModel(data, t, [&](AerosolModel& model) {
    return model.jacobian(t, N_VGetArrayPointer(y), SUNDenseMatrix_Cols(J));
  });
}

int branchRoots(realtype t, N_Vector y, realtype* g, void* data) {
  static_cast<Callback*>(data)->model->roots(t, N_VGetArrayPointer(y), g);
  return 0;
}

void keepError(int, const char*, const char* function, char* msg, void* data) {
  auto* cb = static_cast<Callback*>(data);
  cb->lastError = std::string(function) + ": " + msg;
}

// "concentration of node 3", "precursor_concentration": entry i of the state, for messages.
std::string describeEntry(const StateLayout& layout, int i) {
  const int n = layout.nodeCount();
  const int perNode = static_cast<int>(layout.nodeVariables().size());
  if (i < n * perNode)
    return layout.nodeVariables()[static_cast<std::size_t>(i / n)].name + " of node " +
           std::to_string(i % n + 1);
  return layout.scalars()[static_cast<std::size_t>(i - n * perNode)].name;
}

IntegratorCounts countsOf(void* mem, const IntegratorCounts& before) {
  IntegratorCounts c = before;
  long rhs = 0;
  long linearRhs = 0;
  long steps = 0, jacobians = 0, setups = 0, errorTests = 0, convergence = 0;
  CVodeGetNumSteps(mem, &steps);
  CVodeGetNumLinSolvSetups(mem, &setups);
  CVodeGetNumRhsEvals(mem, &rhs);
  CVodeGetNumLinRhsEvals(mem, &linearRhs);
  CVodeGetNumJacEvals(mem, &jacobians);
  CVodeGetNumErrTestFails(mem, &errorTests);
  CVodeGetNumNonlinSolvConvFails(mem, &convergence);
  c.steps += steps;
  c.rhsEvaluations += rhs + linearRhs;
  c.jacobianEvaluations += jacobians;
  c.factorizations += setups;
  c.errorTestFailures += errorTests;
  c.convergenceFailures += convergence;
  return c;
}

std::string reasonOf(int flag, const Callback& cb) {
  std::string why;
  switch (flag) {
    case CV_TOO_MUCH_WORK:
      why = "too much work (the step limit was reached)";
      break;
    case CV_TOO_MUCH_ACC:
      why = "the tolerances asked for more accuracy than the arithmetic gives";
      break;
    case CV_ERR_FAILURE:
      why = "repeated error-test failures (the step size fell to its minimum)";
      break;
    case CV_CONV_FAILURE:
      why = "repeated convergence failures of the Newton iterations";
      break;
    case CV_REPTD_RHSFUNC_ERR:
    case CV_UNREC_RHSFUNC_ERR:
    case CV_FIRST_RHSFUNC_ERR:
    case CV_RHSFUNC_FAIL:
      why = "the rates turned not finite";
      if (cb.notFinite) why += " (last at t = " + showNumber(cb.notFiniteTime) + " s)";
      break;
    case CV_CONSTR_FAIL:
      why = "the concentrations could not be kept non-negative";
      break;
    case CV_LSETUP_FAIL:
    case CV_LSOLVE_FAIL:
      why = "the linear solver failed (a singular or not finite Jacobian)";
      break;
    default:
      break;
  }
  char* name = CVodeGetReturnFlagName(flag);
  const std::string flagName = name != nullptr ? name : std::to_string(flag);
  std::free(name);
  if (why.empty()) why = "CVODE stopped";
  why += " [" + flagName + "]";
  if (!cb.failure.empty()) why += "; " + cb.failure;
  if (!cb.lastError.empty()) why += "; CVODE says: " + cb.lastError;
  return why;
}

// Owns the SUNDIALS objects of one run.
struct Solver {
  SUNContext context = nullptr;
  void* mem = nullptr;
  N_Vector y = nullptr;
  N_Vector out = nullptr;
  N_Vector constraints = nullptr;
  N_Vector absolute = nullptr;
  N_Vector before = nullptr, after = nullptr, weights = nullptr;  // a jump of the rates
  SUNMatrix matrix = nullptr;
  SUNLinearSolver linear = nullptr;
  ~Solver() {
    if (linear != nullptr) SUNLinSolFree(linear);
    if (matrix != nullptr) SUNMatDestroy(matrix);
    if (constraints != nullptr) N_VDestroy(constraints);
    if (absolute != nullptr) N_VDestroy(absolute);
    for (N_Vector v : {before, after, weights})
      if (v != nullptr) N_VDestroy(v);
    if (out != nullptr) N_VDestroy(out);
    if (y != nullptr) N_VDestroy(y);
    if (mem != nullptr) CVodeFree(&mem);
    if (context != nullptr) SUNContext_Free(&context);
  }
};

}  // namespace

std::vector<double> outputTimes(const OutputSpec& output, double endTime) {
  const int m = std::max(output.times, 2);
  std::vector<double> times(static_cast<std::size_t>(m), 0.0);
  if (output.spacing == TimeSpacing::Logarithmic && m > 2) {
    // t = 0, then m - 1 times evenly spaced in log t from endTime * 1e-6 to endTime: six
    // decades show the fast start (nucleation bursts, the first coagulation) as well as
    // the slow end.
    const double decades = -std::log10(kFirstLogarithmicTime);
    for (int i = 1; i < m; ++i)
      times[static_cast<std::size_t>(i)] =
          endTime * std::pow(10.0, -decades * static_cast<double>(m - 1 - i) /
                                       static_cast<double>(m - 2));
  } else {
    for (int i = 1; i < m; ++i)
      times[static_cast<std::size_t>(i)] =
          endTime * (static_cast<double>(i) / static_cast<double>(m - 1));
  }
  times.back() = endTime;
  return times;
}

RunOutcome runSimulation(const SimulationCase& simulationCase, ResultsSink& sink,
                         const RunControl& control) {
  RunOutcome outcome;
  std::string message;
  auto finish = [&](RunOutcome result) {
    std::string finishMessage;
    if (!sink.finish(result, finishMessage) && result.end != RunEnd::WriteFailure) {
      result.end = RunEnd::WriteFailure;
      result.message = finishMessage;
    }
    return result;
  };

  // A case whose grid, end or start cannot be formed never starts: no results to begin with.
  AerosolModel model(simulationCase);
  const std::optional<CaseProblem> problem = checkCase(simulationCase);
  const double endTime = caseEndTime(simulationCase);
  if (!model.ok() || problem || !(std::isfinite(endTime) && endTime > 0.0)) {
    outcome.end = RunEnd::IntegratorFailure;
    outcome.message = !model.ok() ? model.message()
                      : problem   ? simulationCase.source + ": " + problem->key + " = " +
                                      problem->value + ": expected " + problem->expected
                                  : simulationCase.source + ": the run would last " +
                                      showNumber(endTime) + " s; expected an end time above 0";
    return finish(outcome);
  }
  const StateLayout& layout = model.layout();
  const std::vector<double> y0 = model.initialState();
  for (int i = 0; i < layout.size(); ++i) {
    const double value = y0[static_cast<std::size_t>(i)];
    if (!(std::isfinite(value) && value >= 0.0)) {
      outcome.end = RunEnd::IntegratorFailure;
      outcome.message = "the initial " + describeEntry(layout, i) + " is " + showNumber(value) +
                        "; expected a finite value of 0 or more";
      return finish(outcome);
    }
  }
  if (!sink.begin(simulationCase, model.resultsLayout(), message)) {
    outcome.end = RunEnd::WriteFailure;
    outcome.message = message;
    return finish(outcome);
  }
  const std::vector<double> times = outputTimes(simulationCase.output, endTime);
  const int n = layout.size();
  const Tolerances& tol = simulationCase.tolerances;

  Solver s;
  Callback cb;
  cb.model = &model;
  auto setupFailed = [&](const char* what) {
    outcome.end = RunEnd::IntegratorFailure;
    outcome.message = std::string("CVODE could not be set up (") + what + ")" +
                      (cb.lastError.empty() ? "" : ": " + cb.lastError);
    return finish(outcome);
  };
  if (SUNContext_Create(nullptr, &s.context) != 0) return setupFailed("context");
  s.y = N_VNew_Serial(n, s.context);
  s.out = N_VNew_Serial(n, s.context);
  s.constraints = N_VNew_Serial(n, s.context);
  s.absolute = N_VNew_Serial(n, s.context);
  s.before = N_VNew_Serial(n, s.context);
  s.after = N_VNew_Serial(n, s.context);
  s.weights = N_VNew_Serial(n, s.context);
  if (s.y == nullptr || s.out == nullptr || s.constraints == nullptr || s.absolute == nullptr ||
      s.before == nullptr || s.after == nullptr || s.weights == nullptr)
    return setupFailed("vectors");
  double* y = N_VGetArrayPointer(s.y);
  for (int k = 0; k < n; ++k) y[k] = y0[static_cast<std::size_t>(k)];
  // 1.0: the variable stays >= 0 (all but those no rate reads).
  const std::vector<double> constraints = layout.constraints();
  std::copy(constraints.begin(), constraints.end(), N_VGetArrayPointer(s.constraints));
  const std::vector<double> absolute = layout.absoluteTolerances();
  std::copy(absolute.begin(), absolute.end(), N_VGetArrayPointer(s.absolute));

  // The state at t = 0 goes out before the integrator starts.
  OutputSample sample;
  model.describe(0.0, y, sample);
  sample.time = times.front();
  if (!sink.write(sample, message)) {
    outcome.end = RunEnd::WriteFailure;
    outcome.message = message;
    return finish(outcome);
  }

  s.mem = CVodeCreate(CV_BDF, s.context);
  if (s.mem == nullptr) return setupFailed("memory");
  CVodeSetErrHandlerFn(s.mem, keepError, &cb);
  if (CVodeInit(s.mem, modelRhs, 0.0, s.y) != CV_SUCCESS) return setupFailed("init");
  if (CVodeSetUserData(s.mem, &cb) != CV_SUCCESS) return setupFailed("user data");
  if (CVodeSVtolerances(s.mem, tol.relative, s.absolute) != CV_SUCCESS)
    return setupFailed("tolerances");
  if (CVodeSetConstraints(s.mem, s.constraints) != CV_SUCCESS) return setupFailed("constraints");
  if (CVodeSetStopTime(s.mem, endTime) != CV_SUCCESS) return setupFailed("stop time");
  // The step limit is over the whole run; one internal step per call.
  CVodeSetMaxNumSteps(s.mem, tol.maxSteps > 0 ? tol.maxSteps : 500000);
  CVodeSetMaxHnilWarns(s.mem, -1);
  s.matrix = withWholeArrayOps(SUNDenseMatrix(n, n, s.context));
  if (s.matrix == nullptr) return setupFailed("matrix");
  s.linear = control.linearSolver == LinearSolver::Lapack && lapackAvailable()
                 ? makeLapackDenseSolver(s.y, s.context)
                 : SUNLinSol_Dense(s.y, s.matrix, s.context);
  if (s.linear == nullptr) return setupFailed("linear solver");
  if (CVodeSetLinearSolver(s.mem, s.linear, s.matrix) != CVLS_SUCCESS)
    return setupFailed("linear solver");
  if (CVodeSetJacFn(s.mem, modelJacobian) != CVLS_SUCCESS) return setupFailed("Jacobian");

  // Counts of the stretches before the last restart (a restart sets CVODE's to 0).
  IntegratorCounts before;
  // The parts' branches of the start (nucleation's placement), held until a root says the
  // state left them.
  model.holdBranches(0.0, y, nullptr);
  const int rootCount = model.rootCount();
  if (CVodeRootInit(s.mem, rootCount, rootCount > 0 ? branchRoots : nullptr) != CV_SUCCESS)
    return setupFailed("root functions");

  // A restart from (t, s.y): the method starts afresh there (order 1, a new Jacobian). It
  // keeps the root finder's memory of the last root, which no longer applies: the root
  // functions are set anew. The state at a root is interpolated, so a concentration near 0
  // may come out a little below it, within the tolerances; the restart needs it non-negative.
  auto restart = [&](double t) {
    double* state = N_VGetArrayPointer(s.y);
    for (int k = 0; k < n; ++k) state[k] = std::max(state[k], 0.0);
    before = countsOf(s.mem, before);
    return CVodeReInit(s.mem, t, s.y) == CV_SUCCESS &&
           CVodeSetStopTime(s.mem, endTime) == CV_SUCCESS &&
           CVodeRootInit(s.mem, 0, nullptr) == CV_SUCCESS &&
           CVodeRootInit(s.mem, rootCount, rootCount > 0 ? branchRoots : nullptr) == CV_SUCCESS;
  };

  // Whether the rates' jump at t, from s.before to the new branch's, moves the state over a
  // step by less than a hundredth of the error the step may make.
  std::vector<int> found(static_cast<std::size_t>(rootCount), 0);
  auto negligibleJump = [&](double t) {
    double* after = N_VGetArrayPointer(s.after);
    if (!model.rhs(t, N_VGetArrayPointer(s.y), after)) return false;
    realtype h = 0.0;
    if (CVodeGetCurrentStep(s.mem, &h) != CV_SUCCESS ||
        CVodeGetErrWeights(s.mem, s.weights) != CV_SUCCESS)
      return false;
    N_VLinearSum(h, s.after, -h, s.before, s.after);
    return N_VWrmsNorm(s.after, s.weights) < 1e-2;
  };

  std::size_t next = 1;
  double reached = 0.0;
  double lastRescue = -1.0;
  const long maxSteps = tol.maxSteps > 0 ? tol.maxSteps : 500000;
  while (next < times.size()) {
    if (control.stopRequested && control.stopRequested()) {
      outcome.end = RunEnd::Interrupted;
      outcome.message = "interrupted at t = " + showNumber(reached) + " s";
      // The state reached (y at the last step's end) is the last time of the results, so
      // that the work done before the stop is kept.
      if (reached > times[next - 1]) {
        model.describe(reached, N_VGetArrayPointer(s.y), sample);
        sample.time = reached;
        sample.counts = countsOf(s.mem, before);
        if (!sink.write(sample, message)) {
          outcome.end = RunEnd::WriteFailure;
          outcome.message = message;
        }
      }
      break;
    }
    IntegratorCounts counts = countsOf(s.mem, before);
    if (counts.steps >= maxSteps) {
      outcome.end = RunEnd::IntegratorFailure;
      outcome.message = "integrator failure at t = " + showNumber(reached) + " s: " +
                        "too much work (" + std::to_string(maxSteps) +
                        " steps, the case's limit, were not enough)";
      break;
    }
    realtype tret = 0.0;
    const int flag = CVode(s.mem, endTime, s.y, &tret, CV_ONE_STEP);
    if (flag == CV_CONSTR_FAIL && reached > lastRescue &&
        CVodeGetDky(s.mem, reached, 0, s.y) == CV_SUCCESS && restart(reached)) {
      // Nodes that empty fast sit far below the absolute tolerance, where the Newton
      // iterations leave noise of either sign, and no step size then keeps them >= 0. From
      // the last state returned the method starts again at order 1, which keeps decaying
      // concentrations positive; a second failure there ends the run.
      lastRescue = reached;
      continue;
    }
    if (flag < 0) {
      realtype tcur = reached;
      CVodeGetCurrentTime(s.mem, &tcur);
      reached = std::max(reached, static_cast<double>(tcur));
      outcome.end = RunEnd::IntegratorFailure;
      outcome.message =
          "integrator failure at t = " + showNumber(reached) + " s: " + reasonOf(flag, cb);
      break;
    }
    reached = tret;
    counts = countsOf(s.mem, before);
    bool written = true;
    while (next < times.size() && (times[next] <= tret || flag == CV_TSTOP_RETURN)) {
      const double t = times[next];
      if (next + 1 == times.size() || t >= tret) {
        // The end (or a time at the step's end): the state itself.
        model.describe(t, N_VGetArrayPointer(s.y), sample);
      } else if (CVodeGetDky(s.mem, t, 0, s.out) == CV_SUCCESS) {
        // Between steps the state comes from the method's interpolating polynomial, which the
        // non-negativity constraint does not bind: a node near 0 may dip below it by about
        // the tolerances. The constraint holds for these values too.
        double* between = N_VGetArrayPointer(s.out);
        for (int k = 0; k < n; ++k) between[k] = std::max(between[k], 0.0);
        model.describe(t, between, sample);
      } else {
        model.describe(tret, N_VGetArrayPointer(s.y), sample);
      }
      sample.time = t;
      sample.counts = counts;
      if (!sink.write(sample, message)) {
        written = false;
        break;
      }
      ++next;
    }
    if (!written) {
      outcome.end = RunEnd::WriteFailure;
      outcome.message = message;
      break;
    }
    // The parts' branches from the state the step reached (a root return stops just past a
    // boundary). When one changed, a rate jumps here: the method restarts from this state,
    // unless the jump is far below what a step may err by (clusters that move between nodes
    // while they nucleate at a negligible rate, as v* sweeps down a fine grid); then, at a
    // root, it goes on with the new branch (CVODE evaluates the root functions anew there).
    const bool atRoot = flag == CV_ROOT_RETURN;
    if (atRoot) {
      CVodeGetRootInfo(s.mem, found.data());
      model.rhs(tret, N_VGetArrayPointer(s.y), N_VGetArrayPointer(s.before));
    }
    if (model.holdBranches(tret, N_VGetArrayPointer(s.y), atRoot ? found.data() : nullptr) &&
        tret < endTime && !(atRoot && negligibleJump(tret))) {
      if (!restart(tret)) {
        outcome.end = RunEnd::IntegratorFailure;
        outcome.message = "integrator failure at t = " + showNumber(tret) +
                          " s: the integrator could not restart after the nucleating node "
                          "changed" + (cb.lastError.empty() ? "" : ": " + cb.lastError);
        break;
      }
    }
    if (control.progress) control.progress(tret);
  }
  outcome.timeReached = reached;
  outcome.counts = countsOf(s.mem, before);
  return finish(outcome);
}

}  // namespace aerosol
