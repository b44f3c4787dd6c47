// CoherentVolume: block layout, reads against the dense grid for every sample
// type and several block shapes, uniform blocks, value ranges, slab filling
// and deep copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "CoherentVolume.h"
#include "VolumeData.h"
#include "VolumeTestUtil.h"

using namespace volume_test;

namespace {

// A volume of T whose voxel (x, y, z) holds f(x, y, z).
template <typename T, typename F>
VolumeData MakeVolume(int x, int y, int z, F f) {
    VolumeData v;
    v.SetDataType(TypeOf<T>());
    const int dims[3] = {x, y, z};
    v.SetDimensions(dims);
    v.Allocate();
    T* s = static_cast<T*>(v.GetData());
    for (int k = 0; k < z; ++k)
        for (int j = 0; j < y; ++j)
            for (int i = 0; i < x; ++i)
                s[i + x * (j + y * k)] = static_cast<T>(f(i, j, k));
    return v;
}

template <typename T>
TBlock<T>& BlockAt(CoherentVolume& cv, int index) {
    return static_cast<TBlockArray<T>*>(cv.blockArray)->blocks[index];
}

}  // namespace

TEST(CoherentVolume, DefaultStateAndVolumeWithoutBlocks) {
    CoherentVolume cv;
    int bs[3];
    cv.GetBlcokSize(bs);
    EXPECT_EQ(bs[0], 64);
    EXPECT_EQ(bs[1], 64);
    EXPECT_EQ(bs[2], 64);
    EXPECT_EQ(cv.blockArray, nullptr);
    EXPECT_EQ(cv.GetValue(0, 0, 0), 0.0f);
    double lo = 3.0, hi = 4.0;
    cv.GetMinMaxValue(lo, hi);  // no blocks: outputs untouched
    EXPECT_EQ(lo, 3.0);
    EXPECT_EQ(hi, 4.0);
    cv.SetData(static_cast<VolumeData*>(nullptr));
    VolumeData empty;
    cv.SetData(&empty);
    EXPECT_EQ(cv.blockArray, nullptr);
}

TEST(CoherentVolume, LayoutOf100x64x1) {
    VolumeData v =
        MakeVolume<unsigned short>(100, 64, 1, [](int x, int y, int) { return x + 100 * y; });
    CoherentVolume cv;
    cv.SetData(&v);
    int num[3];
    cv.GetBlockNum(num);
    EXPECT_EQ(num[0], 2);
    EXPECT_EQ(num[1], 1);
    EXPECT_EQ(num[2], 1);
    const TBlock<unsigned short>& first = BlockAt<unsigned short>(cv, 0);
    const TBlock<unsigned short>& second = BlockAt<unsigned short>(cv, 1);
    EXPECT_EQ(first.rowPitch, 64);
    EXPECT_EQ(first.slicePitch, 4096);
    EXPECT_EQ(second.rowPitch, 36);
    EXPECT_EQ(second.slicePitch, 2304);
    ASSERT_NE(second.data, nullptr);
    // second block: voxels x = 64..99, stored without padding
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 36; ++x)
            ASSERT_EQ(second.data[x + 36 * y], 64 + x + 100 * y);
    EXPECT_EQ(second.minValue, 64);
    EXPECT_EQ(second.maxValue, 99 + 100 * 63);
}

TEST(CoherentVolume, VoxelOf100x100x200ComesFromBlock9) {
    // unique values, so the block and local position of every read are checked
    VolumeData v =
        MakeVolume<int>(100, 100, 200, [](int x, int y, int z) { return x + 100 * (y + 100 * z); });
    CoherentVolume cv;
    cv.SetData(&v);
    EXPECT_EQ(cv.blockNum[0], 2);
    EXPECT_EQ(cv.blockNum[1], 2);
    EXPECT_EQ(cv.blockNum[2], 4);
    const float expected = 70 + 100 * (5 + 100 * 130);
    EXPECT_EQ(cv.blockArray->GetBlock(9)->GetValue(6, 5, 2), expected);
    EXPECT_EQ(cv.GetValue(70, 5, 130), expected);
    double lo, hi;
    cv.GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, static_cast<double>(static_cast<float>(100 * 100 * 200 - 1)));
}

