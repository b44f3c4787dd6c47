// VolumeData: defaults, buffer lifecycle, value range, deep copies, and both
// file formats including every kind of malformed structured file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "VolumeData.h"
#include "VolumeTestUtil.h"

using namespace volume_test;

TEST(VolumeData, DefaultsAndBufferLifecycle) {
    VolumeData v;
    EXPECT_EQ(v.GetDataType(), VolumeData::dtInt8);
    int dims[3];
    float spacings[3];
    v.GetDimensions(dims);
    v.GetSpacings(spacings);
    EXPECT_EQ(dims[0], 0);
    EXPECT_EQ(dims[1], 0);
    EXPECT_EQ(dims[2], 0);
    EXPECT_EQ(spacings[0], 1.0f);
    EXPECT_EQ(spacings[1], 1.0f);
    EXPECT_EQ(spacings[2], 1.0f);
    EXPECT_EQ(v.GetData(), nullptr);
    v.Clean();  // nothing to free
    EXPECT_EQ(v.GetData(), nullptr);

    const int d[3] = {3, 4, 5};
    v.SetDimensions(d);
    v.SetDataType(VolumeData::dtUint16);
    v.Allocate();
    ASSERT_NE(v.GetData(), nullptr);
    std::memset(v.GetData(), 0xAB, 3 * 4 * 5 * 2);  // the whole buffer is writable (ASan)
    v.Allocate();                                   // frees the first buffer (LeakSanitizer)
    ASSERT_NE(v.GetData(), nullptr);
    v.Clean();
    EXPECT_EQ(v.GetData(), nullptr);
}

TEST(VolumeData, AllocateRefusesSizesOutsideTheFormat) {
    // zero and negative dimensions, 2^31 bytes exactly, and a product that
    // wraps to 16 in 32-bit arithmetic: 4 * 1073741828 = 2^32 + 16
    const int cases[][3] = {
        {0, 4, 4}, {4, -1, 4}, {-2, -2, 1}, {1024, 1024, 2048}, {4, 1073741828, 1}};
    for (const auto& dims : cases) {
        VolumeData v;
        v.SetDataType(VolumeData::dtUint8);
        v.SetDimensions(dims);
        v.Allocate();
        EXPECT_EQ(v.GetData(), nullptr) << dims[0] << " x " << dims[1] << " x " << dims[2];
    }
}

TEST(VolumeData, MinMaxWorkedExamples) {
    auto range = [](DataType type, std::vector<unsigned char> bytes, int count) {
        VolumeData v;
        v.SetDataType(type);
        const int dims[3] = {count, 1, 1};
        v.SetDimensions(dims);
        v.Allocate();
        std::memcpy(v.GetData(), bytes.data(), bytes.size());
        double lo = 0.5, hi = 0.5;
        v.GetMinMaxValue(lo, hi);
        return std::make_pair(lo, hi);
    };
    auto bytesOf = [](auto... values) {
        std::vector<unsigned char> out;
        for (auto value : {values...}) {
            const auto* p = reinterpret_cast<const unsigned char*>(&value);
            out.insert(out.end(), p, p + sizeof value);
        }
        return out;
    };
    EXPECT_EQ(range(VolumeData::dtUint32, bytesOf(0u, 4000000000u), 2),
              std::make_pair(0.0, 4000000000.0));
    EXPECT_EQ(range(VolumeData::dtInt8,
                    bytesOf(static_cast<signed char>(127), static_cast<signed char>(-128)), 2),
              std::make_pair(-128.0, 127.0));
    EXPECT_EQ(range(VolumeData::dtInt16, bytesOf(static_cast<short>(-7)), 1),
              std::make_pair(-7.0, -7.0));
    // isFloat wins even with isSigned 0: -2.5 read as uint32 would be the larger value
    EXPECT_EQ(range(DataType{true, false, 32}, bytesOf(3.25f, -2.5f), 2),
              std::make_pair(-2.5, 3.25));
}

