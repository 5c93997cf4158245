// A small dense matrix of doubles with an LU solver, just enough for the
// 8 x 8 perspective fit.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace Aztec::Math {

// The four failures of Solve. Their standard base is private on purpose: a
// handler for std::exception does not catch them, only a handler for the
// type itself or catch (...).
class MatrixSingularException : private std::exception {
public:
    ~MatrixSingularException() override = default;
    const char* what() const noexcept override;
};
class MatrixNotSquareException : private std::exception {
public:
    ~MatrixNotSquareException() override = default;
    const char* what() const noexcept override;
};
class MatrixDimensionException : private std::exception {
public:
    ~MatrixDimensionException() override = default;
    const char* what() const noexcept override;
};
class MatrixNullException : private std::exception {
public:
    ~MatrixNullException() override = default;
    const char* what() const noexcept override;
};

class Matrix {
public:
    using Row = std::shared_ptr<std::vector<double>>;
    using Table = std::shared_ptr<std::vector<Row>>;

    // rows x cols zeros.
    Matrix(std::int32_t rows, std::int32_t cols);
    // Deep copy of an element table; cols is the length of row 0, so a
    // table without rows throws std::out_of_range.
    explicit Matrix(const Table& source);
    ~Matrix();
    Matrix(const Matrix&) = default;
    Matrix& operator=(const Matrix&) = default;

    // Checked element access on both indices (std::out_of_range).
    double& at(std::int32_t i, std::int32_t j);
    double at(std::int32_t i, std::int32_t j) const;

    // Solves A x = b for square A (n x n) and b (n x 1) by Crout LU with
    // implicit partial pivoting. A zero pivot is replaced by 1e-20 rather
    // than reported; a row of zeros throws MatrixSingularException.
    static std::shared_ptr<Matrix> Solve(const std::shared_ptr<Matrix>& a,
                                         const std::shared_ptr<Matrix>& b);

    Table table;
    std::int32_t rows = 0;
    std::int32_t cols = 0;
};

// What Solve does, on a fixed-size system held in arrays: the same
// arithmetic in the same order (so the same results to the last bit),
// without allocating. For the perspective fits, which solve thousands of
// small systems per symbol. A row of zeros throws MatrixSingularException.
template <std::size_t N>
void solveInPlace(std::array<std::array<double, N>, N>& lu, std::array<double, N>& x) {
    std::array<std::size_t, N> indx{};
    std::array<double, N> vv{};
    for (std::size_t i = 0; i < N; ++i) {
        double big = 0.0;
        for (std::size_t j = 0; j < N; ++j) {
            const double t = std::fabs(lu[i][j]);
            if (t > big) big = t;
        }
        if (big == 0.0) throw MatrixSingularException();
        vv[i] = 1.0 / big;
    }
    for (std::size_t j = 0; j < N; ++j) {
        for (std::size_t i = 0; i < j; ++i) {
            double sum = lu[i][j];
            for (std::size_t k = 0; k < i; ++k) sum -= lu[i][k] * lu[k][j];
            lu[i][j] = sum;
        }
        double big = 0.0;
        std::size_t imax = j;
        for (std::size_t i = j; i < N; ++i) {
            double sum = lu[i][j];
            for (std::size_t k = 0; k < j; ++k) sum -= lu[i][k] * lu[k][j];
            lu[i][j] = sum;
            const double dum = vv[i] * std::fabs(sum);
            if (dum >= big) {
                big = dum;
                imax = i;
            }
        }
        if (imax != j) {
            std::swap(lu[imax], lu[j]);
            vv[imax] = vv[j];
        }
        indx[j] = imax;
        if (j != N - 1) {
            if (lu[j][j] == 0.0) lu[j][j] = 1e-20;
            const double dum = 1.0 / lu[j][j];
            for (std::size_t i = j + 1; i < N; ++i) lu[i][j] *= dum;
        }
    }
    if (lu[N - 1][N - 1] == 0.0) lu[N - 1][N - 1] = 1e-20;
    std::ptrdiff_t ii = -1;
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t ip = indx[i];
        double sum = x[ip];
        x[ip] = x[i];
        if (ii != -1) {
            for (std::size_t k = static_cast<std::size_t>(ii); k < i; ++k) sum -= lu[i][k] * x[k];
        } else if (sum != 0.0) {
            ii = static_cast<std::ptrdiff_t>(i);
        }
        x[i] = sum;
    }
    for (std::size_t i = N; i-- > 0;) {
        double sum = x[i];
        for (std::size_t k = i + 1; k < N; ++k) sum -= lu[i][k] * x[k];
        x[i] = sum / lu[i][i];
    }
}

// Solves the N x N system a x = b (a row-major) by elimination with partial
// pivoting; false when a pivot is nearly zero. For the model fits' damped
// normal equations, which may be singular.
template <std::size_t N>
bool solvePivoted(std::array<double, N * N> a, std::array<double, N> b, std::array<double, N>& x) {
    for (std::size_t c = 0; c < N; ++c) {
        std::size_t p = c;
        for (std::size_t r = c + 1; r < N; ++r)
            if (std::fabs(a[r * N + c]) > std::fabs(a[p * N + c])) p = r;
        if (std::fabs(a[p * N + c]) < 1e-12) return false;
        if (p != c) {
            for (std::size_t k = 0; k < N; ++k) std::swap(a[c * N + k], a[p * N + k]);
            std::swap(b[c], b[p]);
        }
        for (std::size_t r = c + 1; r < N; ++r) {
            const double f = a[r * N + c] / a[c * N + c];
            for (std::size_t k = c; k < N; ++k) a[r * N + k] -= f * a[c * N + k];
            b[r] -= f * b[c];
        }
    }
    for (std::size_t r = N; r-- > 0;) {
        double s = b[r];
        for (std::size_t k = r + 1; k < N; ++k) s -= a[r * N + k] * x[k];
        x[r] = s / a[r * N + r];
    }
    return true;
}

// One Levenberg-Marquardt step on the normal equations jtj x = jtr (jtj
// row-major): the diagonal is damped by 1 + lambda and the step offered to
// `accept`, which keeps it and returns true when it lowers the cost; up to
// six dampings are tried, lambda falling threefold (not below 1e-6) on
// success and growing eightfold on failure. Nothing when a damped system
// is singular, else whether a step was kept.
template <std::size_t N, typename Accept>
std::optional<bool> dampedStep(const std::array<double, N * N>& jtj, const std::array<double, N>& jtr, double& lambda,
                               Accept&& accept) {
    for (int attempt = 0; attempt < 6; ++attempt) {
        std::array<double, N * N> damped = jtj;
        for (std::size_t a = 0; a < N; ++a) damped[a * N + a] *= 1.0 + lambda;
        std::array<double, N> step{};
        if (!solvePivoted<N>(damped, jtr, step)) return std::nullopt;
        if (accept(step)) {
            lambda = std::max(1e-6, lambda / 3.0);
            return true;
        }
        lambda *= 8.0;
    }
    return false;
}

}  // namespace Aztec::Math
