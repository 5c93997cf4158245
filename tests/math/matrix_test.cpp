// Matrix::Solve: worked examples, pivot choice, the zero-pivot substitute
// and the four failures, which a std::exception handler must not catch.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "math/matrix.h"

namespace {

using Aztec::Math::Matrix;
using Aztec::Math::MatrixDimensionException;
using Aztec::Math::MatrixNotSquareException;
using Aztec::Math::MatrixNullException;
using Aztec::Math::MatrixSingularException;

std::shared_ptr<Matrix> make(const std::vector<std::vector<double>>& rows) {
    auto table = std::make_shared<std::vector<Matrix::Row>>();
    for (const auto& r : rows) table->push_back(std::make_shared<std::vector<double>>(r));
    return std::make_shared<Matrix>(table);
}

std::vector<double> column(const Matrix& m) {
    std::vector<double> out;
    for (int i = 0; i < m.rows; ++i) out.push_back(m.at(i, 0));
    return out;
}

TEST(Matrix, Construction) {
    const Matrix z(3, 2);
    EXPECT_EQ(z.rows, 3);
    EXPECT_EQ(z.cols, 2);
    EXPECT_EQ(z.at(2, 1), 0.0);
    EXPECT_THROW(z.at(3, 0), std::out_of_range);
    EXPECT_THROW(z.at(0, 2), std::out_of_range);
    EXPECT_THROW(z.at(-1, 0), std::out_of_range);

    // The table constructor copies deeply.
    auto table = std::make_shared<std::vector<Matrix::Row>>();
    table->push_back(std::make_shared<std::vector<double>>(std::vector<double>{1, 2, 3}));
    Matrix m(table);
    (*(*table)[0])[0] = 9;
    EXPECT_EQ(m.at(0, 0), 1.0);
    EXPECT_EQ(m.cols, 3);
    EXPECT_THROW(Matrix(std::make_shared<std::vector<Matrix::Row>>()), std::out_of_range);
}

TEST(Matrix, SolvesSmallSystems) {
    struct Case {
        std::vector<std::vector<double>> a, b;
        std::vector<double> x;
    };
    const Case cases[] = {
        {{{2, 0}, {0, 4}}, {{2}, {8}}, {1, 2}},
        {{{2}}, {{4}}, {2}},
        {{{0, 1}, {1, 0}}, {{3}, {5}}, {5, 3}},                       // needs a row exchange
        {{{1, 2}, {1, 2}}, {{1}, {1}}, {1, 0}},                       // singular but consistent
        {{{4, -2, 1}, {-2, 4, -2}, {1, -2, 4}}, {{11}, {-16}, {17}}, {1, -2, 3}},
    };
    for (const Case& c : cases) {
        auto a = make(c.a);
        auto b = make(c.b);
        const auto x = Matrix::Solve(a, b);
        ASSERT_EQ(x->rows, static_cast<int>(c.x.size()));
        EXPECT_EQ(x->cols, 1);
        const auto got = column(*x);
        for (std::size_t i = 0; i < c.x.size(); ++i) EXPECT_NEAR(got[i], c.x[i], 1e-12) << i;
        // The inputs stay as they were.
        for (std::size_t i = 0; i < c.a.size(); ++i) {
            for (std::size_t j = 0; j < c.a[i].size(); ++j) EXPECT_EQ(a->at(int(i), int(j)), c.a[i][j]);
            EXPECT_EQ(b->at(int(i), 0), c.b[i][0]);
        }
    }
}

TEST(Matrix, ZeroPivotAndPivotChoice) {
    // [[1, 2], [1, 2]] x = [[1], [2]] has no solution. Both rows tie for the
    // first pivot; the lower one must win, after which the zero pivot is
    // replaced by 1e-20: x = (2e20, -1e20). Taking the upper row would give
    // (-2e20, 1e20), and an exception would be wrong too.
    const auto x = Matrix::Solve(make({{1, 2}, {1, 2}}), make({{1}, {2}}));
    EXPECT_NEAR(x->at(0, 0), 2e20, 1e6);
    EXPECT_NEAR(x->at(1, 0), -1e20, 1e6);
}

template <typename E>
std::string failureText(const std::shared_ptr<Matrix>& a, const std::shared_ptr<Matrix>& b) {
    bool standardCaught = false;
    try {
        try {
            Matrix::Solve(a, b);
        } catch (const std::exception&) {
            standardCaught = true;
        }
    } catch (const E& e) {
        EXPECT_FALSE(standardCaught);
        return e.what();
    }
    ADD_FAILURE() << "no exception of the expected type";
    return {};
}

TEST(Matrix, FailuresHaveFixedTextsAndEscapeStdExceptionHandlers) {
    EXPECT_EQ(failureText<MatrixNotSquareException>(make({{1, 2}, {3, 4}, {5, 6}}), make({{1}, {2}, {3}})),
              "To do this operation, matrix must be a square matrix !");
    const auto a3 = make({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    EXPECT_EQ(failureText<MatrixDimensionException>(a3, make({{1}, {2}})),
              "Dimension of the two matrices not suitable for this operation !");
    EXPECT_EQ(failureText<MatrixDimensionException>(a3, make({{1, 1}, {2, 2}, {3, 3}})),
              "Dimension of the two matrices not suitable for this operation !");
    EXPECT_EQ(failureText<MatrixSingularException>(make({{1, 2}, {0, 0}}), make({{1}, {2}})),
              "Matrix is singular this operation cannot continue !");
    EXPECT_EQ(failureText<MatrixNullException>(nullptr, make({{1}})), "To do this operation, matrix can not be null");
    // A table holding a missing row cannot be copied.
    auto broken = make({{1, 0}, {0, 1}});
    (*broken->table)[1].reset();
    EXPECT_EQ(failureText<MatrixNullException>(broken, make({{1}, {2}})),
              "To do this operation, matrix can not be null");
}

TEST(Matrix, SingularTestRunsAfterDimensionChecks) {
    EXPECT_THROW(Matrix::Solve(make({{0, 0}, {0, 0}, {0, 0}}), make({{1}, {1}, {1}})), MatrixNotSquareException);
    EXPECT_THROW(Matrix::Solve(make({{0, 0}, {0, 0}}), make({{1}})), MatrixDimensionException);
}

}  // namespace

namespace {
// An A without rows has no row 0 to copy: a null matrix, not a non-square one.
TEST(Matrix, AWithoutRowsIsANullMatrix) {
    EXPECT_THROW(Matrix::Solve(std::make_shared<Matrix>(0, 0), std::make_shared<Matrix>(0, 1)), MatrixNullException);
}
}  // namespace
