// A short run of the accuracy report's frames: floors on the read rates,
// no wrong read anywhere, and a short soak of frames that must not read.
#include <gtest/gtest.h>

#include "accuracy/frame_cases.h"

namespace {

using namespace quarrow_test;

TEST(Accuracy, ShortRunMeetsTheFloorsWithNoWrongRead) {
    struct Floor {
        Category category;
        int frames;
        int step;  // frame indices 0, step, 2 step, ...
        int atLeast;
    };
    // Floors sit a little under what longer runs measure.
    const Floor floors[] = {
        {Category::Clean, 6, 1, 6},      {Category::Blur30, 6, 1, 6},   {Category::Blur60, 6, 1, 5},
        {Category::Blur75, 6, 1, 4},     {Category::Rotation, 36, 20, 36}, {Category::Tilt, 6, 1, 5},
        {Category::TwoPixel, 6, 1, 4},   {Category::Fill, 4, 1, 4},     {Category::Anywhere, 6, 1, 5},
        {Category::Several, 3, 1, 2},    {Category::LightOnDark, 6, 1, 5}, {Category::CameraMix, 6, 1, 3},
        {Category::Glare, 8, 7, 6},      {Category::Warped, 8, 7, 6},   {Category::SmallBlurred, 6, 1, 5},
        // Blur of 0.9 module reads about one frame in four, these 2 of 24.
        {Category::Blur90, 24, 1, 1},
    };
    for (const Floor& f : floors) {
        SCOPED_TRACE(categoryName(f.category));
        const Tally t = runCategory(f.category, f.frames, 11, f.step);
        EXPECT_EQ(t.wrong, 0);
        EXPECT_GE(t.read, f.atLeast);
        if (f.category == Category::Clean) {
            EXPECT_EQ(t.cleanCorrections, 0);
        }
    }
}

TEST(Accuracy, ShortSoakReadsNothingWrong) {
    for (int kind = 0; kind < kSoakKinds; ++kind) {
        SCOPED_TRACE(soakKindName(kind));
        EXPECT_EQ(runSoak(kind, 12, 5).wrong, 0);
        // Heavy blur, where the reader retries most.
        EXPECT_EQ(runSoak(kind, 4, 5, {.blurred = true}).wrong, 0);
        // And noisy, where it also solves modules from every pixel.
        EXPECT_EQ(runSoak(kind, 4, 5, {.blurred = true, .noisy = true}).wrong, 0);
        // Under a highlight, where mode rings are read against the rings inside.
        EXPECT_EQ(runSoak(kind, 4, 5, {.glare = true}).wrong, 0);
        // Warped, where symbols are read through tracked meshes.
        EXPECT_EQ(runSoak(kind, 4, 5, {.warped = true}).wrong, 0);
    }
}

}  // namespace
