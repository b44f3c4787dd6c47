// Transfer-function files: a round trip through a file, every preset loads and makes sense on
// the head phantom's values, and bad files are refused with one line naming the file and the
// line, changing nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "AppTestUtil.h"
#include "DataDefaults.h"
#include "HeadPhantom.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionFile.h"

namespace {

// Table positions survive the value -> file -> value trip to float rounding.
constexpr float kPositionTol = 1e-4f;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(TransferFunctionFile, RoundTripThroughAFile) {
    RGBATransferFunction1D tf;
    tf.SetSampleNumber(300);
    tf.SetMinPos(-1024.f);
    tf.SetMaxPos(3071.f);
    tf.AddPoint(-500.f, Vector4(0.1f, 0.2f, 0.3f, 0.0f));
    tf.AddPoint(40.3f, Vector4(0.9f, 0.5f, 0.4f, 0.125f));
    tf.AddPoint(40.3f, Vector4(1.f, 1.f, 1.f, 1.f));  // equal values keep their order
    tf.AddPoint(1e-3f, Vector4(0.3333333f, 0.6666667f, 1.f, 0.7f));
    const std::string path = apptest::TempFolder("tf") + "/soft.ktf";
    SaveTransferFunctionFile(path, tf);

    RGBATransferFunction1D back;
    LoadTransferFunctionFile(path, back);
    EXPECT_EQ(back.GetSampleNumber(), 300);
    EXPECT_EQ(back.GetMinPos(), -1024.f);
    EXPECT_EQ(back.GetMaxPos(), 3071.f);
    ASSERT_EQ(back.GetPointCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR((*back.points)[i].position, (*tf.points)[i].position, kPositionTol) << i;
        const Vector4 a = tf.GetValue(i), b = back.GetValue(i);
        EXPECT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w) << i;
    }
    const Vector4* x = tf.GetData();
    const Vector4* y = back.GetData();
    for (int j = 0; j < 300; ++j)
        EXPECT_NEAR(x[j].w, y[j].w, 1e-5f) << j;
    // Saving again replaces the file in place, leaving no temporary behind.
    SaveTransferFunctionFile(path, back);
    EXPECT_EQ(apptest::FolderEntries(path.substr(0, path.rfind('/'))).size(), 1u);
}

// Interpolated opacity of a table at scalar value v.
float OpacityAt(RGBATransferFunction1D& tf, float v) {
    const Lut1D& lut = tf.GetLut1D();
    const float x = (v - lut.minPos) / (lut.maxPos - lut.minPos) * float(lut.sampleCount - 1);
    const int i = int(x);
    return lut.data[i].w + (x - float(i)) * (lut.data[i + 1].w - lut.data[i].w);
}

TEST(TransferFunctionFile, EveryPresetLoadsAndTheCTOnesFitThePhantom) {
    ASSERT_GE(TransferFunctionPresetNames().size(), 3u);
    for (const std::string& name : TransferFunctionPresetNames()) {
        RGBATransferFunction1D tf;
        ASSERT_TRUE(LoadTransferFunctionPreset(name, tf)) << name;
        EXPECT_GE(tf.GetPointCount(), 3) << name;
        // The preset's text is a valid file that gives the same function.
        const std::string path = apptest::TempFolder("preset") + "/" + name + ".ktf";
        WriteFile(path, TransferFunctionPresetText(name));
        RGBATransferFunction1D fromFile;
        LoadTransferFunctionFile(path, fromFile);
        EXPECT_EQ(fromFile.GetPointCount(), tf.GetPointCount()) << name;
    }
    using V = HeadPhantomValues;
    RGBATransferFunction1D ct;
    ASSERT_TRUE(LoadTransferFunctionPreset("ct-soft-tissue-bone", ct));
    EXPECT_EQ(OpacityAt(ct, V::kAir), 0.f);
    EXPECT_GT(OpacityAt(ct, V::kScalp), 0.f);  // soft tissue faint
    EXPECT_LT(OpacityAt(ct, V::kScalp), 0.1f);
    EXPECT_GT(OpacityAt(ct, V::kCorticalBone), 5.f * OpacityAt(ct, V::kScalp));  // bone strong
    EXPECT_GT(OpacityAt(ct, V::kTooth), 0.8f);
    RGBATransferFunction1D bone;
    ASSERT_TRUE(LoadTransferFunctionPreset("ct-bone", bone));
    EXPECT_EQ(OpacityAt(bone, V::kLens), 0.f);
    EXPECT_GT(OpacityAt(bone, V::kDiploe), 0.3f);
    EXPECT_FALSE(LoadTransferFunctionPreset("no-such-preset", bone));

    // A volume in Hounsfield units (air near -1000) gets the CT presets 1024 lower, so each
    // tissue of the phantom, moved to Hounsfield units, keeps its opacity; the phantom's own
    // scale (no value below -500) keeps them where they are.
    DataDefaults hounsfield, shifted;
    hounsfield.histogram.minValue = -1024.0;
    shifted.histogram.minValue = 0.0;
    for (const char* name : {"ct-soft-tissue-bone", "ct-bone"}) {
        RGBATransferFunction1D plain, inHU, onPhantom;
        ASSERT_TRUE(LoadTransferFunctionPreset(name, plain));
        ASSERT_TRUE(LoadTransferFunctionPreset(name, inHU, &hounsfield));
        ASSERT_TRUE(LoadTransferFunctionPreset(name, onPhantom, &shifted));
        for (float value : {V::kAir, V::kScalp, V::kDiploe, V::kCorticalBone, V::kTooth}) {
            EXPECT_NEAR(OpacityAt(inHU, value - 1024.f), OpacityAt(plain, value), 1e-5f)
                << name << " at " << value;
            EXPECT_EQ(OpacityAt(onPhantom, value), OpacityAt(plain, value)) << name;
        }
    }
}

