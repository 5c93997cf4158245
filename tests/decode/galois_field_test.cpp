// The five fields and polynomial arithmetic over them.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "decode/galois_field.h"

namespace {

using namespace Aztec::ReedSolomon;

struct FieldCase {
    const char* name;
    GenericGF& (*field)();
    std::int32_t size, primitive;
};
const FieldCase kFields[] = {
    {"param", fieldParam, 16, 0x13},     {"data6", fieldData6, 64, 0x43},        {"data8", fieldData8, 256, 0x12D},
    {"data10", fieldData10, 1024, 0x409}, {"data12", fieldData12, 4096, 0x1069},
};

// Carry-less product reduced by the primitive polynomial: an arithmetic
// independent of the log tables.
std::int32_t slowMultiply(std::int32_t a, std::int32_t b, std::int32_t size, std::int32_t primitive) {
    std::int32_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        b >>= 1;
        a <<= 1;
        if (a & size) a ^= primitive;
    }
    return r;
}

template <typename E>
std::string message(auto&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(GaloisField, TablesAndArithmeticInEveryField) {
    std::mt19937 rng(11);
    for (const FieldCase& c : kFields) {
        SCOPED_TRACE(c.name);
        GenericGF& f = c.field();
        ASSERT_EQ(f.size(), c.size);
        EXPECT_EQ(f.primitive(), c.primitive);
        EXPECT_EQ(f.exp(0), 1);
        EXPECT_EQ(f.exp(1), 2);
        EXPECT_EQ(f.exp(c.size - 1), 1);
        std::set<std::int32_t> seen;
        for (std::int32_t i = 0; i < c.size - 1; ++i) {
            const std::int32_t e = f.exp(i);
            ASSERT_TRUE(e > 0 && e < c.size);
            seen.insert(e);
            ASSERT_EQ(f.log(e), i);
        }
        EXPECT_EQ(static_cast<std::int32_t>(seen.size()), c.size - 1);  // alpha is primitive
        for (std::int32_t a = 1; a < c.size; ++a) {
            ASSERT_EQ(f.multiply(a, 1), a);
            ASSERT_EQ(f.multiply(a, f.inverse(a)), 1) << a;
            ASSERT_EQ(f.multiply(a, 0), 0);
            ASSERT_EQ(f.multiply(0, a), 0);
        }
        EXPECT_EQ(f.inverse(1), 1);
        std::uniform_int_distribution<std::int32_t> any(0, c.size - 1);
        for (int k = 0; k < 2000; ++k) {
            const std::int32_t a = any(rng), b = any(rng);
            ASSERT_EQ(f.multiply(a, b), slowMultiply(a, b, c.size, c.primitive)) << a << " * " << b;
        }
        EXPECT_EQ(message<ArithmeticException>([&] { f.inverse(0); }), "Arithmetic Exception");
        EXPECT_EQ(message<IllegalArgumentException>([&] { f.log(0); }), "Log praram is zero");
        EXPECT_THROW(f.multiply(c.size, 3), std::out_of_range);
        EXPECT_THROW(f.multiply(3, c.size), std::out_of_range);
    }
}

TEST(GaloisPoly, ConstructionNormalises) {
    GenericGF& f = fieldData8();
    const GenericGFPoly p(&f, {0, 0, 5, 0});
    EXPECT_EQ(p.degree(), 1);
    EXPECT_EQ(p.coefficients(), (std::vector<std::int32_t>{5, 0}));
    EXPECT_EQ(p.coefficient(1), 5);
    EXPECT_EQ(p.coefficient(0), 0);
    const GenericGFPoly z(&f, {0, 0, 0});
    EXPECT_TRUE(z.isZero());
    EXPECT_EQ(z.coefficients(), (std::vector<std::int32_t>{0}));
    EXPECT_EQ(z.degree(), 0);
    EXPECT_EQ(message<IllegalArgumentException>([&] { GenericGFPoly(&f, {}); }), "Coefficients is null or empty");
}

TEST(GaloisPoly, Operations) {
    GenericGF& f = fieldData8();
    const GenericGFPoly p(&f, {3, 0, 7});
    EXPECT_EQ(p.valueAt(0), 7);
    EXPECT_EQ(p.valueAt(1), 3 ^ 7);
    EXPECT_TRUE(p.plus(p).isZero());
    EXPECT_EQ(p.plus(f.zero()).coefficients(), p.coefficients());
    EXPECT_EQ(f.zero().plus(p).coefficients(), p.coefficients());
    EXPECT_EQ(p.plus(GenericGFPoly(&f, {1, 2})).coefficients(), (std::vector<std::int32_t>{3, 1, 5}));
    // (x + 1)^2 = x^2 + 1 in characteristic 2.
    const GenericGFPoly x1(&f, {1, 1});
    EXPECT_EQ(x1.times(x1).coefficients(), (std::vector<std::int32_t>{1, 0, 1}));
    EXPECT_TRUE(p.times(f.zero()).isZero());
    EXPECT_TRUE(p.scale(0).isZero());
    EXPECT_EQ(p.scale(1).coefficients(), p.coefficients());
    EXPECT_EQ(p.scale(2).coefficients(), (std::vector<std::int32_t>{6, 0, 14}));
    EXPECT_EQ(p.timesMonomial(2, 1).coefficients(), (std::vector<std::int32_t>{3, 0, 7, 0, 0}));
    EXPECT_TRUE(p.timesMonomial(2, 0).isZero());
    EXPECT_EQ(f.monomial(2, 9).coefficients(), (std::vector<std::int32_t>{9, 0, 0}));
    EXPECT_TRUE(f.monomial(3, 0).isZero());
    EXPECT_EQ(f.one().coefficients(), (std::vector<std::int32_t>{1}));
    EXPECT_EQ(message<IllegalArgumentException>([&] { f.monomial(-1, 3); }), "degree < 0");
    EXPECT_EQ(message<IllegalArgumentException>([&] { p.timesMonomial(-1, 3); }), "Degree < 0");

    // Evaluation is a ring homomorphism: (p q)(a) = p(a) q(a), (p + q)(a) = p(a) + q(a).
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::int32_t> any(0, 255);
    for (int k = 0; k < 200; ++k) {
        std::vector<std::int32_t> ca(1 + k % 7), cb(1 + k % 5);
        for (auto& v : ca) v = any(rng);
        for (auto& v : cb) v = any(rng);
        const GenericGFPoly a(&f, ca), b(&f, cb);
        const std::int32_t at = any(rng);
        ASSERT_EQ(a.times(b).valueAt(at), f.multiply(a.valueAt(at), b.valueAt(at)));
        ASSERT_EQ(a.plus(b).valueAt(at), a.valueAt(at) ^ b.valueAt(at));
    }
}

TEST(GaloisPoly, OperandsFromDifferentFieldsAreRefused) {
    const GenericGFPoly a(&fieldData6(), {1, 2});
    const GenericGFPoly b(&fieldData8(), {1, 2});
    const std::string text = "GenericGFPolys do not have the same GenericGF field";
    EXPECT_EQ(message<IllegalArgumentException>([&] { a.plus(b); }), text);
    EXPECT_EQ(message<IllegalArgumentException>([&] { a.times(b); }), text);
    // Equal sizes do not make two instances the same field.
    GenericGF other(64, 0x43);
    const GenericGFPoly c(&other, {1, 2});
    EXPECT_EQ(message<IllegalArgumentException>([&] { a.plus(c); }), text);
}

}  // namespace
