#include "decode/erasure_decoder.h"

#include <algorithm>

namespace Aztec::ReedSolomon {

namespace {

using Poly = std::vector<std::int32_t>;  // coefficient of x^k at k

// r(alpha^j), j = 1 ... twoS, into s[j - 1]; word i is the coefficient of
// x^(n - 1 - i). False when a word is not an element of the field.
bool syndromes(GenericGF& f, const std::vector<std::int32_t>& r, std::int32_t twoS, Poly& s) {
    const std::int32_t order = f.size() - 1;
    const auto n = static_cast<std::int32_t>(r.size());
    s.assign(static_cast<std::size_t>(twoS), 0);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t w = r[static_cast<std::size_t>(i)];
        if (w < 0 || w > order) return false;
        if (w == 0) continue;
        const std::int32_t lw = f.log(w);
        const std::int32_t degree = n - 1 - i;
        for (std::int32_t j = 1; j <= twoS; ++j)
            s[static_cast<std::size_t>(j - 1)] ^= f.exp(static_cast<std::int32_t>((lw + static_cast<std::int64_t>(j) * degree) % order));
    }
    return true;
}

std::int32_t evaluate(GenericGF& f, const Poly& p, std::int32_t x) {
    std::int32_t v = 0;
    for (std::size_t k = p.size(); k-- > 0;) v = f.multiply(v, x) ^ p[k];
    return v;
}

void trim(Poly& p) {
    while (p.size() > 1 && p.back() == 0) p.pop_back();
}

}  // namespace

std::optional<std::int32_t> correctWithErasures(GenericGF& f, std::vector<std::int32_t>& received, std::int32_t twoS,
                                                const std::vector<std::int32_t>& erasures, std::int32_t spare) {
    f.ensureInitialised();
    const std::int32_t order = f.size() - 1;
    const auto n = static_cast<std::int32_t>(received.size());
    const auto e = static_cast<std::int32_t>(erasures.size());
    if (twoS <= 0 || n > order || twoS >= n || e + spare > twoS) return std::nullopt;
    Poly s;
    if (!syndromes(f, received, twoS, s)) return std::nullopt;
    if (std::all_of(s.begin(), s.end(), [](std::int32_t v) { return v == 0; })) return 0;

    // Erasure locator: the product of (1 + X x) over the erased positions,
    // X = alpha^degree.
    Poly lambda = {1};
    for (std::int32_t pos : erasures) {
        if (pos < 0 || pos >= n) return std::nullopt;
        const std::int32_t x = f.exp(n - 1 - pos);
        Poly next(lambda.size() + 1, 0);
        for (std::size_t k = 0; k < lambda.size(); ++k) {
            next[k] ^= lambda[k];
            next[k + 1] ^= f.multiply(lambda[k], x);
        }
        lambda.swap(next);
    }
    // Berlekamp-Massey started from the erasure locator: it finds the
    // errors' locator as well, in the remaining 2 S - e syndromes.
    Poly b = lambda;
    std::int32_t l = e;
    for (std::int32_t r = e + 1; r <= twoS; ++r) {
        std::int32_t delta = 0;
        for (std::size_t j = 0; j < lambda.size() && static_cast<std::int32_t>(j) < r; ++j)
            delta ^= f.multiply(lambda[j], s[static_cast<std::size_t>(r - 1) - j]);
        Poly shifted(b.size() + 1, 0);  // x B
        std::copy(b.begin(), b.end(), shifted.begin() + 1);
        if (delta == 0) {
            b.swap(shifted);
            continue;
        }
        Poly t(std::max(lambda.size(), shifted.size()), 0);
        for (std::size_t k = 0; k < lambda.size(); ++k) t[k] = lambda[k];
        for (std::size_t k = 0; k < shifted.size(); ++k) t[k] ^= f.multiply(delta, shifted[k]);
        if (2 * l <= r + e - 1) {
            const std::int32_t inv = f.inverse(delta);
            b.assign(lambda.size(), 0);
            for (std::size_t k = 0; k < lambda.size(); ++k) b[k] = f.multiply(lambda[k], inv);
            l = r + e - l;
        } else {
            b.swap(shifted);
        }
        lambda.swap(t);
    }
    trim(lambda);
    const auto degree = static_cast<std::int32_t>(lambda.size()) - 1;
    const std::int32_t errors = l - e;
    if (degree != l || errors < 0 || 2 * errors + e > twoS - spare) return std::nullopt;

    // The roots, each the inverse of a position's locator, all within the block.
    std::vector<std::int32_t> positions;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t inverse = f.exp((order - (n - 1 - i) % order) % order);
        if (evaluate(f, lambda, inverse) == 0) positions.push_back(i);
    }
    if (static_cast<std::int32_t>(positions.size()) != degree) return std::nullopt;

    // Forney: with the first root alpha^1 the value at X is
    // Omega(1 / X) / Lambda'(1 / X), Omega = S Lambda mod x^2S.
    Poly omega(static_cast<std::size_t>(twoS), 0);
    for (std::size_t i = 0; i < s.size(); ++i)
        for (std::size_t j = 0; j < lambda.size() && i + j < omega.size(); ++j) omega[i + j] ^= f.multiply(s[i], lambda[j]);
    Poly derivative(lambda.size() > 1 ? lambda.size() - 1 : 1, 0);
    for (std::size_t k = 1; k < lambda.size(); k += 2) derivative[k - 1] = lambda[k];
    std::vector<std::int32_t> corrected = received;
    std::int32_t changed = 0;
    for (std::int32_t pos : positions) {
        const std::int32_t inverse = f.exp((order - (n - 1 - pos) % order) % order);
        const std::int32_t den = evaluate(f, derivative, inverse);
        if (den == 0) return std::nullopt;
        const std::int32_t value = f.multiply(evaluate(f, omega, inverse), f.inverse(den));
        if (value != 0) ++changed;
        corrected[static_cast<std::size_t>(pos)] ^= value;
    }
    if (!syndromes(f, corrected, twoS, s) || !std::all_of(s.begin(), s.end(), [](std::int32_t v) { return v == 0; }))
        return std::nullopt;
    received.swap(corrected);
    return changed;
}

}  // namespace Aztec::ReedSolomon
