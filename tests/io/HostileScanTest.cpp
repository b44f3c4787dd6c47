// Crafted scans: files that crashed, hung or loaded wrong data end in one line naming the file,
// within their own time limit; those that can be loaded keep every sample and say what was
// assumed. kestrel-render runs each, so that a crash or a hang fails only its case.
#include <sys/stat.h>

#include <cmath>
#include <limits>

#include "../../io/ContainedCall.cpp"  // the child-process runner is internal to KestrelIO
#include "ScanTestUtil.h"

namespace {

using scantest::Grid;

// Seconds a case may take: far above a correct run, far below a hang.
constexpr double kCaseSeconds = 20.0;

const std::string kHead = "NRRD0004\ntype: short\ndimension: 3\nsizes: 2 2 2\n";

struct Refused {
    std::string file;      // rendered, and given to --info
    std::string problem;   // in the one line, after "kestrel-render: <file>: "
    bool inHeader = true;  // false: a fault in the samples, which --info does not read
};

apptest::RunResult Info(const std::string& file, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {apptest::RenderExe(), "--info", file};
    args.insert(args.end(), extra.begin(), extra.end());
    return apptest::RunApp(args, false, kCaseSeconds);
}

void PatchBytes(const std::string& path, long at, const void* bytes, std::size_t size) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, at, SEEK_SET);
    std::fwrite(bytes, 1, size, file);
    std::fclose(file);
}