// Memory running out in Allocate throws the allocator's exception and leaves the volume empty,
// while a zero-sized volume is no error. The allocation of 2 GB fails in a child process whose
// address space may grow by 256 MB only.
TEST(VolumeData, AllocateThrowsWhenMemoryRunsOut) {
    VolumeData zero;
    const int none[3] = {0, 4, 4};
    zero.SetDimensions(none);
    EXPECT_NO_THROW(zero.Allocate());
    EXPECT_EQ(zero.GetData(), nullptr);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#endif
    const pid_t child = fork();
    if (child == 0) {
        long pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) _exit(3);
        const rlim_t bytes = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
        const struct rlimit limit = {bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
        VolumeData v;
        v.SetDataType(VolumeData::dtUint16);
        const int small[3] = {4, 4, 4};
        v.SetDimensions(small);
        v.Allocate();  // a buffer for the failed allocation to release
        const int huge[3] = {1000, 1000, 1000};
        v.SetDimensions(huge);
        try {
            v.Allocate();
        } catch (const std::bad_alloc&) {
            _exit(v.GetData() == nullptr ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: nothing thrown, 2: a buffer left, 3: no statm";
}

TEST(VolumeData, MinMaxLeavesOutputsUnchangedWithoutSamples) {
    double lo = 42.0, hi = -42.0;
    VolumeData empty;
    empty.GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 42.0);
    EXPECT_EQ(hi, -42.0);

    VolumeData odd;  // 24-bit samples match no type
    odd.SetDataType(DataType{false, false, 24});
    const int dims[3] = {2, 2, 2};
    odd.SetDimensions(dims);
    odd.Allocate();
    ASSERT_NE(odd.GetData(), nullptr);
    odd.GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 42.0);

    VolumeData grown = MakeRandomVolume<short>(2, 2, 2, 1);
    const int bigger[3] = {4, 4, 4};  // fields now describe more than the buffer holds
    grown.SetDimensions(bigger);
    grown.GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 42.0);
    EXPECT_EQ(hi, -42.0);
}

TEST(VolumeData, CopiesAreDeepAndIndependent) {
    const float sp[3] = {0.5f, 0.25f, 2.0f};
    VolumeData source = MakeRandomVolume<unsigned short>(5, 4, 3, 7, sp);
    const std::size_t bytes = 5 * 4 * 3 * 2;
    const Snapshot before = TakeSnapshot(source, bytes);

    VolumeData copy(source);
    ASSERT_NE(copy.GetData(), nullptr);
    EXPECT_NE(copy.GetData(), source.GetData());
    Snapshot expected = before;
    expected.data = copy.GetData();
    ExpectUnchanged(copy, expected);
    static_cast<unsigned short*>(copy.GetData())[0] ^= 0xFFFF;
    ExpectUnchanged(source, before);

    VolumeData assigned = MakeRandomVolume<float>(2, 2, 2, 3);
    assigned = source;
    expected.data = assigned.GetData();
    ExpectUnchanged(assigned, expected);
    EXPECT_NE(assigned.GetData(), source.GetData());

    VolumeData& alias = assigned;
    assigned = alias;  // self-assignment keeps the buffer
    ExpectUnchanged(assigned, expected);

    assigned = VolumeData();  // an empty source empties the target
    EXPECT_EQ(assigned.GetData(), nullptr);
}

TEST(VolumeData, StructuredHeaderWorkedExample) {
    VolumeData v;
    v.SetDataType(VolumeData::dtInt16);
    const int dims[3] = {256, 256, 128};
    const float sp[3] = {0.5f, 0.5f, 1.0f};
    v.SetDimensions(dims);
    v.SetSpacings(sp);
    v.Allocate();
    std::memset(v.GetData(), 0, 16777216);
    const std::string path = TempPath("worked_example.vol");
    v.WriteStructuredFile(path.c_str());
    const std::vector<unsigned char> file = ReadBytes(path);
    ASSERT_EQ(file.size(), 16777248u);
    const std::vector<unsigned char> expected = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                                                 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F,
                                                 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0x3F,
                                                 0x00, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin()));
    std::remove(path.c_str());
}

TEST(VolumeData, WritersIgnoreVolumesWithNothingValidToWrite) {
    const std::string path = TempPath("never_written.vol");
    std::remove(path.c_str());
    VolumeData empty;
    empty.WriteStructuredFile(path.c_str());
    bool exists = true;
    ReadBytes(path, &exists);
    EXPECT_FALSE(exists);

    VolumeData grown = MakeRandomVolume<int>(2, 2, 1, 5);
    const int bigger[3] = {64, 64, 64};  // fields describe more than the buffer
    grown.SetDimensions(bigger);
    grown.WriteStructuredFile(path.c_str());
    ReadBytes(path, &exists);
    EXPECT_FALSE(exists);
    FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    grown.WriteRawFile(stream);
    EXPECT_EQ(std::ftell(stream), 0);
    std::fclose(stream);
}

