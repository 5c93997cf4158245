// The bit list: indices wrap both ways, growth and truncation keep new bits
// clear, and setBits agrees with setting bit by bit wherever it starts.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "decode/bit_list.h"

using Aztec::BitList;

TEST(BitList, WrapsAndKeepsNewBitsClear) {
    BitList b(70);
    b.set(-1, true);  // the last bit
    b.set(70, true);  // the first
    b.set(-141, true);  // 69 again, twice round
    EXPECT_TRUE(b.get(69));
    EXPECT_TRUE(b.get(0));
    EXPECT_TRUE(b.get(-70));
    b.truncate(65);
    b.truncate(70);  // grown back: bits 65-69 read clear
    EXPECT_FALSE(b.get(69));
    EXPECT_TRUE(b.get(0));
    EXPECT_THROW(BitList().get(0), std::out_of_range);
}

TEST(BitList, SetBitsIsBitByBit) {
    std::mt19937_64 rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t size = 1 + rng() % 200, n = rng() % 65;
        if (n > size) continue;
        const std::size_t at = rng() % (size - n + 1);
        BitList a(size), b(size);
        for (std::size_t i = 0; i < size; ++i) {
            const bool v = (rng() & 1) != 0;
            a.set(static_cast<std::int64_t>(i), v);
            b.set(static_cast<std::int64_t>(i), v);
        }
        const std::uint64_t value = rng();
        a.setBits(at, value, n);
        for (std::size_t i = 0; i < n; ++i) b.set(static_cast<std::int64_t>(at + i), ((value >> i) & 1) != 0);
        for (std::size_t i = 0; i < size; ++i)
            ASSERT_EQ(a.get(static_cast<std::int64_t>(i)), b.get(static_cast<std::int64_t>(i)))
                << "size " << size << " at " << at << " n " << n << " bit " << i;
    }
}
