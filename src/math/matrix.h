// A small dense matrix of doubles with an LU solver, just enough for the
// 8 x 8 perspective fit.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
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

}  // namespace Aztec::Math