TEST(VolumeData, RawReadAfterCallerHeaderStopsPastItsSamples) {
    FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    const char header[] = "HDR:";  // 5 bytes of the caller's own
    std::fwrite(header, 1, 5, stream);
    unsigned short samples[9] = {1, 2, 3, 4, 5, 6, 7, 65535, 99};  // the 9th is not read
    std::fwrite(samples, 2, 9, stream);
    std::fseek(stream, 5, SEEK_SET);

    VolumeData v;
    v.SetDataType(VolumeData::dtUint16);
    const int dims[3] = {2, 2, 2};
    v.SetDimensions(dims);
    v.ReadRawFile(stream);
    EXPECT_EQ(std::ftell(stream), 5 + 16);
    ASSERT_NE(v.GetData(), nullptr);
    EXPECT_EQ(std::memcmp(v.GetData(), samples, 16), 0);
    std::fclose(stream);
}

TEST(VolumeData, RawReadOfShortOrInvalidInputLeavesVolumeUnchanged) {
    VolumeData v = MakeRandomVolume<short>(3, 3, 3, 11);
    const Snapshot before = TakeSnapshot(v, 54);
    FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    const std::vector<unsigned char> only53(53, 0x5A);  // one byte short
    std::fwrite(only53.data(), 1, only53.size(), stream);
    std::rewind(stream);
    v.ReadRawFile(stream);
    ExpectUnchanged(v, before);
    v.ReadRawFile(nullptr);
    ExpectUnchanged(v, before);

    VolumeData zero;  // dimensions 0: nothing to read, stream untouched
    std::rewind(stream);
    zero.ReadRawFile(stream);
    EXPECT_EQ(zero.GetData(), nullptr);
    EXPECT_EQ(std::ftell(stream), 0);
    std::fclose(stream);
}

// ---------------------------------------------------------------------------
// Round trips of every sample type

template <typename T>
class VolumeDataTyped : public ::testing::Test {};
TYPED_TEST_SUITE(VolumeDataTyped, AllSampleTypes);

TYPED_TEST(VolumeDataTyped, StructuredFileRoundTripReproducesEveryByte) {
    using T = TypeParam;
    const float sp[3] = {0.75f, 1.5f, 3.0f};
    VolumeData source = MakeRandomVolume<T>(5, 3, 7, 1234, sp);
    const std::size_t bytes = 5 * 3 * 7 * sizeof(T);
    const std::string path = TempPath("roundtrip.vol");
    source.WriteStructuredFile(path.c_str());

    const std::vector<unsigned char> file = ReadBytes(path);
    ASSERT_EQ(file.size(), 32 + bytes);
    const DataType t = TypeOf<T>();
    const std::vector<unsigned char> header =
        Header(5, 3, 7, 0.75f, 1.5f, 3.0f, t.isFloat, t.isSigned, t.bitCount);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    EXPECT_EQ(std::memcmp(file.data() + 32, source.GetData(), bytes), 0);

    VolumeData read = MakeRandomVolume<unsigned char>(2, 2, 2, 9);  // replaced wholesale
    read.ReadStructuredFile(path.c_str());
    Snapshot expected = TakeSnapshot(source, bytes);
    expected.data = read.GetData();
    ASSERT_NE(read.GetData(), nullptr);
    ExpectUnchanged(read, expected);
    std::remove(path.c_str());
}

TYPED_TEST(VolumeDataTyped, RawStreamRoundTripAtAnOffset) {
    using T = TypeParam;
    VolumeData source = MakeRandomVolume<T>(4, 5, 6, 99);
    const std::size_t bytes = 4 * 5 * 6 * sizeof(T);
    FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fwrite("0123456789abc", 1, 13, stream);  // 13-byte prefix: samples unaligned
    source.WriteRawFile(stream);
    EXPECT_EQ(std::ftell(stream), static_cast<long>(13 + bytes));
    std::fwrite("tail", 1, 4, stream);

    std::fseek(stream, 13, SEEK_SET);
    VolumeData read;
    read.SetDataType(TypeOf<T>());
    const int dims[3] = {4, 5, 6};
    const float sp[3] = {9.0f, 8.0f, 7.0f};
    read.SetDimensions(dims);
    read.SetSpacings(sp);
    read.ReadRawFile(stream);
    EXPECT_EQ(std::ftell(stream), static_cast<long>(13 + bytes));
    ASSERT_NE(read.GetData(), nullptr);
    EXPECT_EQ(std::memcmp(read.GetData(), source.GetData(), bytes), 0);
    float after[3];
    read.GetSpacings(after);
    EXPECT_EQ(after[0], 9.0f);  // raw reads leave spacings alone
    std::fclose(stream);
}