TEST(CoherentVolume, UniformBlocksKeepNoBuffer) {
    // one voxel: one 1 x 1 x 1 block, uniform
    VolumeData one = MakeVolume<short>(1, 1, 1, [](int, int, int) { return -321; });
    CoherentVolume single;
    single.SetData(&one);
    EXPECT_EQ(BlockAt<short>(single, 0).data, nullptr);
    EXPECT_EQ(single.GetValue(0, 0, 0), -321.0f);

    // 8 x 8 x 8 in 4^3 blocks; the block at x, y, z >= 4 holds only 7
    VolumeData v = MakeVolume<unsigned char>(8, 8, 8, [](int x, int y, int z) {
        return (x >= 4 && y >= 4 && z >= 4) ? 7 : (x + y + z) % 5;
    });
    CoherentVolume cv;
    const int bs[3] = {4, 4, 4};
    cv.SetBlockSize(bs);
    cv.SetData(&v);
    for (int b = 0; b < 8; ++b)
        EXPECT_EQ(BlockAt<unsigned char>(cv, b).data == nullptr, b == 7) << b;
    float lo, hi;
    cv.blockArray->GetBlock(7)->GetMinMax(lo, hi);
    EXPECT_EQ(lo, 7.0f);
    EXPECT_EQ(hi, 7.0f);
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                EXPECT_EQ(cv.blockArray->GetBlock(7)->GetValue(x, y, z), 7.0f);
                EXPECT_EQ(cv.GetValue(4 + x, 4 + y, 4 + z), 7.0f);
            }

    // float: a block of NaN is not uniform (NaN != NaN) and keeps its buffer;
    // -0 and +0 compare equal, so such a block is uniform
    const float nan = std::numeric_limits<float>::quiet_NaN();
    VolumeData f = MakeVolume<float>(
        2, 1, 2, [&](int x, int, int z) { return z == 0 ? nan : (x ? 0.0f : -0.0f); });
    CoherentVolume fv;
    const int slab[3] = {2, 1, 1};
    fv.SetBlockSize(slab);
    fv.SetData(&f);
    EXPECT_NE(BlockAt<float>(fv, 0).data, nullptr);
    EXPECT_TRUE(std::isnan(fv.GetValue(1, 0, 0)));
    EXPECT_EQ(BlockAt<float>(fv, 1).data, nullptr);
    EXPECT_EQ(fv.GetValue(1, 0, 1), 0.0f);

    // {0, NaN, 5, 5}: the running range restarts after the NaN and ends at 5, 5,
    // yet the block is not uniform and keeps every voxel
    const float mixed[4] = {0.0f, nan, 5.0f, 5.0f};
    VolumeData m = MakeVolume<float>(4, 1, 1, [&](int x, int, int) { return mixed[x]; });
    CoherentVolume mv;
    mv.SetData(&m);
    EXPECT_EQ(mv.GetValue(0, 0, 0), 0.0f);
    EXPECT_TRUE(std::isnan(mv.GetValue(1, 0, 0)));
    EXPECT_EQ(mv.GetValue(2, 0, 0), 5.0f);
}

