#include "math/matrix.h"

#include <cmath>
#include <stdexcept>

namespace Aztec::Math {

const char* MatrixSingularException::what() const noexcept {
    return "Matrix is singular this operation cannot continue !";
}
const char* MatrixNotSquareException::what() const noexcept {
    return "To do this operation, matrix must be a square matrix !";
}
const char* MatrixDimensionException::what() const noexcept {
    return "Dimension of the two matrices not suitable for this operation !";
}
const char* MatrixNullException::what() const noexcept {
    return "To do this operation, matrix can not be null";
}

namespace {

using Rows = std::vector<std::vector<double>>;

Rows copyRows(const Matrix::Table& t) {
    if (!t) throw std::out_of_range("invalid vector<T> subscript");
    Rows out;
    out.reserve(t->size());
    for (const auto& row : *t) {
        if (!row) throw std::out_of_range("invalid vector<T> subscript");
        out.push_back(*row);
    }
    return out;
}

}  // namespace

Matrix::Matrix(std::int32_t r, std::int32_t c) : table(std::make_shared<std::vector<Row>>()), rows(r), cols(c) {
    table->reserve(r > 0 ? static_cast<std::size_t>(r) : 0);
    for (std::int32_t i = 0; i < r; ++i) {
        table->push_back(std::make_shared<std::vector<double>>(c > 0 ? static_cast<std::size_t>(c) : 0, 0.0));
    }
}

Matrix::Matrix(const Table& source) : table(std::make_shared<std::vector<Row>>()) {
    for (const auto& row : *source) table->push_back(std::make_shared<std::vector<double>>(*row));
    rows = static_cast<std::int32_t>(table->size());
    cols = static_cast<std::int32_t>(table->at(0)->size());
}

Matrix::~Matrix() {
    table.reset();
    rows = 0;
    cols = 0;
}

double& Matrix::at(std::int32_t i, std::int32_t j) {
    return table->at(static_cast<std::size_t>(i))->at(static_cast<std::size_t>(j));
}
double Matrix::at(std::int32_t i, std::int32_t j) const {
    return table->at(static_cast<std::size_t>(i))->at(static_cast<std::size_t>(j));
}

std::shared_ptr<Matrix> Matrix::Solve(const std::shared_ptr<Matrix>& aHandle,
                                      const std::shared_ptr<Matrix>& bHandle) {
    Rows lu, x;
    try {
        if (!aHandle || !bHandle) throw std::out_of_range("invalid vector<T> subscript");
        lu = copyRows(aHandle->table);
        x = copyRows(bHandle->table);
    } catch (const std::exception&) {
        throw MatrixNullException();
    }
    // A without rows has no row 0 to copy: a null matrix, as a failed copy is.
    if (lu.empty()) throw MatrixNullException();
    const std::size_t n = lu.size();
    // Only row 0 is measured; a ragged A is caught by the checked reads below.
    if (lu.at(0).size() != n) throw MatrixNotSquareException();
    if (x.size() != n || x.at(0).size() != 1) throw MatrixDimensionException();

    std::vector<std::size_t> indx(n, 0);
    std::vector<double> vv(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        double big = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const double t = std::fabs(lu[i].at(j));
            if (t > big) big = t;
        }
        if (big == 0.0) throw MatrixSingularException();
        vv[i] = 1.0 / big;
    }

    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = 0; i < j; ++i) {
            double sum = lu[i].at(j);
            for (std::size_t k = 0; k < i; ++k) sum -= lu[i].at(k) * lu[k].at(j);
            lu[i].at(j) = sum;
        }
        double big = 0.0;
        std::size_t imax = j;
        for (std::size_t i = j; i < n; ++i) {
            double sum = lu[i].at(j);
            for (std::size_t k = 0; k < j; ++k) sum -= lu[i].at(k) * lu[k].at(j);
            lu[i].at(j) = sum;
            // >= : of equally good pivots the lowest row wins.
            const double dum = vv[i] * std::fabs(sum);
            if (dum >= big) {
                big = dum;
                imax = i;
            }
        }
        if (imax != j) {
            for (std::size_t k = 0; k < n; ++k) std::swap(lu[imax].at(k), lu[j].at(k));
            vv[imax] = vv[j];
        }
        indx[j] = imax;
        if (j != n - 1) {
            if (lu[j][j] == 0.0) lu[j][j] = 1e-20;
            const double dum = 1.0 / lu[j][j];
            for (std::size_t i = j + 1; i < n; ++i) lu[i][j] *= dum;
        }
    }
    if (lu[n - 1][n - 1] == 0.0) lu[n - 1][n - 1] = 1e-20;

    std::ptrdiff_t ii = -1;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t ip = indx[i];
        double sum = x.at(ip).at(0);
        x.at(ip).at(0) = x[i].at(0);
        if (ii != -1) {
            for (std::size_t k = static_cast<std::size_t>(ii); k < i; ++k) sum -= lu[i][k] * x[k].at(0);
        } else if (sum != 0.0) {
            ii = static_cast<std::ptrdiff_t>(i);
        }
        x[i].at(0) = sum;
    }
    for (std::size_t i = n; i-- > 0;) {
        double sum = x[i].at(0);
        for (std::size_t k = i + 1; k < n; ++k) sum -= lu[i][k] * x[k].at(0);
        x[i].at(0) = sum / lu[i][i];
    }

    auto solution = std::make_shared<std::vector<Row>>();
    for (auto& row : x) solution->push_back(std::make_shared<std::vector<double>>(std::move(row)));
    return std::make_shared<Matrix>(solution);
}

}  // namespace Aztec::Math
