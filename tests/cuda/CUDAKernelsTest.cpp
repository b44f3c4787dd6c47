// KestrelCUDA without a scene: a constant volume's closed-form MIP through the library's own
// objects, and the calls it ignores.
#include <gtest/gtest.h>

#include <vector>

#include "CUDAGridPartition.h"
#include "CUDAInit.h"
#include "CUDAMIPVR.h"
#include "CUDAVRImage.h"
#include "CUDAVolumeTexture.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "standard/kernels/KernelTestFrame.h"

namespace {

// A volume of one value v shows grey (v - centre) / width + 0.5 wherever the ray meets the box
// (0.7 here, exactly representable after the float arithmetic within 1e-6), and (0, 0, 0, 0)
// elsewhere. The frame's rays and rectangle come from the CPU kernels' test frame.
TEST(CUDAMIPVR, ConstantVolumeGivesTheWindowedValue) {
    constexpr float kGreyTolerance = 1e-6f;
    VolumeData data;
    const int dims[3] = {9, 7, 5};
    const float spacing[3] = {1.0f, 1.5f, 2.0f};
    FillVolume<short>(data, VolumeData::dtInt16, dims, spacing, [](int, int, int) { return 300; });
    KernelTestFrame<MIPVR> frame;
    frame.Load(data);
    frame.SetCamera(KernelTestFrame<MIPVR>::Orbit(0.5f, 0.3f), 1.0f, 40, 32);

    CUDAInit(true);
    CUDAVolumeTexture texture;
    CUDAGridPartition grid;
    CUDAVRImage image;
    MIPRayCasterParam window;
    window.windowWidth = 1000.0f;
    window.windowCenter = 100.0f;
    CUDAMIPVR kernel;
    kernel.volumeTexture = &texture;
    kernel.gridPartition = &grid;
    kernel.mipParam = &window;
    kernel.vrSceneParam = &frame.sceneParam;
    kernel.image = &image;

    texture.CopyToTexture(nullptr);  // ignored
    EXPECT_FALSE(texture.HoldsVolume());
    texture.CopyToTexture(&data);
    grid.Init(&texture, 0.4f);
    EXPECT_TRUE(texture.HoldsVolume());
    EXPECT_EQ(grid.cellCount[0] * grid.cellCount[1] * grid.cellCount[2],
              frame.grid.cellCount[0] * frame.grid.cellCount[1] * frame.grid.cellCount[2]);

    image.windowX = frame.image.windowX;
    image.windowY = frame.image.windowY;
    image.width = frame.image.width;
    image.height = frame.image.height;
    image.Allocate();
    const std::size_t floats = std::size_t(image.width) * image.height * 4;
    std::fill(image.pixels, image.pixels + floats, -1.0f);
    kernel.mipParam = nullptr;  // a null member: the image is left alone
    kernel.RenderWithGridPartition();
    EXPECT_EQ(image.pixels[0], -1.0f);
    kernel.mipParam = &window;
    image.PrepareForCUDAOP();
    kernel.RenderWithGridPartition();
    image.ClearAfterCUDAOP();

    // The CPU kernel on the same rays decides which pixels meet the box.
    frame.kernel.mipParam = &window;
    frame.kernel.RenderWithGridPartition();
    int inside = 0;
    for (std::size_t p = 0; p < floats / 4; ++p) {
        const float* const rgba = image.pixels + p * 4;
        if (frame.image.pixels[p * 4 + 3] > 0.0f) {
            ++inside;
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(rgba[c], 0.7f, kGreyTolerance) << "pixel " << p;
            EXPECT_EQ(rgba[3], 1.0f);
        } else {
            EXPECT_EQ(rgba[0] + rgba[1] + rgba[2] + rgba[3], 0.0f) << "pixel " << p;
        }
    }
    EXPECT_GT(inside, 100);
    EXPECT_LT(inside, int(floats / 4));
}

}  // namespace