TEST(CoherentVolume, ConversionsToFloatAndRange) {
    VolumeData u =
        MakeVolume<unsigned short>(2, 1, 1, [](int x, int, int) { return x ? 65535 : 3; });
    CoherentVolume cu;
    cu.SetData(&u);
    EXPECT_EQ(cu.GetValue(1, 0, 0), 65535.0f);

    VolumeData s = MakeVolume<signed char>(2, 1, 1, [](int x, int, int) { return x ? -5 : 100; });
    CoherentVolume cs;
    cs.SetData(&s);
    EXPECT_EQ(cs.GetValue(1, 0, 0), -5.0f);

    // 16,777,217 is not a float: reads and the range round it to 16,777,216
    VolumeData i = MakeVolume<int>(2, 1, 1, [](int x, int, int) { return x ? 16777217 : 0; });
    CoherentVolume ci;
    ci.SetData(&i);
    EXPECT_EQ(ci.GetValue(1, 0, 0), 16777216.0f);
    double lo, hi;
    ci.GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 16777216.0);

    VolumeData big =
        MakeVolume<unsigned int>(1, 1, 2, [](int, int, int z) { return z ? 4000000000u : 1u; });
    CoherentVolume cb;
    cb.SetData(&big);
    EXPECT_EQ(cb.GetValue(0, 0, 1), 4000000000.0f);  // taken as unsigned
}

TEST(CoherentVolume, SlabFillingAndStaleBlockCounts) {
    VolumeData v =
        MakeVolume<short>(8, 6, 8, [](int x, int y, int z) { return x * 7 - y * 3 + z * 50; });
    const short* dense = static_cast<const short*>(v.GetData());
    CoherentVolume cv;
    const int bs[3] = {4, 4, 4};
    const int dims[3] = {8, 6, 8};
    const float sp[3] = {1.0f, 2.0f, 3.0f};
    cv.SetBlockSize(bs);
    cv.SetDimensions(dims);
    cv.SetSpacings(sp);
    cv.SetDataType(VolumeData::dtInt16);
    cv.AllocateBlocks();
    // slabs in reverse order, full depth requested with -1
    cv.SetBlockSlice(const_cast<short*>(dense) + 4 * 8 * 6, 1, -1);
    cv.SetBlockSlice(const_cast<short*>(dense), 0, -1);
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(cv.GetValue(x, y, z), dense[x + 8 * (y + 6 * z)]);
    EXPECT_EQ(BlockAt<short>(cv, 0).slicePitch, 16);  // 4 x 4
    EXPECT_EQ(BlockAt<short>(cv, 2).slicePitch, 8);   // 4 x 2: the short last row of blocks

    // SetBlockSize leaves blockNum stale until SetDimensions
    const int small[3] = {2, 2, 2};
    cv.SetBlockSize(small);
    int num[3];
    cv.GetBlockNum(num);
    EXPECT_EQ(num[0], 2);
    EXPECT_EQ(num[1], 2);
    cv.SetDimensions(dims);
    cv.GetBlockNum(num);
    EXPECT_EQ(num[0], 4);
    EXPECT_EQ(num[1], 3);
    EXPECT_EQ(num[2], 4);
}

TEST(CoherentVolume, UnsupportedTypeMakesNoBlocks) {
    for (DataType type :
         {DataType{false, true, 24}, DataType{true, true, 16}, DataType{false, false, 0}}) {
        CoherentVolume cv;
        const int dims[3] = {4, 4, 4};
        cv.SetDimensions(dims);
        cv.SetDataType(type);
        cv.AllocateBlocks();
        EXPECT_EQ(cv.blockArray, nullptr);
        unsigned char samples[4 * 4 * 4 * 4] = {1};
        cv.SetData(static_cast<void*>(samples));
        EXPECT_EQ(cv.GetValue(1, 1, 1), 0.0f);
    }
}

