#include "integrator/lapack_dense.h"

#include <sunmatrix/sunmatrix_dense.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#ifdef AEROSOL_WITH_LAPACK
extern "C" {
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* pivots, int* info);
void dgetrs_(const char* trans, const int* n, const int* rhs, const double* a, const int* lda,
             const int* pivots, double* b, const int* ldb, int* info, std::size_t transLength);
}
#endif

namespace aerosol {
namespace {

bool sameShape(SUNMatrix A, SUNMatrix B) {
  return SUNMatGetID(A) == SUNMATRIX_DENSE && SUNMatGetID(B) == SUNMATRIX_DENSE &&
         SUNDenseMatrix_Rows(A) == SUNDenseMatrix_Rows(B) &&
         SUNDenseMatrix_Columns(A) == SUNDenseMatrix_Columns(B);
}

int copyWhole(SUNMatrix A, SUNMatrix B) {
  if (!sameShape(A, B)) return SUNMAT_ILL_INPUT;
  const double* from = SUNDenseMatrix_Data(A);
  std::copy(from, from + SUNDenseMatrix_LData(A), SUNDenseMatrix_Data(B));
  return SUNMAT_SUCCESS;
}

// A = c A + I: each entry times c, then 1 added on the diagonal (SUNDIALS' order).
int scaleAddIdentityWhole(realtype c, SUNMatrix A) {
  if (SUNMatGetID(A) != SUNMATRIX_DENSE) return SUNMAT_ILL_INPUT;
  double* a = SUNDenseMatrix_Data(A);
  const sunindextype rows = SUNDenseMatrix_Rows(A);
  const sunindextype columns = SUNDenseMatrix_Columns(A);
  const sunindextype size = SUNDenseMatrix_LData(A);
  for (sunindextype k = 0; k < size; ++k) a[k] *= c;
  for (sunindextype j = 0; j < columns && j < rows; ++j) a[j * rows + j] += 1.0;
  return SUNMAT_SUCCESS;
}

SUNMatrix cloneWithWholeArrayOps(SUNMatrix A) {
  SUNMatrix B = SUNMatClone_Dense(A);
  return B == nullptr ? nullptr : withWholeArrayOps(B);
}

}  // namespace

SUNMatrix withWholeArrayOps(SUNMatrix A) {
  if (A == nullptr || SUNMatGetID(A) != SUNMATRIX_DENSE) return A;
  A->ops->copy = copyWhole;
  A->ops->scaleaddi = scaleAddIdentityWhole;
  A->ops->clone = cloneWithWholeArrayOps;
  return A;
}

#ifdef AEROSOL_WITH_LAPACK
namespace {

struct Content {
  int n = 0;
  std::vector<int> pivots;
  long lastFlag = 0;
};

Content* contentOf(SUNLinearSolver S) { return static_cast<Content*>(S->content); }

// Debian's serial OpenBLAS hands out its work buffers without a lock: two runs factorising at
// once in threads of one process (Python threads, an in-process sweep) corrupt each other's
// LU. They take turns at LAPACK; everything else in a run goes on in parallel.
std::mutex& lapackTurn() {
  static std::mutex turn;
  return turn;
}

SUNLinearSolver_Type type(SUNLinearSolver) { return SUNLINEARSOLVER_DIRECT; }
SUNLinearSolver_ID id(SUNLinearSolver) { return SUNLINEARSOLVER_CUSTOM; }
int initialize(SUNLinearSolver S) {
  contentOf(S)->lastFlag = SUNLS_SUCCESS;
  return SUNLS_SUCCESS;
}

// The LU factorisation of A (column-major, as SUNDIALS keeps it) in place.
int setup(SUNLinearSolver S, SUNMatrix A) {
  Content& c = *contentOf(S);
  if (SUNMatGetID(A) != SUNMATRIX_DENSE || SUNDenseMatrix_Rows(A) != c.n ||
      SUNDenseMatrix_Columns(A) != c.n) {
    c.lastFlag = SUNLS_ILL_INPUT;
    return SUNLS_ILL_INPUT;
  }
  int info = 0;
  const std::lock_guard<std::mutex> turn(lapackTurn());
  dgetrf_(&c.n, &c.n, SUNDenseMatrix_Data(A), &c.n, c.pivots.data(), &info);
  // info > 0: a zero pivot, which CVODE recovers from with a smaller step.
  c.lastFlag = info;
  if (info < 0) return SUNLS_PACKAGE_FAIL_UNREC;
  return info > 0 ? SUNLS_LUFACT_FAIL : SUNLS_SUCCESS;
}

int solve(SUNLinearSolver S, SUNMatrix A, N_Vector x, N_Vector b, realtype) {
  Content& c = *contentOf(S);
  N_VScale(1.0, b, x);
  const int one = 1;
  int info = 0;
  const std::lock_guard<std::mutex> turn(lapackTurn());
  dgetrs_("N", &c.n, &one, SUNDenseMatrix_Data(A), &c.n, c.pivots.data(), N_VGetArrayPointer(x),
          &c.n, &info, 1);
  c.lastFlag = info;
  return info < 0 ? SUNLS_PACKAGE_FAIL_UNREC : SUNLS_SUCCESS;
}

sunindextype lastFlag(SUNLinearSolver S) { return contentOf(S)->lastFlag; }

int space(SUNLinearSolver S, long* real, long* integer) {
  *real = 0;
  *integer = contentOf(S)->n;
  return SUNLS_SUCCESS;
}

int freeSolver(SUNLinearSolver S) {
  if (S == nullptr) return SUNLS_SUCCESS;
  delete contentOf(S);
  S->content = nullptr;
  SUNLinSolFreeEmpty(S);
  return SUNLS_SUCCESS;
}

}  // namespace

bool lapackAvailable() { return true; }

SUNLinearSolver makeLapackDenseSolver(N_Vector like, SUNContext context) {
  SUNLinearSolver S = SUNLinSolNewEmpty(context);
  if (S == nullptr) return nullptr;
  Content* c = new (std::nothrow) Content;
  if (c == nullptr) {
    SUNLinSolFreeEmpty(S);
    return nullptr;
  }
  c->n = static_cast<int>(N_VGetLength(like));
  c->pivots.assign(static_cast<std::size_t>(c->n), 0);
  S->content = c;
  S->ops->gettype = type;
  S->ops->getid = id;
  S->ops->initialize = initialize;
  S->ops->setup = setup;
  S->ops->solve = solve;
  S->ops->lastflag = lastFlag;
  S->ops->space = space;
  S->ops->free = freeSolver;
  return S;
}

#else

bool lapackAvailable() { return false; }
SUNLinearSolver makeLapackDenseSolver(N_Vector, SUNContext) { return nullptr; }

#endif

}  // namespace aerosol