TEST(TransferFunctionFile, BadFilesNameFileAndLineAndChangeNothing) {
    const std::string folder = apptest::TempFolder("badtf");
    const std::string head = "kestrel-transfer-function 1\nrange 0 100\nsamples 64\n";
    const struct {
        std::string text;
        std::string message;  // expected after "<path>:"
    } cases[] = {
        {"", "0: empty file"},
        {"# only a comment\nrange 0 1\n", "2: not a transfer-function file"},
        {"kestrel-transfer-function 2\n", "1: unsupported format version 2"},
        {"kestrel-transfer-function 1\nrange 5 5\n", "2: range must be finite with min < max"},
        {"kestrel-transfer-function 1\nrange 0 1e39\n", "2: range must be finite"},
        {"kestrel-transfer-function 1\nrange -3e38 3e38\n", "2: range is too wide"},
        {"kestrel-transfer-function 1\nrange 0 1\nsamples 1\n", "3: 'samples' needs a whole"},
        {"kestrel-transfer-function 1\nrange 0 1\nsamples 2.5\n", "3: 'samples' needs a whole"},
        {"kestrel-transfer-function 1\nrange 0 1\npoint 0 0 0 0 0\n", "3: 'point' before"},
        {head + "point 10 0.5 0.5 0.5\n", "4: 'point' needs five numbers"},
        {head + "\n\npoint 10 0.5 0.5 0.5 1.5\n", "6: point colour channels must lie in [0, 1]"},
        {head + "point nan 0.5 0.5 0.5 0.5\n", "4: 'nan' is not a finite number"},
        {head + "point 10 0.5 0.5 0.5 0.5 7\n", "4: unexpected '7' after the statement"},
        {head + "colour 1 2 3\n", "4: unknown statement 'colour'"},
        {head + "range 0 1\n", "4: second 'range' statement"},
        {"kestrel-transfer-function 1\nsamples 8\n", "2: end of file without a 'range'"},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string path = folder + "/bad" + std::to_string(index++) + ".ktf";
        WriteFile(path, c.text);
        RGBATransferFunction1D tf;
        tf.AddPoint(50.f, Vector4(1, 1, 1, 1));
        try {
            LoadTransferFunctionFile(path, tf);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const InputError& error) {
            const std::string what = error.what();
            EXPECT_EQ(what.rfind(path + ":" + c.message, 0), 0u) << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
        EXPECT_EQ(tf.GetPointCount(), 1);
        EXPECT_EQ(tf.GetMaxPos(), 256.f);
    }
    RGBATransferFunction1D tf;
    EXPECT_THROW(LoadTransferFunctionFile(folder + "/missing.ktf", tf), InputError);
    EXPECT_THROW(SaveTransferFunctionFile(folder + "/no/such/folder.ktf", tf), InputError);
}

}  // namespace
