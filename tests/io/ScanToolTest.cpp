// kestrel-render on scans: a PNG from each format, --info, --convert, and bad input.
#include <algorithm>

#include "ScanTestUtil.h"

namespace {

using scantest::Grid;

std::string RenderExe() {
    return apptest::BinDir() + "/kestrel-render";
}

TEST(ScanToolTest, RendersInspectsAndConvertsEachFormat) {
    if (!apptest::FileExists(RenderExe())) GTEST_SKIP() << "kestrel-render is not built";
    const std::string folder = scantest::TempFolder("tool");
    const Grid grid;
    const std::string dicom = folder + "/series";
    mkdir(dicom.c_str(), 0755);
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.4001";
    layout.intercept = -1024.0;
    scantest::WriteDicomSeries(dicom, grid, layout);
    scantest::WriteNifti<int16_t>(folder + "/head.nii.gz", grid, DT_INT16, 0.0, 0.0);
    scantest::WriteNrrd<float>(folder + "/head.nhdr", grid, nrrdTypeFloat, true);

    for (const std::string& input : {dicom, folder + "/head.nii.gz", folder + "/head.nhdr"}) {
        const std::string png = folder + "/mip.png";
        std::remove(png.c_str());
        const apptest::RunResult r =
            apptest::RunApp({RenderExe(), input, "--size", "64x48", "-o", png}, false);
        ASSERT_EQ(r.code, 0) << input << ": " << r.err;
        const apptest::Picture picture = apptest::LoadPicture(png);
        EXPECT_EQ(picture.width, 64);
        EXPECT_EQ(picture.height, 48);
        EXPECT_GT(apptest::BrightBox(picture, 32).count, 0) << input;
    }

    // --info: the value range of the rescaled grid, worked out from the placement.
    double lo = 1e30, hi = -1e30;
    for (int corner = 0; corner < 8; ++corner) {
        double p[3];
        grid.Position(corner & 1 ? 5 : 0, corner & 2 ? 4 : 0, corner & 4 ? 3 : 0, p);
        lo = std::min(lo, scantest::PlaceValue(p) - 1024.0);
        hi = std::max(hi, scantest::PlaceValue(p) - 1024.0);
    }
    const apptest::RunResult info = apptest::RunApp({RenderExe(), "--info", dicom}, false);
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("dimensions:  6 x 5 x 4\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("spacings:    1 x 2 x 3\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("sample type: int16"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("values:      " + scantest::FormatValue(lo) + " to " +
                            scantest::FormatValue(hi) + "\n"),
              std::string::npos)
        << info.out;

    // --convert writes a structured file that holds the same volume.
    const std::string converted = folder + "/head.vol";
    const apptest::RunResult convert =
        apptest::RunApp({RenderExe(), dicom, "--convert", converted}, false);
    ASSERT_EQ(convert.code, 0) << convert.err;
    VolumeData reopened;
    reopened.ReadStructuredFile(converted.c_str());
    scantest::ExpectPlacedVolume(reopened, grid, 1.0, -1024.0);

    // A bad file: exit status 2 and one line naming it.
    scantest::WriteText(folder + "/bad.nrrd", "NRRD0004\ntype: short\ndimension: 2\nsizes: 4 4\n");
    const apptest::RunResult bad = apptest::RunApp({RenderExe(), folder + "/bad.nrrd"}, false);
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(apptest::CountLines(bad.err), 1) << bad.err;
    EXPECT_EQ(bad.err.rfind("kestrel-render: " + folder + "/bad.nrrd: ", 0), 0u) << bad.err;
}

}  // namespace
