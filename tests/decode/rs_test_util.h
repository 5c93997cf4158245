// Test helpers for the decoding chain: a Reed-Solomon encoder built on the
// field under test (generator roots alpha^1 ... alpha^2S, as Aztec symbols
// use) and a bit-list builder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "decode/bit_list.h"
#include "decode/galois_field.h"

namespace quarrow_test {

// data followed by twoS check words; the first word is the highest-degree
// coefficient.
inline std::vector<std::int32_t> rsEncode(Aztec::ReedSolomon::GenericGF& f, std::vector<std::int32_t> data, int twoS) {
    std::vector<std::int32_t> g{1};  // highest degree first
    for (int i = 1; i <= twoS; ++i) {
        std::vector<std::int32_t> next(g.size() + 1, 0);
        const std::int32_t root = f.exp(i % (f.size() - 1));
        for (std::size_t k = 0; k < g.size(); ++k) {
            next[k] ^= g[k];
            next[k + 1] ^= f.multiply(g[k], root);
        }
        g = next;
    }
    std::vector<std::int32_t> rem(static_cast<std::size_t>(twoS), 0);
    for (std::int32_t d : data) {
        const std::int32_t factor = d ^ (twoS > 0 ? rem[0] : 0);
        for (int j = 0; j + 1 < twoS; ++j) rem[static_cast<std::size_t>(j)] = rem[static_cast<std::size_t>(j) + 1];
        if (twoS > 0) rem.back() = 0;
        for (int j = 0; j < twoS; ++j) rem[static_cast<std::size_t>(j)] ^= f.multiply(factor, g[static_cast<std::size_t>(j) + 1]);
    }
    data.insert(data.end(), rem.begin(), rem.end());
    return data;
}

// True when every syndrome at alpha^1 ... alpha^twoS is zero.
inline bool isCodeword(Aztec::ReedSolomon::GenericGF& f, const std::vector<std::int32_t>& block, int twoS) {
    for (int i = 1; i <= twoS; ++i) {
        const std::int32_t a = f.exp(i % (f.size() - 1));
        std::int32_t r = 0;
        for (std::int32_t c : block) r = f.multiply(r, a) ^ c;
        if (r != 0) return false;
    }
    return true;
}

// Appends values of a given width, most significant bit first.
class BitsBuilder {
public:
    BitsBuilder& add(std::int32_t value, int width) {
        for (int b = width - 1; b >= 0; --b) bits_.push_back(((value >> b) & 1) != 0);
        return *this;
    }
    BitsBuilder& codes(std::initializer_list<std::int32_t> values, int width) {
        for (std::int32_t v : values) add(v, width);
        return *this;
    }
    std::size_t size() const { return bits_.size(); }
    Aztec::BitList build() const {
        Aztec::BitList out(bits_.size());
        for (std::size_t i = 0; i < bits_.size(); ++i) out.set(static_cast<std::int64_t>(i), bits_[i]);
        return out;
    }

private:
    std::vector<bool> bits_;
};

}  // namespace quarrow_test
