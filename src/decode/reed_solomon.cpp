#include "decode/reed_solomon.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Aztec::ReedSolomon {

namespace {
// alpha^kFirstRoot is the first of the generator's consecutive roots.
constexpr std::int32_t kFirstRoot = 1;
}  // namespace

namespace {
// Sums of powers: out[m] = XOR over the terms of alpha^(base + (first + m) step),
// m = 0 ... count - 1. Both the syndromes of a block (one term per word) and
// the error locator at every power of alpha (one term per coefficient) are
// such sums. Four values of m are built side by side, each term adding its
// four powers from the table that spans four periods, so no exponent needs
// reducing inside the loop.
struct PowerTerm {
    std::int32_t exponent;  // reduced, for the current m
    std::int32_t step;      // reduced
    std::int32_t step4;     // 4 step, reduced
};

void powerSums(const GenericGF& f, std::vector<PowerTerm>& terms, std::int32_t count, std::int32_t* out) {
    const std::int32_t order = f.size() - 1;
    const std::uint16_t* q = f.quadExps();
    for (std::int32_t m0 = 0; m0 < count; m0 += 4) {
        std::int32_t a0 = 0, a1 = 0, a2 = 0, a3 = 0;
        for (PowerTerm& t : terms) {
            const std::int32_t e = t.exponent, s = t.step;
            a0 ^= q[e];
            a1 ^= q[e + s];
            a2 ^= q[e + 2 * s];
            a3 ^= q[e + 3 * s];
            const std::int32_t next = e + t.step4;
            t.exponent = next >= order ? next - order : next;
        }
        const std::int32_t a[4] = {a0, a1, a2, a3};
        for (std::int32_t k = 0; k < 4 && m0 + k < count; ++k) out[m0 + k] = a[k];
    }
}

PowerTerm termOf(std::int32_t logValue, std::int32_t step, std::int32_t first, std::int32_t order) {
    step %= order;
    return {(logValue + first * step) % order, step, (4 * step) % order};
}

// The syndromes S_i = r(alpha^(i + kFirstRoot)), i = 0 ... twoS - 1: word j
// (the coefficient of x^(n - 1 - j)) adds alpha^(log r_j + (i + kFirstRoot)(n - 1 - j)).
// Stored with S_i as the coefficient of x^i (highest degree first). False
// when a word is not an element of the field; the polynomial arithmetic
// then decides.
// S_from ... S_(twoS - 1) into sums[from ...] (sums has twoS entries).
bool powerSumsFrom(const GenericGF& f, const std::vector<std::int32_t>& received, std::int32_t from, std::int32_t twoS,
                   std::vector<std::int32_t>& sums) {
    const std::int32_t order = f.size() - 1;
    const std::int32_t* logs = f.logs();
    const auto n = static_cast<std::int32_t>(received.size());
    thread_local std::vector<PowerTerm> terms;
    terms.clear();
    for (std::int32_t j = 0; j < n; ++j) {
        const std::int32_t r = received[static_cast<std::size_t>(j)];
        if (r < 0 || r > order) return false;
        if (r != 0) terms.push_back(termOf(logs[r], n - 1 - j, kFirstRoot + from, order));
    }
    if (twoS > from) powerSums(f, terms, twoS - from, sums.data() + from);
    return true;
}

bool syndromesSideBySide(const GenericGF& f, const std::vector<std::int32_t>& received, std::int32_t twoS,
                         std::vector<std::int32_t>& syndromes) {
    thread_local std::vector<std::int32_t> sums;
    sums.assign(static_cast<std::size_t>(twoS), 0);
    if (!powerSumsFrom(f, received, 0, twoS, sums)) return false;
    syndromes.assign(sums.rbegin(), sums.rend());
    return true;
}

// The same with the polynomial's own evaluation, for blocks holding words
// outside the field (which it reports as it always has).
void syndromesByPolynomial(GenericGF& f, GenericGF* field, const std::vector<std::int32_t>& received, std::int32_t twoS,
                           std::vector<std::int32_t>& syndromes) {
    const GenericGFPoly poly(field, received);
    syndromes.assign(static_cast<std::size_t>(twoS), 0);
    for (std::int32_t i = 0; i < twoS; ++i)
        syndromes[static_cast<std::size_t>(twoS - 1 - i)] = poly.valueAt(f.exp((i + kFirstRoot) % (f.size() - 1)));
}

// The block divided by the generator g(x) = (x - alpha^1) ... (x - alpha^twoS):
// g's roots are the syndromes' points, so the remainder is zero exactly
// when every syndrome is, and elsewhere has the same syndromes as the
// block. Division costs (n - twoS) twoS products against n twoS for the
// syndromes, which matters when nearly every word is a check word and
// nearly every block is clean. The generator's logs are kept per thread
// for the few (field, twoS) pairs in use: a read uses up to six (both mode
// messages, and a symbol's data against its check words and one more).
struct GeneratorLogs {
    const GenericGF* field = nullptr;
    std::int32_t twoS = 0;
    // log of the coefficient of x^(twoS - t), t = 1 ... twoS, at [t - 1];
    // -1 for a zero coefficient.
    std::vector<std::int32_t> logs;
};

const std::vector<std::int32_t>& generatorLogs(const GenericGF& f, std::int32_t twoS) {
    constexpr std::size_t kKept = 8;
    thread_local std::array<GeneratorLogs, kKept> kept;
    thread_local std::size_t next = 0;
    for (const GeneratorLogs& g : kept)
        if (g.field == &f && g.twoS == twoS) return g.logs;
    const std::int32_t order = f.size() - 1;
    const std::int32_t* logs = f.logs();
    const std::int32_t* exps = f.wideExps();
    // Coefficients lowest degree first; multiplied by (x + alpha^i) in turn.
    thread_local std::vector<std::int32_t> c;
    c.assign(static_cast<std::size_t>(twoS) + 1, 0);
    c[0] = 1;
    for (std::int32_t i = 1; i <= twoS; ++i) {
        const std::int32_t root = i % order;
        // c[k] becomes c[k - 1] + alpha^i c[k], from the top down.
        for (std::int32_t k = i; k >= 1; --k) {
            const std::int32_t own = c[static_cast<std::size_t>(k)];
            c[static_cast<std::size_t>(k)] = c[static_cast<std::size_t>(k - 1)] ^ (own == 0 ? 0 : exps[logs[own] + root]);
        }
        c[0] = c[0] == 0 ? 0 : exps[logs[c[0]] + root];
    }
    GeneratorLogs& g = kept[next];
    next = (next + 1) % kKept;
    g.field = &f;
    g.twoS = twoS;
    g.logs.resize(static_cast<std::size_t>(twoS));
    for (std::int32_t t = 1; t <= twoS; ++t) {
        const std::int32_t v = c[static_cast<std::size_t>(twoS - t)];
        g.logs[static_cast<std::size_t>(t - 1)] = v == 0 ? -1 : logs[v];
    }
    return g.logs;
}

// The remainder's twoS words (highest degree first) into `rem`; false when
// a word is not an element of the field, or twoS leaves no distinct roots.
bool remainderByGenerator(const GenericGF& f, const std::vector<std::int32_t>& received, std::int32_t twoS,
                          std::vector<std::int32_t>& rem) {
    const std::int32_t order = f.size() - 1;
    const auto n = static_cast<std::int32_t>(received.size());
    if (twoS >= order || n < twoS) return false;
    for (std::int32_t r : received)
        if (r < 0 || r > order) return false;
    const std::vector<std::int32_t>& glog = generatorLogs(f, twoS);
    const std::int32_t* logs = f.logs();
    const std::int32_t* exps = f.wideExps();
    thread_local std::vector<std::int32_t> w;
    w.assign(received.begin(), received.end());
    for (std::int32_t i = 0; i + twoS < n; ++i) {
        const std::int32_t lead = w[static_cast<std::size_t>(i)];
        if (lead == 0) continue;
        const std::int32_t lc = logs[lead];
        std::int32_t* const tail = w.data() + i;
        for (std::int32_t t = 1; t <= twoS; ++t) {
            const std::int32_t lg = glog[static_cast<std::size_t>(t - 1)];
            if (lg >= 0) tail[t] ^= exps[lc + lg];
        }
    }
    rem.assign(w.end() - twoS, w.end());
    return true;
}

bool allZero(const std::vector<std::int32_t>& v) {
    for (std::int32_t x : v)
        if (x != 0) return false;
    return true;
}
}  // namespace

