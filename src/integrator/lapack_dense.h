#pragma once
// A SUNDIALS linear solver over an optimised dense LU: LAPACK's dgetrf and dgetrs (from the
// serial OpenBLAS), on CVODE's dense matrix in place. SUNDIALS' own dense LU is unblocked and,
// at a few hundred unknowns, the largest cost of a run; Debian's SUNDIALS has no LAPACK
// solver of its own. Same interface, same pivoting (partial, by rows).

#include <sundials/sundials_context.h>
#include <sundials/sundials_linearsolver.h>
#include <sundials/sundials_matrix.h>
#include <sundials/sundials_nvector.h>

namespace aerosol {

// A solver for n unknowns; null when it cannot be made. Free it with SUNLinSolFree.
SUNLinearSolver makeLapackDenseSolver(N_Vector like, SUNContext context);

// Whether the program was built with LAPACK (else makeLapackDenseSolver returns null).
bool lapackAvailable();

// Gives CVODE's dense matrix A, and the clones CVODE makes of it (its saved Jacobian), a copy
// and an I + c A that run over the whole array at once instead of element by element through
// the columns: the same values, bit for bit, at a fraction of the time (at 200 unknowns the
// two took a tenth of an aggregate run). Returns A.
SUNMatrix withWholeArrayOps(SUNMatrix A);

}  // namespace aerosol