TEST(CoherentVolume, CopiesAreDeepAndIndependent) {
    VolumeData v =
        MakeVolume<float>(9, 5, 3, [](int x, int y, int z) { return x * 0.5f + y - z * 2.0f; });
    CoherentVolume source;
    const int bs[3] = {4, 2, 2};
    source.SetBlockSize(bs);
    source.SetData(&v);

    CoherentVolume copy(source);
    ASSERT_NE(copy.blockArray, nullptr);
    EXPECT_NE(copy.blockArray, source.blockArray);
    CoherentVolume assigned;
    VolumeData other = MakeVolume<unsigned char>(3, 3, 3, [](int x, int, int) { return x; });
    assigned.SetData(&other);
    assigned = source;
    CoherentVolume& alias = assigned;
    assigned = alias;  // self-assignment keeps the blocks

    // the source is rebuilt with other content: the copies keep theirs
    VolumeData replaced = MakeVolume<float>(9, 5, 3, [](int, int, int) { return -1.0f; });
    source.SetData(&replaced);
    for (const CoherentVolume* c : {&copy, &assigned}) {
        EXPECT_EQ(c->dimensions[0], 9);
        EXPECT_EQ(c->spacings[1], 1.0f);
        EXPECT_EQ(c->blockNum[0], 3);
        for (int z = 0; z < 3; ++z)
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 9; ++x)
                    ASSERT_EQ(const_cast<CoherentVolume*>(c)->GetValue(x, y, z),
                              x * 0.5f + y - z * 2.0f);
    }
    EXPECT_EQ(source.GetValue(8, 4, 2), -1.0f);
    assigned = CoherentVolume();  // a volume without blocks empties the target
    EXPECT_EQ(assigned.blockArray, nullptr);
    EXPECT_EQ(assigned.GetValue(0, 0, 0), 0.0f);
}

// ---------------------------------------------------------------------------
// Every voxel, every sample type, power-of-two and other block shapes

template <typename T>
class CoherentVolumeTyped : public ::testing::Test {};
TYPED_TEST_SUITE(CoherentVolumeTyped, AllSampleTypes);

TYPED_TEST(CoherentVolumeTyped, ReadsAndRangesMatchTheDenseGrid) {
    using T = TypeParam;
    const int dims[3] = {13, 9, 11};
    VolumeData v = MakeRandomVolume<T>(dims[0], dims[1], dims[2], 2024);
    // a constant corner so that some blocks are uniform
    T* s = static_cast<T*>(v.GetData());
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                s[x + 13 * (y + 9 * z)] = s[0];
    const auto [lo, hi] = std::minmax_element(s, s + 13 * 9 * 11);

    const int shapes[][3] = {{64, 64, 64}, {4, 4, 4}, {2, 8, 1}, {3, 5, 7}, {13, 1, 11}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape[0] << "x" << shape[1] << "x" << shape[2]);
        CoherentVolume cv;
        cv.SetBlockSize(shape);
        cv.SetData(&v);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(cv.blockNum[i], (dims[i] + shape[i] - 1) / shape[i]);
        for (int z = 0; z < dims[2]; ++z)
            for (int y = 0; y < dims[1]; ++y)
                for (int x = 0; x < dims[0]; ++x) {
                    const float expected = static_cast<float>(s[x + 13 * (y + 9 * z)]);
                    ASSERT_EQ(cv.GetValue(x, y, z), expected) << x << "," << y << "," << z;
                    // the virtual path through BlockArray and Block agrees
                    const int b = x / shape[0] +
                                  cv.blockNum[0] * (y / shape[1] + cv.blockNum[1] * (z / shape[2]));
                    ASSERT_EQ(cv.blockArray->GetBlock(b)->GetValue(x % shape[0], y % shape[1],
                                                                   z % shape[2]),
                              expected);
                }
        double min, max;
        cv.GetMinMaxValue(min, max);
        EXPECT_EQ(min, static_cast<double>(static_cast<float>(*lo)));
        EXPECT_EQ(max, static_cast<double>(static_cast<float>(*hi)));
        if (shape[0] == 4 && shape[1] == 4 && shape[2] == 4) {
            EXPECT_EQ(BlockAt<T>(cv, 0).data, nullptr);  // the constant corner
            EXPECT_NE(BlockAt<T>(cv, 1).data, nullptr);
        }

        // The same grid through a block array installed by the caller: filled
        // block by block through Block::SetData and read through the virtual
        // interface. Both ways must give identical blocks.
        CoherentVolume manual;
        manual.SetBlockSize(shape);
        manual.SetDimensions(dims);
        manual.SetDataType(TypeOf<T>());
        const int count = cv.blockNum[0] * cv.blockNum[1] * cv.blockNum[2];
        manual.blockArray = new TBlockArray<T>(count);
        manual.SetData(v.GetData());
        for (int b = 0; b < count; ++b) {
            const TBlock<T>& a = BlockAt<T>(cv, b);
            const TBlock<T>& m = BlockAt<T>(manual, b);
            ASSERT_EQ(a.rowPitch, m.rowPitch) << b;
            ASSERT_EQ(a.slicePitch, m.slicePitch) << b;
            ASSERT_EQ(a.minValue, m.minValue) << b;
            ASSERT_EQ(a.maxValue, m.maxValue) << b;
            ASSERT_EQ(a.data == nullptr, m.data == nullptr) << b;
        }
        for (int z = 0; z < dims[2]; z += 2)
            for (int y = 0; y < dims[1]; ++y)
                for (int x = 0; x < dims[0]; ++x)
                    ASSERT_EQ(manual.GetValue(x, y, z), cv.GetValue(x, y, z));
        EXPECT_EQ(CoherentVolume(manual).blockArray, nullptr);  // not ours to duplicate
    }
}

