// The tile split of the pixel loop: every pixel of an image lies in exactly one tile, and the
// workers taking tiles from one counter render every pixel exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "kernels/KernelFrame.h"

namespace {

struct Size {
    int width, height;
};
// Smaller than a tile, exactly one tile, odd sizes, one row or column, many tiles.
const Size kSizes[] = {{1, 1},   {5, 3},  {16, 16}, {17, 16}, {16, 17},
                       {37, 23}, {1, 40}, {40, 1},  {33, 47}, {512, 512}};

// Counts the calls per window pixel of an image placed at (windowX, windowY).
struct CountingPixel {
    std::vector<int>* counts;
    int windowX, windowY, width;

    Vector4 operator()(int x, int y) {
        ++(*counts)[std::size_t((y - windowY) * width + (x - windowX))];
        return Vector4(0.25f, 0.5f, 0.75f, 1.f);
    }
};

TEST(ImageTiles, EveryPixelLiesInExactlyOneTile) {
    for (const Size& size : kSizes) {
        const ImageTiles tiles(size.width, size.height);
        std::vector<int> counts(std::size_t(size.width) * size.height, 0);
        for (int tile = 0; tile < tiles.Count(); ++tile) {
            int x0, y0, x1, y1;
            tiles.Bounds(tile, x0, y0, x1, y1);
            ASSERT_TRUE(x0 >= 0 && x0 < x1 && x1 <= size.width && x1 - x0 <= kTileWidth);
            ASSERT_TRUE(y0 >= 0 && y0 < y1 && y1 <= size.height && y1 - y0 <= kTileHeight);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    ++counts[std::size_t(y * size.width + x)];
        }
        for (std::size_t i = 0; i < counts.size(); ++i)
            ASSERT_EQ(counts[i], 1) << size.width << " x " << size.height << ", pixel " << i;
    }
    EXPECT_EQ(ImageTiles(0, 7).Count(), 0);
    EXPECT_EQ(ImageTiles(7, -1).Count(), 0);
}

// Three workers in turn on one counter (each takes what is left): the first takes every tile,
// the others find none, and every pixel is rendered and stored once.
TEST(ImageTiles, WorkersOnOneCounterRenderEveryPixelOnce) {
    for (const Size& size : kSizes) {
        VRImage image;
        image.width = size.width;
        image.height = size.height;
        image.windowX = 3;
        image.windowY = 2;
        image.Allocate();
        std::vector<int> counts(std::size_t(size.width) * size.height, 0);
        std::atomic<int> nextTile{0};
        for (int worker = 0; worker < 3; ++worker) {
            CountingPixel pixel{&counts, 3, 2, size.width};
            ForEachTakenTile(image, nextTile, pixel);
        }
        for (std::size_t i = 0; i < counts.size(); ++i) {
            ASSERT_EQ(counts[i], 1) << size.width << " x " << size.height << ", pixel " << i;
            ASSERT_EQ(image.pixels[4 * i + 2], 0.75f) << i;
        }
    }
}

}  // namespace