namespace {
// A polynomial as the Euclidean algorithm below works on it: coefficients
// lowest degree first, no leading zeros except in the zero polynomial
// (one coefficient, 0), like GenericGFPoly but without an allocation per
// operation (the decoder's polynomials are kept per thread, so that a
// decoder in steady use allocates nothing). Products use the log and exp
// tables directly.
struct Poly {
    std::vector<std::int32_t> c;  // c[k]: coefficient of x^k
    std::int32_t degree() const { return static_cast<std::int32_t>(c.size()) - 1; }
    bool isZero() const { return c.size() == 1 && c[0] == 0; }
    std::int32_t lead() const { return c.back(); }
    void normalise() {
        while (c.size() > 1 && c.back() == 0) c.pop_back();
    }
};

struct Tables {
    const std::int32_t* logs;
    const std::int32_t* exps;
    std::int32_t mul(std::int32_t a, std::int32_t b) const { return a == 0 || b == 0 ? 0 : exps[logs[a] + logs[b]]; }
};

// The decoder's working storage, kept per thread.
struct Scratch {
    std::vector<std::int32_t> syndromes, sums, chien, roots, locators, values;
    std::vector<PowerTerm> terms;
    Poly rLast, r, tLast, t, rLastLast, tLastLast, q;
};
Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

// Every buffer made big enough for any polynomial or list of a block of n
// words in a field of `order` elements. The Euclidean algorithm swaps its
// polynomials' buffers, which would otherwise leave a small one where a
// large one is wanted on the next block: so a stream of blocks no larger
// than the largest seen allocates nothing.
void reserveFor(Scratch& s, std::size_t n, std::size_t order) {
    for (auto* v : {&s.syndromes, &s.sums, &s.roots, &s.locators, &s.values}) v->reserve(n + 2);
    s.chien.reserve(order);  // sigma at every power of alpha
    s.terms.reserve(n + 2);
    for (Poly* p : {&s.rLast, &s.r, &s.tLast, &s.t, &s.rLastLast, &s.tLastLast, &s.q}) p->c.reserve(n + 2);
}

// The key equation sigma S = omega mod x^big by the Euclidean algorithm on
// a = x^big and b = S; sigma in t and omega in r, both scaled so that
// sigma(0) = 1.
void solveKeyEquation(GenericGF& f, Scratch& s, std::int32_t big) {
    const Tables g{f.logs(), f.wideExps()};
    Poly& rLast = s.rLast;
    Poly& r = s.r;
    Poly& tLast = s.tLast;
    Poly& t = s.t;
    Poly& rLastLast = s.rLastLast;
    Poly& tLastLast = s.tLastLast;
    Poly& q = s.q;
    if (rLast.degree() < r.degree()) std::swap(rLast, r);
    tLast.c.assign(1, 0);
    t.c.assign(1, 1);
    // Stop once deg r < big / 2 over the rationals. With integer division
    // an odd count of check words would let the loop run once more and
    // place one error more than the code can correct: the result is then
    // another codeword, which no later syndrome check can tell apart.
    while (2 * r.degree() >= big) {
        std::swap(rLastLast, rLast);
        std::swap(tLastLast, tLast);
        rLast = r;
        tLast = t;
        if (rLast.isZero()) throw ReedSolomonException("r_{i-1} was zero");
        r = rLastLast;
        q.c.assign(1, 0);
        const std::int32_t dltInverse = f.inverse(rLast.lead());
        while (r.degree() >= rLast.degree() && !r.isZero()) {
            const std::int32_t d = r.degree() - rLast.degree();
            const std::int32_t scale = g.mul(r.lead(), dltInverse);
            if (static_cast<std::int32_t>(q.c.size()) <= d) q.c.resize(static_cast<std::size_t>(d) + 1, 0);
            q.c[static_cast<std::size_t>(d)] ^= scale;
            for (std::size_t k = 0; k < rLast.c.size(); ++k) r.c[k + static_cast<std::size_t>(d)] ^= g.mul(rLast.c[k], scale);
            r.normalise();
        }
        q.normalise();
        // t = q tLast + tLastLast
        t.c.assign(q.c.size() + tLast.c.size() - 1, 0);
        for (std::size_t i = 0; i < q.c.size(); ++i) {
            if (q.c[i] == 0) continue;
            for (std::size_t j = 0; j < tLast.c.size(); ++j) t.c[i + j] ^= g.mul(q.c[i], tLast.c[j]);
        }
        if (t.c.size() < tLastLast.c.size()) t.c.resize(tLastLast.c.size(), 0);
        for (std::size_t i = 0; i < tLastLast.c.size(); ++i) t.c[i] ^= tLastLast.c[i];
        t.normalise();
    }
    // A locator of degree e needs 2e check words to be trusted.
    if (2 * t.degree() > big) throw ReedSolomonException("Too many errors");
    const std::int32_t sigmaTildeAtZero = t.c[0];
    if (sigmaTildeAtZero == 0) throw ReedSolomonException("sigmaTilde(0) was zero");
    const std::int32_t inv = f.inverse(sigmaTildeAtZero);
    for (std::int32_t& c : t.c) c = f.multiply(c, inv);
    for (std::int32_t& c : r.c) c = f.multiply(c, inv);
}

// The inverses of sigma's roots (the error locators), in increasing order
// of the roots, into s.locators.
void locateErrors(GenericGF& f, Scratch& s, const Poly& sigma) {
    std::vector<std::int32_t>& result = s.locators;
    result.clear();
    const std::int32_t e = sigma.degree();
    if (e == 1) {
        result.push_back(sigma.c[1]);
        return;
    }
    // Chien search: sigma at every power of alpha at once, as power sums
    // with one term per non-zero coefficient; its roots, in increasing
    // order of their value, give the locators.
    const std::int32_t order = f.size() - 1;
    std::vector<PowerTerm>& terms = s.terms;
    terms.clear();
    for (std::int32_t k = 0; k <= e; ++k) {
        const std::int32_t c = sigma.c[static_cast<std::size_t>(k)];
        if (c != 0) terms.push_back(termOf(f.log(c), k, 0, order));
    }
    std::vector<std::int32_t>& values = s.chien;
    values.assign(static_cast<std::size_t>(order), 0);
    powerSums(f, terms, order, values.data());
    std::vector<std::int32_t>& roots = s.roots;
    roots.clear();
    for (std::int32_t m = 0; m < order; ++m)
        if (values[static_cast<std::size_t>(m)] == 0) roots.push_back(f.exp(m));
    std::sort(roots.begin(), roots.end());
    if (static_cast<std::int32_t>(roots.size()) > e) roots.resize(static_cast<std::size_t>(e));
    for (std::int32_t r : roots) result.push_back(f.inverse(r));
    if (static_cast<std::int32_t>(result.size()) != e) {
        throw ReedSolomonException("Error locator degree does not match number of roots");
    }
}

// omega(x), highest coefficient first by Horner's rule.
std::int32_t valueAt(GenericGF& f, const Poly& p, std::int32_t x) {
    std::int32_t v = 0;
    for (auto it = p.c.rbegin(); it != p.c.rend(); ++it) v = f.multiply(x, v) ^ *it;
    return v;
}

// Forney's formula, into s.values. With syndromes from alpha^1 the
// magnitude carries one extra factor X_k^-1 compared with syndromes from
// alpha^0.
void errorValues(GenericGF& f, Scratch& s, const Poly& omega) {
    const std::vector<std::int32_t>& locators = s.locators;
    std::vector<std::int32_t>& result = s.values;
    result.assign(locators.size(), 0);
    for (std::size_t k = 0; k < locators.size(); ++k) {
        const std::int32_t xiInverse = f.inverse(locators[k]);
        std::int32_t denominator = 1;
        for (std::size_t j = 0; j < locators.size(); ++j) {
            if (j != k) denominator = f.multiply(denominator, 1 ^ f.multiply(locators[j], xiInverse));
        }
        std::int32_t value = f.multiply(valueAt(f, omega, xiInverse), f.inverse(denominator));
        if (kFirstRoot == 1) value = f.multiply(value, xiInverse);
        result[k] = value;
    }
}
}  // namespace