TYPED_TEST(CoherentVolumeTyped, RebrickingTheSameShapeReplacesEveryVoxel) {
    using T = TypeParam;
    VolumeData first = MakeRandomVolume<T>(20, 7, 9, 1);
    VolumeData second = MakeRandomVolume<T>(20, 7, 9, 2);
    T* s = static_cast<T*>(second.GetData());
    std::fill(s, s + 20 * 7 * 4, s[0]);  // the first 4 slices uniform in the second
    CoherentVolume cv;
    const int bs[3] = {8, 4, 4};
    cv.SetBlockSize(bs);
    cv.SetData(&first);
    cv.SetData(&second);  // the old blocks' buffers are reused where sizes match
    for (int z = 0; z < 9; ++z)
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 20; ++x)
                ASSERT_EQ(cv.GetValue(x, y, z), static_cast<float>(s[x + 20 * (y + 7 * z)]));
    for (int b = 0; b < 6; ++b)
        EXPECT_EQ(BlockAt<T>(cv, b).data, nullptr) << b;
}

TEST(CoherentVolume, ReadsFollowBlockGeometrySetAfterAllocation) {
    // 8 x 8 x 8 allocated as 2 x 2 x 2 blocks of 4^3, then reshaped through
    // the setters to 1 x 2 x 4 blocks of 8 x 4 x 2 (again 8 blocks) and
    // filled slab by slab: fills and reads both use the block size and counts
    // in force, so every voxel reads back as in the dense grid.
    VolumeData v = MakeVolume<unsigned short>(
        8, 8, 8, [](int x, int y, int z) { return x + 8 * (y + 8 * z); });
    const unsigned short* dense = static_cast<const unsigned short*>(v.GetData());
    const int dims[3] = {8, 8, 8};
    const int reshapes[2][3] = {{8, 4, 2}, {2, 8, 4}};
    for (const auto& reshape : reshapes) {
        SCOPED_TRACE(testing::Message() << reshape[0] << "x" << reshape[1] << "x" << reshape[2]);
        CoherentVolume cv;
        const int first[3] = {4, 4, 4};
        cv.SetBlockSize(first);
        cv.SetDimensions(dims);
        cv.SetDataType(VolumeData::dtUint16);
        cv.AllocateBlocks();
        cv.SetBlockSize(reshape);
        cv.SetDimensions(dims);
        ASSERT_EQ(cv.blockNum[0] * cv.blockNum[1] * cv.blockNum[2], 8);
        for (int k = 0; k < cv.blockNum[2]; ++k)
            cv.SetBlockSlice(const_cast<unsigned short*>(dense) + k * reshape[2] * 64, k, -1);
        for (int z = 0; z < 8; ++z)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(cv.GetValue(x, y, z), dense[x + 8 * (y + 8 * z)])
                        << x << "," << y << "," << z;
    }

    // a block size that is not a power of two: 6 x 6 x 1 blocks of a
    // 6 x 6 x 4 volume, reshaped from 3 x 3 x 4 (both 4 blocks)
    VolumeData w =
        MakeVolume<short>(6, 6, 4, [](int x, int y, int z) { return x - 6 * y + 40 * z; });
    const short* wd = static_cast<const short*>(w.GetData());
    const int wdims[3] = {6, 6, 4};
    CoherentVolume cw;
    const int before[3] = {3, 3, 4};
    const int after[3] = {6, 6, 1};
    cw.SetBlockSize(before);
    cw.SetDimensions(wdims);
    cw.SetDataType(VolumeData::dtInt16);
    cw.AllocateBlocks();
    cw.SetBlockSize(after);
    cw.SetDimensions(wdims);
    for (int k = 0; k < 4; ++k)
        cw.SetBlockSlice(const_cast<short*>(wd) + k * 36, k, 1);
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                ASSERT_EQ(cw.GetValue(x, y, z), wd[x + 6 * (y + 6 * z)])
                    << x << "," << y << "," << z;
}