TYPED_TEST(VolumeDataTyped, MinMaxMatchesAnIndependentScan) {
    using T = TypeParam;
    VolumeData v = MakeRandomVolume<T>(17, 5, 3, 77);
    const T* s = static_cast<const T*>(v.GetData());
    const auto [lo, hi] = std::minmax_element(s, s + 17 * 5 * 3);
    double min = 0, max = 0;
    v.GetMinMaxValue(min, max);
    EXPECT_EQ(min, static_cast<double>(*lo));
    EXPECT_EQ(max, static_cast<double>(*hi));
}

// ---------------------------------------------------------------------------
// Malformed structured files: no crash, the volume exactly as it was

struct BadFile {
    const char* name;
    std::vector<unsigned char> bytes;  // empty name-only case: file does not exist
    bool create;
};

std::vector<unsigned char> WithSamples(std::vector<unsigned char> header, std::size_t count) {
    header.resize(header.size() + count, 0x11);
    return header;
}

std::vector<BadFile> BadFiles() {
    const auto valid = WithSamples(Header(2, 2, 2, 1, 1, 1, 0, 1, 16), 16);
    return {
        {"nonexistent", {}, false},
        {"empty", {}, true},
        {"truncated_header", std::vector<unsigned char>(valid.begin(), valid.begin() + 31), true},
        {"zero_dimension", WithSamples(Header(2, 0, 2, 1, 1, 1, 0, 1, 16), 16), true},
        {"negative_dimension", WithSamples(Header(-2, -2, 1, 1, 1, 1, 0, 1, 8), 16), true},
        {"bit_count_24", WithSamples(Header(2, 2, 2, 1, 1, 1, 0, 0, 24), 24), true},
        {"bit_count_0", WithSamples(Header(2, 2, 2, 1, 1, 1, 0, 0, 0), 16), true},
        {"flag_byte_2", WithSamples(Header(2, 2, 2, 1, 1, 1, 2, 1, 32), 32), true},
        {"float_of_16_bits", WithSamples(Header(2, 2, 2, 1, 1, 1, 1, 1, 16), 32), true},
        // 2 * 65536 * 65536: 2^33 bytes
        {"byte_count_over_2^31", WithSamples(Header(65536, 65536, 1, 1, 1, 1, 0, 1, 16), 64), true},
        // 4 * 1073741828 = 2^32 + 16 wraps to 16 in 32 bits; 16 bytes follow
        {"byte_count_wraps_32_bits", WithSamples(Header(4, 1073741828, 1, 1, 1, 1, 0, 0, 8), 16),
         true},
        {"exactly_2^31_bytes", WithSamples(Header(1024, 1024, 2048, 1, 1, 1, 0, 0, 8), 16), true},
        {"short_samples", std::vector<unsigned char>(valid.begin(), valid.end() - 1), true},
    };
}

class VolumeDataBadFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(VolumeDataBadFile, LeavesVolumeExactlyAsItWas) {
    const BadFile& bad = GetParam();
    const std::string path = TempPath(std::string("bad_") + bad.name);
    std::remove(path.c_str());
    if (bad.create) WriteBytes(path, bad.bytes);

    const float sp[3] = {0.1f, 0.2f, 0.3f};
    VolumeData v = MakeRandomVolume<float>(3, 2, 2, 5, sp);
    const Snapshot before = TakeSnapshot(v, 3 * 2 * 2 * 4);
    v.ReadStructuredFile(path.c_str());
    ExpectUnchanged(v, before);

    VolumeData empty;  // an empty volume stays empty and default
    const Snapshot emptyBefore = TakeSnapshot(empty, 0);
    empty.ReadStructuredFile(path.c_str());
    ExpectUnchanged(empty, emptyBefore);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, VolumeDataBadFile, ::testing::ValuesIn(BadFiles()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '^', 'e');
                             return name;
                         });
