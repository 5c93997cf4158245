// A list of bits addressed modulo its length: index -1 is the last bit and
// index size() is the first. Used for the mode ring, the mode message, the
// raw layer stream and the data bits.
#pragma once

#include <cstdint>
#include <vector>

namespace Aztec {

class BitList {
public:
    BitList() = default;
    explicit BitList(std::size_t n) : bits_(n, false) {}

    std::size_t size() const { return bits_.size(); }
    bool empty() const { return bits_.empty(); }
    bool get(std::int64_t i) const { return bits_.at(wrap(i)); }
    void set(std::int64_t i, bool value) { bits_.at(wrap(i)) = value; }
    // Drops everything from n on (n <= size()).
    void truncate(std::size_t n) { bits_.resize(n); }
    // n clear bits, in the storage already held where it suffices.
    void reset(std::size_t n) { bits_.assign(n, false); }

private:
    std::size_t wrap(std::int64_t i) const {
        const auto n = static_cast<std::int64_t>(bits_.size());
        if (n == 0) return 0;  // at() then throws std::out_of_range
        std::int64_t m = i % n;
        if (m < 0) m += n;
        return static_cast<std::size_t>(m);
    }

    std::vector<bool> bits_;
};

// A module matrix: entry x holds the modules of one column of the symbol
// (symbol-grid u), bit y of it the module at row y (v); true is dark.
using ModuleMatrix = std::vector<BitList>;

}  // namespace Aztec
