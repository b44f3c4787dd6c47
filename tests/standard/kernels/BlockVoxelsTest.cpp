// Typed block reads against the generic read path, for the seven sample types: single voxels,
// cell corners (inside a block, across blocks, in uniform blocks, clamped at the edges),
// trilinear samples and normals must be identical; and the per-frame choice of the read path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "VolumeData.h"
#include "kernels/KernelFrame.h"

namespace {

template <typename T>
DataType TypeOf();
template <>
DataType TypeOf<float>() {
    return VolumeData::dtFloat32;
}
template <>
DataType TypeOf<signed char>() {
    return VolumeData::dtInt8;
}
template <>
DataType TypeOf<short>() {
    return VolumeData::dtInt16;
}
template <>
DataType TypeOf<int>() {
    return VolumeData::dtInt32;
}
template <>
DataType TypeOf<unsigned char>() {
    return VolumeData::dtUint8;
}
template <>
DataType TypeOf<unsigned short>() {
    return VolumeData::dtUint16;
}
template <>
DataType TypeOf<unsigned int>() {
    return VolumeData::dtUint32;
}

// A 21 x 14 x 10 volume of type T in blocks of the given edge: its lower half in z is constant
// (uniform blocks), the rest random over T's range.
template <typename T>
void Fill(CoherentVolume& volume, const int blockSize[3], std::mt19937& rng) {
    const int dims[3] = {21, 14, 10};
    const float spacing[3] = {0.7f, 1.f, 1.9f};
    VolumeData data;
    data.SetDataType(TypeOf<T>());
    data.SetDimensions(dims);
    data.SetSpacings(spacing);
    data.Allocate();
    T* samples = static_cast<T*>(data.GetData());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double lo =
        std::is_floating_point<T>::value ? -1000.0 : double(std::numeric_limits<T>::lowest());
    const double hi =
        std::is_floating_point<T>::value ? 1000.0 : double(std::numeric_limits<T>::max());
    for (int i = 0; i < 21 * 14 * 10; ++i)
        samples[i] = i < 21 * 14 * 5 ? T(7) : T(lo + (hi - lo) * unit(rng));
    volume.SetBlockSize(blockSize);
    volume.SetData(&data);
}

template <typename T>
class BlockVoxelsTyped : public ::testing::Test {};
using SampleTypes =
    ::testing::Types<float, signed char, short, int, unsigned char, unsigned short, unsigned int>;
TYPED_TEST_SUITE(BlockVoxelsTyped, SampleTypes);

// Every read of the typed path against the generic one over one block layout.
template <typename T>
void ExpectReadsLikeTheGenericPath(const int blockSize[3]) {
    std::mt19937 rng(31);
    CoherentVolume volume;
    Fill<T>(volume, blockSize, rng);
    VolumeSampler generic;
    ASSERT_TRUE(generic.BindVolume(&volume));
    BlockVoxels<T> typed;
    ASSERT_TRUE(typed.Bind(generic));

    for (int k = -2; k < 12; ++k)
        for (int j = -2; j < 16; ++j)
            for (int i = -2; i < 23; ++i) {
                ASSERT_EQ(typed.FetchVoxel(i, j, k), generic.FetchVoxel(i, j, k));
                float a[8], b[8];
                typed.FetchCellCorners(i, j, k, a);
                generic.FetchCellCorners(i, j, k, b);
                for (int c = 0; c < 8; ++c)
                    ASSERT_EQ(a[c], b[c]) << i << " " << j << " " << k;
            }
    std::uniform_real_distribution<float> x(-1.f, 21.f), y(-1.f, 14.f), z(-1.f, 10.f);
    for (int n = 0; n < 2000; ++n) {
        const Vector4 p(x(rng), y(rng), z(rng), 1.f);
        Vector4 q1 = p, q2 = p;
        ASSERT_EQ(typed.SampleTrilinear(q1), generic.SampleTrilinear(q2));
        const Vector4 n1 = typed.ComputeNormal(p), n2 = generic.ComputeNormal(p);
        // Bitwise equal, NaN from a flat neighbourhood included.
        ASSERT_EQ(std::memcmp(&n1, &n2, sizeof(Vector4)), 0) << p.x << " " << p.y << " " << p.z;
    }
    // Along a line in steps of a tenth of a voxel, a ray's memo of its last cells changes nothing.
    CellMemo memo;
    for (int n = 0; n < 300; ++n) {
        const Vector4 p(-1.f + 0.08f * n, 0.5f + 0.04f * n, 9.5f - 0.035f * n, 1.f);
        Vector4 q1 = p, q2 = p;
        ASSERT_EQ(SampleTrilinearFrom(typed, q1, memo), generic.SampleTrilinear(q2));
        const Vector4 n1 = ComputeNormalFrom(typed, p, memo), n2 = generic.ComputeNormal(p);
        ASSERT_EQ(std::memcmp(&n1, &n2, sizeof(Vector4)), 0) << p.x << " " << p.y << " " << p.z;
    }
}

// Two layouts: blocks of 4 x 8 x 2, where no gradient neighbourhood fits one block, and of 8^3,
// where most do, so that the normal's one-block path is compared too.
TYPED_TEST(BlockVoxelsTyped, ReadsWhatTheGenericPathReads) {
    const int layouts[2][3] = {{4, 8, 2}, {8, 8, 8}};
    for (const auto& blockSize : layouts) {
        SCOPED_TRACE(blockSize[0]);
        ExpectReadsLikeTheGenericPath<TypeParam>(blockSize);
    }
}

// Row ranges, with rows that cross blocks, lie in uniform blocks, and (float) hold a NaN, which
// both paths must take into the range the same way.
TYPED_TEST(BlockVoxelsTyped, AccumulatesRowRangesLikeTheGenericPath) {
    std::mt19937 rng(33);
    CoherentVolume volume;
    const int blockSize[3] = {4, 2, 8};
    Fill<TypeParam>(volume, blockSize, rng);
    if (std::is_floating_point<TypeParam>::value) {
        // Rebuild with one NaN voxel at (9, 7, 8).
        VolumeData data;
        const int dims[3] = {21, 14, 10};
        const float spacing[3] = {1.f, 1.f, 1.f};
        data.SetDataType(VolumeData::dtFloat32);
        data.SetDimensions(dims);
        data.SetSpacings(spacing);
        data.Allocate();
        float* samples = static_cast<float*>(data.GetData());
        for (int i = 0; i < 21 * 14 * 10; ++i)
            samples[i] = volume.GetValue(i % 21, (i / 21) % 14, i / 294);
        samples[9 + 21 * (7 + 14 * 8)] = std::numeric_limits<float>::quiet_NaN();
        volume.SetData(&data);
    }
    VolumeSampler generic;
    generic.BindVolume(&volume);
    BlockVoxels<TypeParam> typed;
    ASSERT_TRUE(typed.Bind(generic));
    for (int n = 0; n < 3000; ++n) {
        int x0 = int(rng() % 21), x1 = int(rng() % 21);
        if (x0 > x1) std::swap(x0, x1);
        const int y = int(rng() % 14), z = int(rng() % 10);
        const float start = generic.Voxel(x0, y, z);
        float low1 = start, high1 = start, low2 = start, high2 = start;
        typed.AccumulateRow(x0, x1, y, z, low1, high1);
        generic.AccumulateRow(x0, x1, y, z, low2, high2);
        ASSERT_EQ(std::memcmp(&low1, &low2, sizeof(float)), 0)
            << x0 << ".." << x1 << " " << y << " " << z;
        ASSERT_EQ(std::memcmp(&high1, &high2, sizeof(float)), 0)
            << x0 << ".." << x1 << " " << y << " " << z;
        // And the range is the plain one where no NaN is involved.
        float lo = INFINITY, hi = -INFINITY;
        bool nan = false;
        for (int x = x0; x <= x1; ++x) {
            const float v = volume.GetValue(x, y, z);
            nan = nan || std::isnan(v);
            lo = std::min(lo, v), hi = std::max(hi, v);
        }
        if (!nan) {
            ASSERT_EQ(low1, lo);
            ASSERT_EQ(high1, hi);
        }
    }
}

struct Chosen {
    bool typed = false;
    int calls = 0;
};

TEST(VisitVoxelAccess, ChoosesTypedReadsForPowerOfTwoBlocksOnly) {
    std::mt19937 rng(32);
    {
        CoherentVolume volume;
        const int blockSize[3] = {4, 4, 4};
        Fill<unsigned short>(volume, blockSize, rng);
        VolumeSampler sampler;
        sampler.BindVolume(&volume);
        Chosen chosen;
        VisitVoxelAccess(sampler, [&](const auto& voxels) {
            ++chosen.calls;
            chosen.typed =
                std::is_same<std::decay_t<decltype(voxels)>, BlockVoxels<unsigned short>>::value;
        });
        EXPECT_EQ(chosen.calls, 1);
        EXPECT_TRUE(chosen.typed);
    }
    {
        CoherentVolume volume;
        const int blockSize[3] = {3, 5, 6};
        Fill<short>(volume, blockSize, rng);
        VolumeSampler sampler;
        sampler.BindVolume(&volume);
        BlockVoxels<short> typed;
        EXPECT_FALSE(typed.Bind(sampler));
        BlockVoxels<unsigned short> wrongType;
        EXPECT_FALSE(wrongType.Bind(sampler));
        Chosen chosen;
        VisitVoxelAccess(sampler, [&](const auto& voxels) {
            ++chosen.calls;
            chosen.typed = !std::is_same<std::decay_t<decltype(voxels)>, VolumeSampler>::value;
            // The generic path still samples the volume right.
            Vector4 p(20.f, 13.f, 9.f, 1.f);
            EXPECT_EQ(voxels.SampleTrilinear(p), volume.GetValue(20, 13, 9));
        });
        EXPECT_EQ(chosen.calls, 1);
        EXPECT_FALSE(chosen.typed);
    }
}

}  // namespace
