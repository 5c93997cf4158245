// A list of bits addressed modulo its length: index -1 is the last bit and
// index size() is the first. Used for the mode ring, the mode message, the
// raw layer stream and the data bits.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace Aztec {

class BitList {
public:
    BitList() = default;
    explicit BitList(std::size_t n) { reset(n); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool get(std::int64_t i) const {
        const std::size_t k = wrap(i);
        return ((words_[k / kWordBits] >> (k % kWordBits)) & 1u) != 0;
    }
    // Without a branch on the value: ring samples set bits at random.
    void set(std::int64_t i, bool value) {
        const std::size_t k = wrap(i);
        std::uint64_t& word = words_[k / kWordBits];
        const std::uint64_t bit = std::uint64_t{1} << (k % kWordBits);
        word = (word & ~bit) | ((static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value)) & bit);
    }
    // Bits i .. i + n - 1 (in range, n <= 64) from the low n bits of
    // `value`, bit i from its bit 0.
    void setBits(std::size_t i, std::uint64_t value, std::size_t n) {
        if (n == 0) return;
        const std::uint64_t keep = n == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
        value &= keep;
        const std::size_t w = i / kWordBits, b = i % kWordBits;
        words_.at(w) = (words_[w] & ~(keep << b)) | (value << b);
        if (b + n > kWordBits) {
            const std::size_t spill = kWordBits - b;
            words_.at(w + 1) = (words_[w + 1] & ~(keep >> spill)) | (value >> spill);
        }
    }
    // Drops everything from n on (n <= size()).
    void truncate(std::size_t n) {
        // Bits past the end are kept clear, so that a list grown again
        // reads its new bits as clear.
        words_.resize((n + kWordBits - 1) / kWordBits, 0);
        if (n < size_ && n % kWordBits != 0) words_.back() &= (std::uint64_t{1} << (n % kWordBits)) - 1;
        size_ = n;
    }
    // n clear bits, in the storage already held where it suffices.
    void reset(std::size_t n) {
        size_ = n;
        words_.assign((n + kWordBits - 1) / kWordBits, 0);
    }

private:
    static constexpr std::size_t kWordBits = 64;
    std::size_t wrap(std::int64_t i) const {
        const auto n = static_cast<std::int64_t>(size_);
        // Nearly every index is already in range; the division is kept
        // for the ones that wrap.
        if (i >= 0 && i < n) return static_cast<std::size_t>(i);
        if (n == 0) throw std::out_of_range("invalid vector<bool> subscript");
        std::int64_t m = i % n;
        if (m < 0) m += n;
        return static_cast<std::size_t>(m);
    }

    std::vector<std::uint64_t> words_;
    std::size_t size_ = 0;
};

// A module matrix: entry x holds the modules of one column of the symbol
// (symbol-grid u), bit y of it the module at row y (v); true is dark.
using ModuleMatrix = std::vector<BitList>;

}  // namespace Aztec
