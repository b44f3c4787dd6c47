// MIPVRScene without drawing: what SetData derives from a volume (grey window, cropping box,
// extent), the window and cropping accessors, and the inherited camera interaction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "MIPRayCasterParam.h"
#include "MIPVRScene.h"
#include "RetStatus.h"
#include "VRSceneParam.h"
#include "VolumeData.h"

namespace {

// Exposes the protected extent for the tests.
class ExposedMIPVRScene : public MIPVRScene {
public:
    using MIPVRScene::GetSize3D;
    using MIPVRScene::UpdateCamera;
};

// The (min, max) pair of grid cell (cx, cy, cz).
const float* GridCell(const GridPartition& grid, int cx, int cy, int cz) {
    return grid.minMax + 2 * (cx + grid.cellCount[0] * (cy + grid.cellCount[1] * cz));
}

// A volume of `type` whose samples are all `fill` except two: `lo` at the first voxel and `hi`
// at the last.
template <typename T>
void MakeVolume(VolumeData& volume, DataType type, int nx, int ny, int nz, T fill, T lo, T hi,
                const float spacing[3] = nullptr) {
    const int dims[3] = {nx, ny, nz};
    const float unit[3] = {1.0f, 1.0f, 1.0f};
    volume.SetDataType(type);
    volume.SetDimensions(dims);
    volume.SetSpacings(spacing != nullptr ? spacing : unit);
    volume.Allocate();
    T* samples = static_cast<T*>(volume.GetData());
    const size_t count = size_t(nx) * ny * nz;
    for (size_t i = 0; i < count; ++i)
        samples[i] = fill;
    samples[0] = lo;
    samples[count - 1] = hi;
}

TEST(MIPVRSceneSetData, WindowSpansTheValueRange) {
    VolumeData volume;
    MakeVolume<int16_t>(volume, VolumeData::dtInt16, 8, 6, 5, 200, -1000, 3000);
    MIPVRScene scene;
    // Until the first volume the window is the parameter default.
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 256.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 128.0f);
    scene.SetData(&volume);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 4000.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 1000.0f);
    // The scene's kernel reads the same parameters.
    EXPECT_FLOAT_EQ(scene.GetKernelModule().mipParam->windowWidth, 4000.0f);
    EXPECT_FLOAT_EQ(scene.GetKernelModule().mipParam->windowCenter, 1000.0f);

    // Explicit windows hold until the data is handed over again.
    scene.SetWidthCenter(50.0f, -7.5f);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 50.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), -7.5f);
    scene.SetWindowWidth(12.0f);
    scene.SetWindowCenter(3.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 12.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 3.0f);
    scene.SetDataModified();
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 4000.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 1000.0f);
}

TEST(MIPVRSceneSetData, WindowOfFloatAndUnsignedVolumes) {
    // Range -2.5 .. 0.75 of a float volume: width 3.25, centre -0.875.
    VolumeData floats;
    MakeVolume<float>(floats, VolumeData::dtFloat32, 4, 4, 4, 0.0f, -2.5f, 0.75f);
    MIPVRScene scene;
    scene.SetData(&floats);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 3.25f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), -0.875f);

    // A constant volume gives a zero width, its centre the value.
    VolumeData constant;
    MakeVolume<uint8_t>(constant, VolumeData::dtUint8, 3, 3, 3, 77, 77, 77);
    scene.SetData(&constant);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 0.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 77.0f);
}

TEST(MIPVRSceneSetData, CroppingCoversTheWholeVolumeAfterEveryHandOver) {
    VolumeData volume;
    MakeVolume<uint8_t>(volume, VolumeData::dtUint8, 256, 256, 100, 1, 0, 9);
    MIPVRScene scene;
    scene.SetData(&volume);
    float bounds[6] = {-1, -1, -1, -1, -1, -1};
    scene.GetCroppingBounds(bounds);
    const float whole[6] = {0, 255, 0, 255, 0, 99};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bounds[i], whole[i]) << i;

    // Set, read back, and reset by SetDataModified.
    const float crop[6] = {10.5f, 200, 3, 4, 0.25f, 50};
    scene.SetCroppingBounds(crop);
    scene.GetCroppingBounds(bounds);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bounds[i], crop[i]) << i;
    EXPECT_EQ(std::memcmp(scene.GetKernelModule().vrSceneParam->croppingBounds, crop, sizeof(crop)),
              0);
    scene.SetDataModified();
    scene.GetCroppingBounds(bounds);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bounds[i], whole[i]) << i;

    // A different volume gets its own box.
    VolumeData small;
    MakeVolume<uint8_t>(small, VolumeData::dtUint8, 7, 1, 3, 1, 0, 9);
    scene.SetCroppingBounds(crop);
    scene.SetData(&small);
    scene.GetCroppingBounds(bounds);
    const float smallWhole[6] = {0, 6, 0, 0, 0, 2};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bounds[i], smallWhole[i]) << i;
}

TEST(MIPVRSceneSetData, NullVolumeChangesNothing) {
    VolumeData volume;
    MakeVolume<uint8_t>(volume, VolumeData::dtUint8, 5, 4, 3, 1, 0, 200);
    MIPVRScene scene;
    scene.SetData(&volume);
    const float crop[6] = {1, 2, 1, 2, 1, 2};
    scene.SetCroppingBounds(crop);
    scene.SetWidthCenter(10.0f, 20.0f);
    scene.SetData(nullptr);
    scene.SetDataModified();
    float bounds[6];
    scene.GetCroppingBounds(bounds);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bounds[i], crop[i]);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 10.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 20.0f);
    int dims[3];
    scene.GetKernelModule().volume->GetDimensions(dims);
    EXPECT_EQ(dims[0], 5);  // still the earlier volume's bricks
}