std::int32_t Decoder::correct(std::vector<std::int32_t>& received, std::int32_t twoS, SyndromeMemo* memo) {
    if (twoS <= 0) return 0;
    GenericGF& f = *field_;
    f.ensureInitialised();
    Scratch& scratchpad = scratch();
    reserveFor(scratchpad, received.size(), static_cast<std::size_t>(f.size()));
    std::vector<std::int32_t>& syndromes = scratchpad.syndromes;
    syndromes.clear();
    bool inField = false;
    if (memo && memo->field == field_ && !memo->sums.empty() && memo->sums.size() <= static_cast<std::size_t>(twoS) &&
        memo->received == received) {
        // The roots alpha^1 ... are shared: only the further ones are new.
        std::vector<std::int32_t>& sums = scratchpad.sums;
        sums.assign(static_cast<std::size_t>(twoS), 0);
        std::copy(memo->sums.begin(), memo->sums.end(), sums.begin());
        inField = powerSumsFrom(f, received, static_cast<std::int32_t>(memo->sums.size()), twoS, sums);
        syndromes.assign(sums.rbegin(), sums.rend());
    } else {
        thread_local std::vector<std::int32_t> rem;
        if (remainderByGenerator(f, received, twoS, rem)) {
            inField = true;
            if (allZero(rem)) {
                syndromes.assign(static_cast<std::size_t>(twoS), 0);
            } else if (!syndromesSideBySide(f, rem, twoS, syndromes)) {
                inField = false;  // not reached: the remainder's words lie in the field
            }
        } else {
            inField = syndromesSideBySide(f, received, twoS, syndromes);
        }
    }
    if (!inField) syndromesByPolynomial(f, field_, received, twoS, syndromes);
    if (memo && inField) {
        memo->field = field_;
        memo->received = received;
        memo->sums.assign(syndromes.rbegin(), syndromes.rend());
    }
    if (allZero(syndromes)) return 0;

    // x^twoS, and the syndromes lowest degree first.
    scratchpad.rLast.c.assign(static_cast<std::size_t>(twoS) + 1, 0);
    scratchpad.rLast.c.back() = 1;
    scratchpad.r.c.assign(syndromes.rbegin(), syndromes.rend());
    scratchpad.r.normalise();
    solveKeyEquation(f, scratchpad, twoS);
    const Poly& sigma = scratchpad.t;
    const Poly& omega = scratchpad.r;
    locateErrors(f, scratchpad, sigma);
    const std::vector<std::int32_t>& locators = scratchpad.locators;
    // Non-zero syndromes with no error located: the block is not a codeword
    // and nothing here can mend it. Returning 0 would pass it off as clean.
    if (locators.empty()) throw ReedSolomonException("Error locator degree does not match number of roots");
    errorValues(f, scratchpad, omega);
    const std::vector<std::int32_t>& values = scratchpad.values;
    const auto n = static_cast<std::int32_t>(received.size());
    for (std::size_t k = 0; k < locators.size(); ++k) {
        const std::int32_t position = n - 1 - f.log(locators[k]);
        if (position < 0) throw ReedSolomonException("Bad error location");
        received.at(static_cast<std::size_t>(position)) ^= values[k];
    }
    // A miscorrection can place errors that do not yield a codeword; the
    // corrected block must have all syndromes zero. Syndromes are linear:
    // those of the corrected block are the received ones plus those of the
    // corrections alone, a few terms instead of every word (all words lay
    // in the field, and so do the corrected ones).
    const std::int32_t order = f.size() - 1;
    const bool valuesInField =
        std::all_of(values.begin(), values.end(), [order](std::int32_t v) { return v >= 0 && v <= order; });
    if (inField && valuesInField) {
        std::vector<PowerTerm>& terms = scratchpad.terms;
        terms.clear();
        for (std::size_t k = 0; k < locators.size(); ++k) {
            if (values[k] == 0) continue;
            terms.push_back(termOf(f.log(values[k]), f.log(locators[k]), kFirstRoot, order));
        }
        std::vector<std::int32_t>& sums = scratchpad.sums;
        sums.assign(static_cast<std::size_t>(twoS), 0);
        powerSums(f, terms, twoS, sums.data());
        for (std::int32_t i = 0; i < twoS; ++i)
            syndromes[static_cast<std::size_t>(twoS - 1 - i)] ^= sums[static_cast<std::size_t>(i)];
    } else if (!syndromesSideBySide(f, received, twoS, syndromes)) {
        syndromesByPolynomial(f, field_, received, twoS, syndromes);
    }
    if (!allZero(syndromes)) throw ReedSolomonException("Error locator degree does not match number of roots");
    return static_cast<std::int32_t>(locators.size());
}

double log10RandomBlockDecodes(std::int32_t n, std::int32_t twoS, std::int32_t erased, std::int32_t errors,
                               std::int32_t wordBits) {
    const double q = std::ldexp(1.0, wordBits);
    // log10 C(kept, errors) as a sum: std::lgamma writes the global
    // `signgam`, a data race when reads run on several threads.
    const std::int32_t kept = n - erased, k = std::min(errors, kept - errors);
    double choose = 0.0;
    for (std::int32_t i = 1; i <= k; ++i) choose += std::log10(static_cast<double>(kept - k + i) / i);
    return choose + errors * std::log10(q - 1.0) - (twoS - erased) * std::log10(q);
}

}  // namespace Aztec::ReedSolomon