TEST(HostileScanTest, EachBadFileIsRefusedInOneLineWithoutHanging) {
    if (!apptest::FileExists(apptest::RenderExe())) GTEST_SKIP() << "kestrel-render is not built";
    const std::string dir = scantest::TempFolder("hostile");
    std::vector<Refused> cases;
    // Text samples with binary bytes (teem crashed), and one number longer than any.
    scantest::WriteText(dir + "/binary.nrrd",
                        kHead + "encoding: ascii\n\n" + std::string(64, '\0'));
    cases.push_back({dir + "/binary.nrrd", "text samples hold a byte that is not text", false});
    scantest::WriteText(dir + "/long.nrrd",
                        kHead + "encoding: ascii\n\n" + std::string(5000, '1') + " 2 3 4 5 6 7 8");
    cases.push_back({dir + "/long.nrrd", "text sample 1 is longer than 64 characters", false});
    // A pipe as a detached data file (teem blocked on it), and as a NIfTI pair's image file.
    mkfifo((dir + "/pipe.raw").c_str(), 0644);
    scantest::WriteText(dir + "/pipe.nhdr", kHead + "encoding: raw\ndata file: pipe.raw\n");
    cases.push_back({dir + "/pipe.nhdr", "its data file " + dir + "/pipe.raw is not a regular"});
    const Grid grid;
    scantest::WriteNifti<int16_t>(dir + "/pair.hdr", grid, DT_INT16, 0, 0);
    unlink((dir + "/pair.img").c_str());
    mkfifo((dir + "/pair.img").c_str(), 0644);
    cases.push_back({dir + "/pair.hdr", "its data file " + dir + "/pair.img is not a regular"});
    // Headers teem would crawl over, and text too short for the samples it declares.
    std::string keys;
    for (int i = 0; i < 300000; ++i)
        keys += "k" + std::to_string(i) + ":=v\n";
    scantest::WriteText(dir + "/keys.nrrd", kHead + "encoding: raw\nendian: little\n" + keys +
                                                "\n" + std::string(16, '\0'));
    cases.push_back({dir + "/keys.nrrd", "more than 4096 comments and key/value lines"});
    scantest::WriteText(dir + "/magic.nrrd", "NRRD00nan04\ntype: short\n");  // teem leaked
    cases.push_back({dir + "/magic.nrrd", "the first line is not NRRD0001 .. NRRD0005"});
    scantest::WriteText(dir + "/giga.nrrd",
                        "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1000 1000 1000\n"
                        "encoding: ascii\n\n1 2 3\n");
    cases.push_back({dir + "/giga.nrrd", "6 bytes of text cannot hold the 1000000000 samples"});
    // Declared compression that is not there; samples inside the header; a bit depth that
    // contradicts the type; a damaged compressed stream.
    scantest::WriteText(dir + "/plain.nrrd",
                        kHead + "encoding: gzip\nendian: little\n\n" + std::string(16, 'x'));
    cases.push_back({dir + "/plain.nrrd", "encoding gzip declared, but the data are not gzip"});
    for (const char* name : {"/offset0.nii", "/bitpix.nii", "/corrupt.nii.gz"})
        scantest::WriteNifti<int16_t>(dir + name, grid, DT_INT16, 0, 0);
    const float zero = 0.0f;
    PatchBytes(dir + "/offset0.nii", 108, &zero, 4);
    cases.push_back({dir + "/offset0.nii", "vox_offset 0 puts the samples inside the header"});
    const int16_t bits = 32;
    PatchBytes(dir + "/bitpix.nii", 72, &bits, 2);
    cases.push_back({dir + "/bitpix.nii", "bitpix 32 contradicts datatype INT16 (16 bits)"});
    struct stat status;
    ASSERT_EQ(stat((dir + "/corrupt.nii.gz").c_str(), &status), 0);
    PatchBytes(dir + "/corrupt.nii.gz", long(status.st_size) - 6, "\xde\xad\xbe\xef", 4);
    cases.push_back({dir + "/corrupt.nii.gz", "corrupt gzip data"});

    for (const Refused& c : cases) {
        // --info and a render: both must refuse, and the render leaves no file behind.
        const std::string out = scantest::TempFolder("out");
        std::vector<apptest::RunResult> runs = {apptest::RunApp(
            {apptest::RenderExe(), c.file, "-o", out + "/x.png"}, false, kCaseSeconds)};
        if (c.inHeader) runs.push_back(Info(c.file));
        for (const apptest::RunResult& r : runs) {
            EXPECT_EQ(r.code, 2) << c.file << ": " << r.err;
            EXPECT_EQ(apptest::CountLines(r.err), 1) << r.err;
            EXPECT_EQ(r.err.rfind("kestrel-render: " + c.file + ": ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
        }
        EXPECT_TRUE(apptest::FolderEntries(out).empty()) << c.file;
    }
}

// Loads that keep what is there and say what was assumed.
TEST(HostileScanTest, SamplesAreKeptAndAssumptionsNoted) {
    const std::string dir = scantest::TempFolder("kept");
    // Text samples of every kind of number the type holds, as written.
    const std::vector<int16_t> values = {-32768, 0, 7, -1, 32767, 12, 300, -300};
    std::string text = kHead + "encoding: ascii\n\n";
    for (int16_t v : values)
        text += std::to_string(v) + (v == 7 ? ",\n" : "  ");
    scantest::WriteText(dir + "/text.nrrd", text);
    const std::unique_ptr<VolumeData> ascii = LoadScan(dir + "/text.nrrd", {}, nullptr);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(static_cast<const int16_t*>(ascii->GetData())[i], values[i]) << i;

    // Non-finite float samples stay where they were (the NIfTI library set them to 0); a pixdim
    // of 0 takes the orientation matrix's length with a note.
    const Grid grid;
    scantest::WriteNifti<float>(dir + "/nan.nii", grid, DT_FLOAT32, 0, 0);
    const float specials[3] = {std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(), 0.0f};
    PatchBytes(dir + "/nan.nii", 352, specials, sizeof specials);
    PatchBytes(dir + "/nan.nii", 80, &specials[2], 4);  // pixdim[1]
    ScanInfo info;
    const std::unique_ptr<VolumeData> floats = LoadScan(dir + "/nan.nii", {}, &info);
    int nan = 0, inf = 0;
    const float* samples = static_cast<const float*>(floats->GetData());
    for (int i = 0; i < 6 * 5 * 4; ++i) {
        nan += std::isnan(samples[i]);
        inf += std::isinf(samples[i]);
    }
    EXPECT_EQ(nan, 1);
    EXPECT_EQ(inf, 1);
    EXPECT_FLOAT_EQ(floats->spacings[0], 1.0f);
    bool noted = false;
    for (const std::string& note : info.notes)
        noted = noted || note ==
                             "pixdim[1] 0 is no voxel size: spacing 1 from the orientation "
                             "matrix";
    EXPECT_TRUE(noted);

    // A header declaring 1 GB of samples in a file of a few hundred bytes: --info reads the
    // header only, in far less memory than the samples would take.
    scantest::WriteNifti<int16_t>(dir + "/bomb.nii", grid, DT_INT16, 0, 0);
    const int16_t dims[3] = {1000, 1000, 500};
    PatchBytes(dir + "/bomb.nii", 42, dims, sizeof dims);
    ASSERT_EQ(truncate((dir + "/bomb.nii").c_str(), 352 + 1000L * 1000 * 500 * 2), 0);
    const apptest::RunResult r =
        apptest::RunApp({apptest::RenderExe(), "--info", dir + "/bomb.nii"}, false, kCaseSeconds,
                        apptest::AddressSpaceLimit(rlim_t(768) << 20));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("dimensions:  1000 x 1000 x 500"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("values:      not read"), std::string::npos) << r.out;
    // A header of a sane size: the samples are read for the range and the percentiles.
    scantest::WriteNifti<int16_t>(dir + "/small.nii", grid, DT_INT16, 0, 0);
    const apptest::RunResult small =
        apptest::RunApp({apptest::RenderExe(), "--info", dir + "/small.nii"}, false, kCaseSeconds);
    EXPECT_EQ(small.code, 0) << small.err;
    EXPECT_EQ(small.out.find("not read"), std::string::npos) << small.out;
    EXPECT_NE(small.out.find("percentiles: "), std::string::npos) << small.out;
}

// A DICOM series among a pipe, a link to a device, a link loop and a link to /proc: the series
// loads whole and the notes name what was skipped; PixelSpacing 0 and RescaleSlope 0 are noted.
TEST(HostileScanTest, DicomFolderSkipsSpecialFilesAndNamesThem) {
    const std::string dir = scantest::TempFolder("dicomfolder");
    Grid grid;
    grid.dims[2] = 5;
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.5001";
    scantest::WriteDicomSeries(dir, grid, layout);
    mkfifo((dir + "/0_pipe").c_str(), 0644);
    ASSERT_EQ(symlink("/dev/zero", (dir + "/1_zero").c_str()), 0);
    ASSERT_EQ(symlink(".", (dir + "/2_loop").c_str()), 0);
    ASSERT_EQ(symlink("/proc", (dir + "/3_proc").c_str()), 0);
    const apptest::RunResult r = Info(dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("dimensions:  6 x 5 x 5"), std::string::npos) << r.out;
    for (const std::string& skipped :
         {dir + "/0_pipe: a pipe", dir + "/1_zero: a device",
          dir + "/2_loop: a folder already read", dir + "/3_proc: a system folder"}) {
        EXPECT_NE(r.out.find("note:        skipped " + skipped), std::string::npos) << r.out;
    }

    const std::string odd = scantest::TempFolder("dicomodd");
    layout.slope = 0.0;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.5002";
    scantest::WriteDicomSeries(odd, grid, layout);
    ScanInfo info;
    const std::unique_ptr<VolumeData> volume = LoadScan(odd, {}, &info);
    scantest::ExpectPlacedVolume(*volume, grid, 1.0, 0.0);
    int noted = 0;
    for (const std::string& note : info.notes)
        noted += note.find("RescaleSlope '0'") != std::string::npos;
    EXPECT_EQ(noted, 1);
}

// A child that never answers ends at its time limit as a failure, not a hang.
TEST(HostileScanTest, ContainedCallEndsAHungChildAtItsTimeLimit) {
    const auto start = std::chrono::steady_clock::now();
    try {
        kestrel_io::RunContained([](const kestrel_io::ContainedOutput&) { pause(); },
                                 [](char, const std::string&) {}, 0, 0.5);
        ADD_FAILURE() << "returned";
    } catch (const kestrel_io::ContainedFailure& failure) {
        EXPECT_EQ(std::string(failure.what()).rfind("no result after 0.5 s", 0), 0u)
            << failure.what();
    }
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              kCaseSeconds);
}

}  // namespace
