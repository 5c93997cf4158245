// GrayBuf: frame copy, checked reads past the width and the store, resize
// that never shrinks the store, ignored writes outside, independent copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "image/gray_buf.h"

namespace {

using AztecCore::Image::GrayBuf;

GrayBuf threeByTwo() {
    static const std::uint8_t frame[] = {10, 20, 30, 40, 50, 60};
    return GrayBuf(frame, 3, 2);
}

TEST(GrayBuf, FrameIsCopiedRowMajor) {
    const GrayBuf img = threeByTwo();
    EXPECT_EQ(img.width(), 3);
    EXPECT_EQ(img.height(), 2);
    EXPECT_EQ(img.plane.stride, 3);
    struct Case { int x, y, value; };
    for (const Case& c : {Case{0, 0, 10}, Case{2, 0, 30}, Case{0, 1, 40}, Case{2, 1, 60}, Case{1, 1, 50}}) {
        EXPECT_EQ(img.plane.get(c.x, c.y), c.value) << c.x << "," << c.y;
    }
}

TEST(GrayBuf, ReadsAreCheckedAgainstTheStoreOnly) {
    const GrayBuf img = threeByTwo();
    EXPECT_EQ(img.plane.get(3, 0), 40);  // past the width: next row's first pixel
    EXPECT_THROW(img.plane.get(0, 2), std::out_of_range);
    EXPECT_THROW(img.plane.get(-1, 0), std::out_of_range);
    EXPECT_THROW(img.plane.get(0, -1), std::out_of_range);
    EXPECT_THROW(img.plane.get(6, 0), std::out_of_range);
}

TEST(GrayBuf, EmptyFramesHoldOneZeroByte) {
    const std::uint8_t byte = 77;
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 4}}) {
        const GrayBuf img(&byte, w, h);
        EXPECT_EQ(img.width(), 0);
        EXPECT_EQ(img.height(), 0);
        ASSERT_EQ(img.plane.pixels.size(), 1u);
        EXPECT_EQ(img.plane.get(0, 0), 0);
    }
    const GrayBuf def;
    EXPECT_EQ(def.width(), 0);
    EXPECT_EQ(def.plane.stride, 1);
    EXPECT_EQ(def.plane.get(0, 0), 0);
}

TEST(GrayBuf, ResizeNeverShrinksOrMovesTheStore) {
    std::vector<std::uint8_t> frame(16);
    for (int i = 0; i < 16; ++i) frame[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
    GrayBuf img(frame.data(), 4, 4);
    img.resize(2, 2);
    EXPECT_EQ(img.plane.pixels.size(), 16u);
    EXPECT_EQ(img.plane.stride, 2);
    EXPECT_EQ(img.width(), 2);
    EXPECT_EQ(img.height(), 2);
    EXPECT_EQ(img.plane.pixels, frame);
    EXPECT_EQ(img.plane.get(0, 1), 3);  // index 2 with the new stride
    img.resize(5, 5);
    ASSERT_EQ(img.plane.pixels.size(), 25u);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(img.plane.pixels[i], frame[i]);
    for (std::size_t i = 16; i < 25; ++i) EXPECT_EQ(img.plane.pixels[i], 0);
}

TEST(GrayBuf, SetOutsideTheImageChangesNothing) {
    GrayBuf img = threeByTwo();
    const auto before = img.plane.pixels;
    for (auto [x, y] : {std::pair{-1, 0}, std::pair{3, 0}, std::pair{0, -1}, std::pair{0, 2}}) img.set(x, y, 99);
    EXPECT_EQ(img.plane.pixels, before);
    img.set(1, 1, 99);
    EXPECT_EQ(img.plane.get(1, 1), 99);
}

TEST(GrayBuf, RowSelectionReadsAndWrites) {
    GrayBuf img = threeByTwo();
    img.plane.selectRow(1);
    EXPECT_EQ(img.plane.rowPixel(0), 40);
    img.plane.rowPixel(2) = 7;
    EXPECT_EQ(img.plane.get(2, 1), 7);
    EXPECT_THROW(img.plane.rowPixel(3), std::out_of_range);
    EXPECT_THROW(img.plane.rowPixel(-4), std::out_of_range);
}

TEST(GrayBuf, CopiesAreIndependent) {
    GrayBuf img = threeByTwo();
    img.plane.selectRow(1);
    GrayBuf copy(img);
    EXPECT_EQ(copy.plane.rowStart, 0);
    EXPECT_EQ(copy.plane.stride, 3);
    copy.set(0, 0, 1);
    EXPECT_EQ(img.plane.get(0, 0), 10);
    EXPECT_EQ(copy.plane.get(0, 0), 1);
    GrayBuf assigned;
    assigned = img;
    assigned.set(2, 1, 2);
    EXPECT_EQ(img.plane.get(2, 1), 60);
    EXPECT_EQ(assigned.width(), 3);
}

}  // namespace
