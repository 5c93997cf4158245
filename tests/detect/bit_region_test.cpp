// The row-at-a-time region growth against a plain pixel flood fill, on
// random bit images of every density round the percolation threshold and
// of widths that end inside a word, at a word's end and across several.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "detect/bit_region.h"

using namespace AztecCore;

namespace {

struct BitImage {
    std::int32_t width, rows, words;
    std::vector<std::uint64_t> bits;
    bool at(std::int32_t x, std::int32_t y) const {
        return ((bits[static_cast<std::size_t>(y * words + x / 64)] >> (x % 64)) & 1u) != 0;
    }
};

// The seed's region, pixel by pixel.
RegionSums floodSums(const BitImage& img, std::int32_t sx, std::int32_t sy, std::int32_t x0, std::int32_t y0) {
    RegionSums s;
    std::vector<char> seen(static_cast<std::size_t>(img.width * img.rows), 0);
    std::vector<std::pair<std::int32_t, std::int32_t>> todo{{sx, sy}};
    seen[static_cast<std::size_t>(sy * img.width + sx)] = 1;
    while (!todo.empty()) {
        const auto [x, y] = todo.back();
        todo.pop_back();
        ++s.count;
        s.sumX += x0 + x;
        s.sumY += y0 + y;
        if (x == 0 || y == 0 || x == img.width - 1 || y == img.rows - 1) s.edge = true;
        const std::int32_t next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (const auto& n : next) {
            if (n[0] < 0 || n[1] < 0 || n[0] >= img.width || n[1] >= img.rows || !img.at(n[0], n[1])) continue;
            char& s2 = seen[static_cast<std::size_t>(n[1] * img.width + n[0])];
            if (!s2) {
                s2 = 1;
                todo.push_back({n[0], n[1]});
            }
        }
    }
    return s;
}

}  // namespace

TEST(BitRegion, GrowsExactlyThePixelFloodFill) {
    std::mt19937 rng(12345);
    int grown = 0;
    std::vector<std::uint32_t> scratch;  // reused, as the blob fill reuses it
    // A few seeds of each kind: regions that cross words grow from one
    // word's new bits into the next, both ways.
    for (int trial = 0; trial < 4; ++trial) {
        for (const std::int32_t width : {1, 7, 63, 64, 65, 130, 236, 320}) {
            for (const double density : {0.3, 0.55, 0.6, 0.65, 0.8, 0.95, 1.0}) {
                BitImage img{width, 1 + static_cast<std::int32_t>(rng() % 90), (width + 63) / 64, {}};
                img.bits.assign(static_cast<std::size_t>(img.rows * img.words), 0);
                std::bernoulli_distribution on(density);
                for (std::int32_t y = 0; y < img.rows; ++y)
                    for (std::int32_t x = 0; x < width; ++x)
                        if (on(rng)) img.bits[static_cast<std::size_t>(y * img.words + x / 64)] |= 1ull << (x % 64);
                const std::int32_t sx = static_cast<std::int32_t>(rng() % static_cast<unsigned>(width));
                const std::int32_t sy = static_cast<std::int32_t>(rng() % static_cast<unsigned>(img.rows));
                if (!img.at(sx, sy)) continue;
                // The reach starts as the seed's whole run.
                std::vector<std::uint64_t> reach(img.bits.size(), 0);
                std::int32_t a = sx, b = sx;
                while (a > 0 && img.at(a - 1, sy)) --a;
                while (b + 1 < width && img.at(b + 1, sy)) ++b;
                for (std::int32_t x = a; x <= b; ++x) reach[static_cast<std::size_t>(sy * img.words + x / 64)] |= 1ull << (x % 64);
                growRegion(img.bits.data(), reach.data(), img.rows, img.words, scratch);
                const RegionSums want = floodSums(img, sx, sy, 17, 5);
                SCOPED_TRACE(testing::Message() << "width " << width << " density " << density << " rows " << img.rows);
                for (const RegionSums& got : {regionSums(reach.data(), img.rows, img.words, width, 17, 5),
                                              regionSumsByTables(reach.data(), img.rows, img.words, width, 17, 5)}) {
                    EXPECT_EQ(got.count, want.count);
                    EXPECT_EQ(got.sumX, want.sumX);
                    EXPECT_EQ(got.sumY, want.sumY);
                    EXPECT_EQ(got.edge, want.edge);
                }
                ++grown;
            }
        }
    }
    EXPECT_GT(grown, 100);
}