TEST(CoherentVolume, RangeCoversTheBlocksOfTheCurrentBlockCounts) {
    // 2 x 2 x 2 blocks allocated, then the volume shrunk to its first block
    // through SetDimensions: the range is that of the one block now counted,
    // not of the seven blocks left over (never filled, all 0)
    CoherentVolume cv;
    const int bs[3] = {4, 4, 4};
    const int big[3] = {8, 8, 8};
    const int small[3] = {4, 4, 4};
    cv.SetBlockSize(bs);
    cv.SetDimensions(big);
    cv.SetDataType(VolumeData::dtInt16);
    cv.AllocateBlocks();
    cv.SetDimensions(small);
    short samples[64];
    for (int i = 0; i < 64; ++i)
        samples[i] = static_cast<short>(10 + i);
    cv.SetData(static_cast<void*>(samples));
    double lo = 0.0, hi = 0.0;
    cv.GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 10.0);
    EXPECT_EQ(hi, 73.0);
    EXPECT_EQ(cv.GetValue(3, 3, 3), 73.0f);
}

// NaN and infinities are left out of the value range wherever they lie (first, after a finite
// sample, filling a whole block), by the volume and by its bricked copy alike; with nothing
// finite the range is 0 .. 0.
TEST(CoherentVolume, RangeLeavesOutNonFiniteSamplesAsTheVolumeDoes) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        std::vector<float> samples;  // 2 x 2 x 2, bricked as two 2 x 2 x 1 blocks
        double lo, hi;
    };
    const Case cases[] = {
        {{nan, 3, inf, -2, -inf, 7, nan, 1}, -2, 7},
        {{0, nan, 5, 5, 5, 5, 5, 5}, 0, 5},  // a block's own scan restarts after the NaN
        {{nan, nan, nan, nan, 4, 4, 4, 4}, 4, 4},
        {{inf, -inf, inf, inf, nan, nan, nan, nan}, 0, 0},
    };
    for (const Case& c : cases) {
        VolumeData v = MakeVolume<float>(
            2, 2, 2, [&](int x, int y, int z) { return c.samples[size_t(x + 2 * (y + 2 * z))]; });
        double lo = 0.5, hi = 0.5;
        v.GetMinMaxValue(lo, hi);
        EXPECT_EQ(lo, c.lo) << c.samples[0];
        EXPECT_EQ(hi, c.hi) << c.samples[0];
        CoherentVolume bricked;
        const int slab[3] = {2, 2, 1};
        bricked.SetBlockSize(slab);
        bricked.SetData(&v);
        lo = hi = 0.5;
        bricked.GetMinMaxValue(lo, hi);
        EXPECT_EQ(lo, c.lo) << c.samples[0];
        EXPECT_EQ(hi, c.hi) << c.samples[0];
    }
}