// SetDataModified after the host changed voxels in place: the bricks, the min/max grid (cells of
// dimension^0.4 voxels) and the window follow the new values. A new volume of another extent
// refits the camera at the next frame: twice the extent, twice the distance.
TEST(MIPVRSceneSetData, ModifiedVoxelsRebuildBricksGridAndCamera) {
    VolumeData volume;
    MakeVolume<uint8_t>(volume, VolumeData::dtUint8, 20, 12, 9, 10, 0, 50);
    ExposedMIPVRScene scene;
    scene.SetData(&volume);
    const GridPartition& grid = *scene.GetKernelModule().gridPartition;
    // 20^0.4 = 3.31, 12^0.4 = 2.70, 9^0.4 = 2.41; counts 19 / 3 + 1, 11 / 2 + 1, 8 / 2 + 1.
    const int cellSize[3] = {3, 2, 2}, cellCount[3] = {7, 6, 5};
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(grid.cellSize[a], cellSize[a]) << a;
        EXPECT_EQ(grid.cellCount[a], cellCount[a]) << a;
    }
    ASSERT_NE(grid.minMax, nullptr);
    EXPECT_EQ(GridCell(grid, 2, 2, 1)[1], 10.0f);
    EXPECT_EQ(GridCell(grid, 6, 5, 4)[1], 50.0f);  // the last voxel's cell

    // Voxel (7, 5, 4) raised to 250: z = 4 is the plane shared by z cells 1 and 2.
    static_cast<uint8_t*>(volume.GetData())[7 + 20 * (5 + 12 * 4)] = 250;
    scene.SetDataModified();
    EXPECT_EQ(scene.GetKernelModule().volume->GetValue(7, 5, 4), 250.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowWidth(), 250.0f);
    EXPECT_FLOAT_EQ(scene.GetWindowCenter(), 125.0f);
    EXPECT_EQ(GridCell(grid, 2, 2, 1)[1], 250.0f);
    EXPECT_EQ(GridCell(grid, 2, 2, 2)[1], 250.0f);
    EXPECT_EQ(GridCell(grid, 2, 2, 3)[1], 10.0f);
    EXPECT_EQ(GridCell(grid, 2, 2, 2)[0], 10.0f);

    // Camera: fitted to the first volume, then refitted to one of twice its extent.
    scene.UpdateCamera();
    const float nearDistance = scene.GetViewMatrix().m[14];
    scene.UpdateCamera();
    EXPECT_EQ(scene.GetViewMatrix().m[14], nearDistance);  // no new volume: no refit
    VolumeData twice;
    MakeVolume<uint8_t>(twice, VolumeData::dtUint8, 40, 24, 18, 10, 0, 50);
    scene.SetData(&twice);
    scene.UpdateCamera();
    EXPECT_LT(nearDistance, 0.0f);
    EXPECT_NEAR(scene.GetViewMatrix().m[14] / nearDistance, 2.0f, 1e-5f);
}

TEST(MIPVRSceneExtent, PhysicalSizeOfTheBrickedVolume) {
    VolumeData volume;
    const float spacing[3] = {0.5f, 0.5f, 1.0f};
    MakeVolume<uint8_t>(volume, VolumeData::dtUint8, 512, 512, 200, 3, 0, 1, spacing);
    ExposedMIPVRScene scene;
    scene.SetData(&volume);
    float size[3] = {0, 0, 0};
    scene.GetSize3D(size);
    EXPECT_FLOAT_EQ(size[0], 256.0f);
    EXPECT_FLOAT_EQ(size[1], 256.0f);
    EXPECT_FLOAT_EQ(size[2], 200.0f);

    // With the kernel's volume taken away, the host's volume gives the extent.
    MIPVR& kernel = scene.GetKernelModule();
    CoherentVolume* bricked = kernel.volume;
    kernel.volume = nullptr;
    const int otherDims[3] = {10, 20, 30};
    const float otherSpacing[3] = {2.0f, 0.25f, 3.0f};
    volume.SetDimensions(otherDims);  // only the header fields are read
    volume.SetSpacings(otherSpacing);
    scene.GetSize3D(size);
    EXPECT_FLOAT_EQ(size[0], 20.0f);
    EXPECT_FLOAT_EQ(size[1], 5.0f);
    EXPECT_FLOAT_EQ(size[2], 90.0f);
    kernel.volume = bricked;
}

// The scene overrides no input handler: a left drag rotates exactly as in Scene.
TEST(MIPVRSceneInteraction, DragsMatchThePlainScene) {
    MIPVRScene mip;
    Scene plain;
    retStatus a{};
    retStatus b{};
    mip.LButtonDown(100, 100, a);
    plain.LButtonDown(100, 100, b);
    mip.MouseMove(140, 70, a);
    plain.MouseMove(140, 70, b);
    EXPECT_TRUE(a.redraw);
    EXPECT_TRUE(b.redraw);
    const Quaternion& qa = mip.GetRotation();
    const Quaternion& qb = plain.GetRotation();
    EXPECT_EQ(qa.x, qb.x);
    EXPECT_EQ(qa.y, qb.y);
    EXPECT_EQ(qa.z, qb.z);
    EXPECT_EQ(qa.w, qb.w);
    // The drag of (40, 30) pixels turns by 50 * 0.005 = 0.25 rad: w = cos(0.125).
    EXPECT_NEAR(qa.w, std::cos(0.125), 1e-6);
    mip.LButtonUp(140, 70, a);

    // Right drag zooms by exp(dy ln 1.002): 100 pixels up, 1.002^100.
    retStatus c{};
    mip.RButtonDown(10, 200, c);
    mip.MouseMove(10, 100, c);
    EXPECT_NEAR(mip.GetScale(), std::pow(1.002, 100.0), 1e-4);
}

}  // namespace
