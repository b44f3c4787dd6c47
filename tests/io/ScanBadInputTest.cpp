// Truncated, inconsistent and unsupported scans: each load fails with one line that names the
// offending file and says what is wrong.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "ScanTestUtil.h"

namespace {

using scantest::Grid;

struct BadCase {
    std::string path;     // what is loaded
    std::string culprit;  // the file the message must name
    std::string problem;  // what the message must say
};

// A NIfTI-1 header's dim[] (int16 x 8) lies at byte 40.
void PatchNiftiDims(const std::string& path, int16_t x, int16_t y, int16_t z) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    const int16_t dims[3] = {x, y, z};
    std::fseek(file, 42, SEEK_SET);
    std::fwrite(dims, 2, 3, file);
    std::fclose(file);
}

TEST(ScanBadInputTest, EachFailureNamesTheFileAndTheProblem) {
    std::vector<BadCase> cases;
    const Grid grid;
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.3001";

    // DICOM: one slice of another size in the series.
    const std::string mixed = scantest::TempFolder("mixed");
    scantest::WriteDicomSeries(mixed, grid, layout);
    Grid small;
    small.dims[0] = small.dims[1] = 4;
    small.dims[2] = 1;
    small.origin[2] = grid.origin[2] + 4 * 3.0;
    layout.fileOrder = {9};
    scantest::WriteDicomSeries(mixed, small, layout);
    cases.push_back({mixed, "_9.dcm", "image of 4 x 4 in a series of 6 x 5 images"});
    layout.fileOrder.clear();

    // DICOM: the third of five slices removed.
    const std::string gap = scantest::TempFolder("gap");
    Grid five = grid;
    five.dims[2] = 5;
    scantest::WriteDicomSeries(gap, five, layout);
    unlink((gap + "/3001_2.dcm").c_str());
    cases.push_back({gap, "3001_3.dcm", "slices missing before it (gap of 6 mm"});

    // DICOM: one image is not a volume.
    const std::string single = scantest::TempFolder("single");
    Grid one = grid;
    one.dims[2] = 1;
    scantest::WriteDicomSeries(single, one, layout);
    cases.push_back({single, single + "/3001_0.dcm", "a single 2-D image (6 x 5)"});

    // DICOM: a slice cut short inside its pixel data.
    const std::string cut = scantest::TempFolder("cut");
    scantest::WriteDicomSeries(cut, grid, layout);
    const std::string cutFile = cut + "/3001_1.dcm";
    struct stat status;
    ASSERT_EQ(stat(cutFile.c_str(), &status), 0);
    ASSERT_EQ(truncate(cutFile.c_str(), status.st_size - 20), 0);
    cases.push_back({cut, cutFile, "pixel data is truncated"});

    // NIfTI: data cut short, a 2-D image, dimensions whose product overflows, colour samples.
    const std::string nifti = scantest::TempFolder("nifti");
    scantest::WriteNifti<int16_t>(nifti + "/short.nii", grid, DT_INT16, 0, 0);
    ASSERT_EQ(truncate((nifti + "/short.nii").c_str(), 352 + 100), 0);
    cases.push_back({nifti + "/short.nii", nifti + "/short.nii",
                     "holds fewer samples than its header promises"});
    scantest::WriteNifti<int16_t>(nifti + "/flat.nii", one, DT_INT16, 0, 0);
    cases.push_back({nifti + "/flat.nii", nifti + "/flat.nii", "a single 2-D image (6 x 5)"});
    scantest::WriteNifti<int16_t>(nifti + "/huge.nii", grid, DT_INT16, 0, 0);
    PatchNiftiDims(nifti + "/huge.nii", 30000, 30000, 30000);
    cases.push_back({nifti + "/huge.nii", nifti + "/huge.nii",
                     "volume of 30000 x 30000 x 30000 samples is larger than 2 GiB"});
    scantest::WriteNifti<uint8_t>(nifti + "/rgb.nii", grid, DT_UINT8, 0, 0);
    {
        // Rewrite the type fields (datatype int16 at 70, bitpix at 72) as RGB24.
        FILE* file = std::fopen((nifti + "/rgb.nii").c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        const int16_t type[2] = {DT_RGB24, 24};
        std::fseek(file, 70, SEEK_SET);
        std::fwrite(type, 2, 2, file);
        std::fclose(file);
    }
    cases.push_back({nifti + "/rgb.nii", nifti + "/rgb.nii", "unsupported sample type RGB24"});

    // NRRD: fewer bytes than the header promises, an overflowing size, a block type.
    const std::string nrrd = scantest::TempFolder("nrrd");
    const std::string head = "NRRD0004\ntype: short\ndimension: 3\nencoding: raw\nendian: little\n";
    scantest::WriteText(nrrd + "/short.nrrd", head + "sizes: 4 4 4\n\n0123456789");
    cases.push_back({nrrd + "/short.nrrd", nrrd + "/short.nrrd", "not a readable NRRD file"});
    scantest::WriteText(nrrd + "/huge.nrrd", head + "sizes: 100000 100000 100000\n\n0123");
    cases.push_back({nrrd + "/huge.nrrd", nrrd + "/huge.nrrd", "larger than 2 GiB"});
    scantest::WriteText(nrrd + "/block.nrrd",
                        "NRRD0004\ntype: block\nblock size: 3\ndimension: 3\nsizes: 1 1 2\n"
                        "encoding: raw\nendian: little\n\nabcdef");
    cases.push_back({nrrd + "/block.nrrd", nrrd + "/block.nrrd", "unsupported sample type block"});

    // Neither content nor name says what the file is.
    scantest::WriteText(nrrd + "/notes.txt", "just some words\n");
    cases.push_back({nrrd + "/notes.txt", nrrd + "/notes.txt", "unknown file format"});

    for (const BadCase& c : cases) {
        try {
            LoadScan(c.path, ScanLoadOptions(), nullptr);
            ADD_FAILURE() << c.path << ": loaded";
        } catch (const ScanError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
            EXPECT_NE(message.find(c.culprit + ": "), std::string::npos) << message;
            EXPECT_NE(message.find(c.problem), std::string::npos) << message;
        }
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Overwrites the bytes right after the first occurrence of `marker` in the file.
void PatchAfter(const std::string& path, const std::string& marker, const std::string& bytes) {
    std::string content;
    {
        std::ifstream in(path, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::size_t at = content.find(marker);
    ASSERT_NE(at, std::string::npos) << path;
    content.replace(at + marker.size(), bytes.size(), bytes);
    std::ofstream(path, std::ios::binary) << content;
}

// Bytes on which Debian's GDCM aborts or allocates gigabytes: loading never crashes the caller
// and ends in one line naming the file, as does kestrel-render (exit status 2).
TEST(ScanBadInputTest, MalformedDicomBytesFailInOneLine) {
    struct Corruption {
        std::string marker;   // explicit little endian element header: tag, VR, ...
        std::string bytes;    // ... then these for its length or value
        std::string problem;  // what the message must say
    };
    const std::string tagAndVr = std::string("\x28\x00\x02\x00US\x02\x00", 8);
    const std::vector<Corruption> corruptions = {
        // Samples per Pixel 255: GDCM asserts at most 4.
        {tagAndVr, std::string("\xff\x00", 2), "the DICOM library failed on this file (signal 6"},
        // SOP Class UID with a length past the end of the file: GDCM asserts a good stream.
        {std::string("\x08\x00\x16\x00UI", 6), std::string("\xf0\xff", 2),
         "the DICOM library failed on this file (signal 6"},
        // Pixel data of 4 GiB - 16 bytes in a file of a few hundred: GDCM allocates it whole. The
        // child's limit refuses it, and GDCM gives up on the file; sanitizer builds, which limit
        // one allocation instead, end the child.
        {std::string("\xe0\x7f\x10\x00OW\x00\x00", 8), std::string("\xf0\xff\xff\xff", 4),
         kSanitized ? "the DICOM library failed on this file (more memory than allowed)"
                    : "cannot be read as a DICOM image"},
    };
    const std::string render = apptest::BinDir() + "/kestrel-render";
    const Grid grid;
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.3002";
    for (std::size_t c = 0; c < corruptions.size(); ++c) {
        const std::string folder = scantest::TempFolder("malformed" + std::to_string(c));
        scantest::WriteDicomSeries(folder, grid, layout);
        const std::string bad = folder + "/3002_2.dcm";
        PatchAfter(bad, corruptions[c].marker, corruptions[c].bytes);
        for (const std::string& path : {folder, bad}) {
            try {
                LoadScan(path, ScanLoadOptions(), nullptr);
                ADD_FAILURE() << path << ": loaded";
            } catch (const ScanError& error) {
                const std::string message = error.what();
                EXPECT_EQ(message.rfind(bad + ": " + corruptions[c].problem, 0), 0u) << message;
                EXPECT_EQ(message.find('\n'), std::string::npos) << message;
            }
        }
        if (!apptest::FileExists(render)) continue;
        const apptest::RunResult r = apptest::RunApp({render, "--info", folder}, false);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(apptest::CountLines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("kestrel-render: " + bad + ": " + corruptions[c].problem, 0), 0u)
            << r.err;
    }
    // No child ever held the 4 GiB it asked for.
    rusage children;
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
    EXPECT_LT(children.ru_maxrss, 1L << 20) << "kB";
}

}  // namespace
