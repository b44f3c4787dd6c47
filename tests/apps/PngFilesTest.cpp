// The applications' PNG writer and reader: byte-exact round trip with the
// row order flipped on disk, the file signature and header, and failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "PngReader.h"
#include "PngWriter.h"

namespace {
std::string TempPng(char const* name) {
    return ::testing::TempDir() + "pngfiles_" + std::to_string(getpid()) + "_" + name;
}

uint32_t BigEndian32(unsigned char const* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
}  // namespace

TEST(PngFiles, RoundTripKeepsEveryByte) {
    int const w = 37, h = 23;  // odd sizes: no row padding hides errors
    std::vector<uint8_t> img(size_t(w) * h * 4);
    std::mt19937 rng(5);
    for (auto& b : img)
        b = uint8_t(rng());
    std::string const path = TempPng("roundtrip.png");
    std::string error;
    ASSERT_TRUE(WritePng(path, w, h, img.data(), &error)) << error;
    int rw = 0, rh = 0;
    std::vector<uint8_t> back;
    ASSERT_TRUE(ReadPng(path, &rw, &rh, &back, &error)) << error;
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    EXPECT_EQ(back, img);
}

TEST(PngFiles, FileStartsWithTheTopRow) {
    // 2 x 2: bottom row red, top row blue (rows given bottom-up)
    uint8_t const img[16] = {255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255};
    std::string const path = TempPng("order.png");
    ASSERT_TRUE(WritePng(path, 2, 2, img, nullptr));
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 33u);
    unsigned char const signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(std::equal(signature, signature + 8, bytes.begin()));
    // IHDR: width 2, height 2, 8 bits, colour type 6 (RGBA)
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(&bytes[16]), 2u);
    EXPECT_EQ(BigEndian32(&bytes[20]), 2u);
    EXPECT_EQ(bytes[24], 8);
    EXPECT_EQ(bytes[25], 6);

    // the reader flips back: row 0 (bottom) red
    int w = 0, h = 0;
    std::vector<uint8_t> back;
    ASSERT_TRUE(ReadPng(path, &w, &h, &back, nullptr));
    EXPECT_EQ(back[0], 255);
    EXPECT_EQ(back[2], 0);
    EXPECT_EQ(back[8], 0);
    EXPECT_EQ(back[10], 255);
}

TEST(PngFiles, FailuresReportTheFileAndLeaveOutputs) {
    uint8_t const px[4] = {1, 2, 3, 4};
    std::string error;
    EXPECT_FALSE(WritePng("/nonexistent-dir/a.png", 1, 1, px, &error));
    EXPECT_NE(error.find("/nonexistent-dir/a.png"), std::string::npos);
    EXPECT_FALSE(WritePng(TempPng("empty.png"), 0, 5, px, &error));

    std::string const notPng = TempPng("not.png");
    std::ofstream(notPng) << "this is not a PNG file";
    int w = -1, h = -1;
    std::vector<uint8_t> out = {9};
    EXPECT_FALSE(ReadPng(notPng, &w, &h, &out, &error));
    EXPECT_NE(error.find(notPng), std::string::npos);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_FALSE(ReadPng(TempPng("missing.png"), &w, &h, &out, &error));
}
