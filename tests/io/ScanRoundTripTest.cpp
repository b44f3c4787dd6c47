// Volumes written with GDCM, the NIfTI C library and teem, read back voxel for voxel: order
// by position, reversed and reordered axes, spacings, rescaling and the choice of series or
// volume.
#include <algorithm>
#include <cmath>

#include "ScanTestUtil.h"

namespace {

using scantest::Grid;

ScanLoadOptions Options() {
    return ScanLoadOptions();
}

TEST(ScanRoundTripTest, DicomSeriesOrderedByPositionNotByName) {
    const std::string folder = scantest::TempFolder("dicom");
    // Series 1: four slices, file names and instance numbers shuffled against the positions.
    Grid axial;
    scantest::DicomSeriesLayout ct;
    ct.uid = "1.2.826.0.1.3680043.2.1125.1.1001";
    ct.intercept = -1024.0;
    ct.fileOrder = {2, 0, 3, 1};
    scantest::WriteDicomSeries(folder, axial, ct);
    // Series 2: three RLE-compressed slices whose rows run right to left and whose normal
    // points down (so x and z are reversed on loading), with a fractional slope.
    Grid flipped;
    flipped.dims[2] = 3;
    flipped.step[0][0] = -1.0;
    scantest::DicomSeriesLayout second;
    second.uid = "1.2.826.0.1.3680043.2.1125.1.1002";
    second.number = "2";
    second.slope = 0.5;
    second.intercept = 10.0;
    second.rle = true;
    scantest::WriteDicomSeries(folder, flipped, second);

    const std::vector<DicomSeriesSummary> series = ListDicomSeries(folder);
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series[0].uid, ct.uid);
    EXPECT_EQ(series[0].images, 4);
    EXPECT_EQ(series[1].images, 3);
    EXPECT_EQ(DetectScanFormat(folder), ScanFormat::Dicom);

    ScanInfo info;
    std::unique_ptr<VolumeData> largest = LoadScan(folder, Options(), &info);
    EXPECT_EQ(info.format, ScanFormat::Dicom);
    EXPECT_EQ(largest->GetDataType(), VolumeData::dtInt16);  // Hounsfield units fit int16
    EXPECT_TRUE(info.rescaled);
    EXPECT_NE(info.chosen.find(ct.uid), std::string::npos);
    EXPECT_FALSE(info.oblique);
    scantest::ExpectPlacedVolume(*largest, axial, 1.0, -1024.0);

    // A DICOMDIR stands for its folder.
    scantest::WriteText(folder + "/DICOMDIR", "");
    EXPECT_EQ(LoadScan(folder + "/DICOMDIR", Options(), &info)->dimensions[2], 4);

    ScanLoadOptions bySeries;
    bySeries.series = "2";
    std::unique_ptr<VolumeData> chosen = LoadScan(folder, bySeries, &info);
    EXPECT_EQ(chosen->GetDataType(), VolumeData::dtFloat32);
    EXPECT_TRUE(info.axisFlipped[0] && !info.axisFlipped[1] && info.axisFlipped[2]);
    scantest::ExpectPlacedVolume(*chosen, flipped, 0.5, 10.0, 1e-4);
}

// MONOCHROME1 draws higher values darker: the loaded values are mirrored within their range,
// so that each voxel holds lo + hi - (its rescaled value) and the range stays lo .. hi.
TEST(ScanRoundTripTest, DicomMonochrome1IsMirroredWithinItsRange) {
    const std::string folder = scantest::TempFolder("mono1");
    const Grid grid;
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.1003";
    layout.intercept = -1024.0;
    layout.monochrome1 = true;
    scantest::WriteDicomSeries(folder, grid, layout);
    ScanInfo info;
    std::unique_ptr<VolumeData> volume = LoadScan(folder, Options(), &info);
    ASSERT_EQ(volume->dimensions[2], grid.dims[2]);
    double lo = 1e30, hi = -1e30;
    for (int corner = 0; corner < 8; ++corner) {
        double p[3];
        grid.Position(corner & 1 ? grid.dims[0] - 1 : 0, corner & 2 ? grid.dims[1] - 1 : 0,
                      corner & 4 ? grid.dims[2] - 1 : 0, p);
        lo = std::min(lo, scantest::PlaceValue(p) - 1024.0);
        hi = std::max(hi, scantest::PlaceValue(p) - 1024.0);
    }
    // lo + hi - (v - 1024) = -v + (lo + hi + 1024): slope -1 on the placed values.
    scantest::ExpectPlacedVolume(*volume, grid, -1.0, lo + hi + 1024.0);
    double min = 0.0, max = 0.0;
    volume->GetMinMaxValue(min, max);
    EXPECT_EQ(min, lo);
    EXPECT_EQ(max, hi);
    EXPECT_TRUE(std::any_of(info.notes.begin(), info.notes.end(), [](const std::string& note) {
        return note.find("MONOCHROME1") != std::string::npos;
    }));
}

TEST(ScanRoundTripTest, DicomMultiFrameFile) {
    const std::string file = scantest::TempFolder("frames") + "/volume.dcm";
    const Grid grid;
    const std::vector<int16_t> samples = scantest::GridSamples<int16_t>(grid);
    scantest::DicomSlice frames;
    frames.columns = unsigned(grid.dims[0]);
    frames.rows = unsigned(grid.dims[1]);
    frames.frames = unsigned(grid.dims[2]);
    frames.frameSpacing = grid.Length(2);
    frames.spacing[0] = grid.Length(0);
    frames.spacing[1] = grid.Length(1);
    std::copy(grid.origin, grid.origin + 3, frames.origin);
    frames.intercept = -1024.0;
    frames.pixels = samples.data();
    ASSERT_TRUE(scantest::WriteDicomSlice(file, frames));
    ScanInfo info;
    std::unique_ptr<VolumeData> volume = LoadScan(file, Options(), &info);
    EXPECT_EQ(volume->GetDataType(), VolumeData::dtInt16);
    scantest::ExpectPlacedVolume(*volume, grid, 1.0, -1024.0);
}

TEST(ScanRoundTripTest, DicomObliqueAndUnevenSeriesAreReported) {
    // Tilted by 20 degrees about z: kept as the voxel grid, in the file's own order.
    const std::string folder = scantest::TempFolder("oblique");
    Grid tilted;
    const double angle = 20.0 * 3.14159265358979323846 / 180.0;
    tilted.step[0][0] = std::cos(angle);
    tilted.step[0][1] = std::sin(angle);
    tilted.step[1][0] = -2.0 * std::sin(angle);
    tilted.step[1][1] = 2.0 * std::cos(angle);
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.2001";
    scantest::WriteDicomSeries(folder, tilted, layout);
    ScanInfo info;
    std::unique_ptr<VolumeData> volume = LoadScan(folder, Options(), &info);
    EXPECT_TRUE(info.oblique);
    EXPECT_NEAR(info.obliqueDegrees, 20.0, 1e-3);
    const std::vector<int16_t> stored = scantest::GridSamples<int16_t>(tilted);
    ASSERT_EQ(volume->dimensions[2], tilted.dims[2]);
    EXPECT_NEAR(volume->spacings[2], 3.0, 1e-5);
    EXPECT_EQ(std::memcmp(volume->GetData(), stored.data(), stored.size() * 2), 0);

    // Three slices 3 mm apart and a fourth 3.5 mm further: loaded at the mean step, with a
    // note; the last slice still holds its own values.
    const std::string uneven = scantest::TempFolder("uneven");
    Grid first;
    first.dims[2] = 3;
    Grid last = first;
    last.dims[2] = 1;
    last.origin[2] = first.origin[2] + 2 * 3.0 + 3.5;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.2002";
    layout.fileOrder = {0, 1, 2};
    scantest::WriteDicomSeries(uneven, first, layout);
    layout.fileOrder = {3};
    scantest::WriteDicomSeries(uneven, last, layout);
    volume = LoadScan(uneven, Options(), &info);
    ASSERT_EQ(volume->dimensions[2], 4);
    EXPECT_NEAR(volume->spacings[2], 9.5 / 3.0, 1e-5);
    ASSERT_FALSE(info.notes.empty());
    EXPECT_NE(info.notes.back().find("uneven slice spacing: 3 to 3.5 mm"), std::string::npos);
    double corner[3];
    last.Position(0, 0, 0, corner);
    EXPECT_EQ(scantest::SampleAt(*volume, 0, 0, 3), scantest::PlaceValue(corner));
}

TEST(ScanRoundTripTest, NiftiFilesWithScalingOrientationAndVolumes) {
    const std::string folder = scantest::TempFolder("nifti");
    ScanInfo info;

    // NIfTI-1 .nii, int16 scaled by 2 and -100: whole results, so int16 again.
    Grid axial;
    scantest::WriteNifti<int16_t>(folder + "/ct.nii", axial, DT_INT16, 2.0, -100.0);
    std::unique_ptr<VolumeData> volume = LoadScan(folder + "/ct.nii", Options(), &info);
    EXPECT_EQ(info.format, ScanFormat::Nifti);
    EXPECT_EQ(volume->GetDataType(), VolumeData::dtInt16);
    scantest::ExpectPlacedVolume(*volume, axial, 2.0, -100.0);

    // NIfTI-2 .nii.gz, float32, axes stored in the order z, -x, y.
    Grid turned;
    turned.dims[0] = 4;
    turned.dims[2] = 6;
    const double steps[3][3] = {{0, 0, 3}, {-1, 0, 0}, {0, 2, 0}};
    std::memcpy(turned.step, steps, sizeof steps);
    scantest::WriteNifti<float>(folder + "/mr.nii.gz", turned, DT_FLOAT32, 0.0, 0.0, true, 1, true);
    volume = LoadScan(folder + "/mr.nii.gz", Options(), &info);
    EXPECT_EQ(volume->GetDataType(), VolumeData::dtFloat32);
    EXPECT_FALSE(info.rescaled);
    EXPECT_EQ(info.axisOrder[0], 1);
    EXPECT_EQ(info.axisOrder[2], 0);
    scantest::ExpectPlacedVolume(*volume, turned, 1.0, 0.0);

    // NIfTI-1 .hdr/.img pair without orientation: the file's axes as they are.
    scantest::WriteNifti<uint16_t>(folder + "/pair.hdr", axial, DT_UINT16, 0.0, 0.0, false);
    volume = LoadScan(folder + "/pair.img", Options(), &info);
    EXPECT_EQ(volume->GetDataType(), VolumeData::dtUint16);
    scantest::ExpectPlacedVolume(*volume, axial, 1.0, 0.0);

    // 4-D: volume 1 of 2 holds the first plus 1000.
    scantest::WriteNifti<int16_t>(folder + "/series.nii", axial, DT_INT16, 0.0, 0.0, true, 2);
    ScanLoadOptions second;
    second.volume = 1;
    volume = LoadScan(folder + "/series.nii", second, &info);
    EXPECT_EQ(info.chosen, "volume 1 of 2 (0-based)");
    scantest::ExpectPlacedVolume(*volume, axial, 1.0, 1000.0);
}

TEST(ScanRoundTripTest, NrrdAttachedAndDetached) {
    const std::string folder = scantest::TempFolder("nrrd");
    ScanInfo info;

    // Attached raw int16 in left-posterior-superior space, axes stored as y, z, x.
    Grid turned;
    const double steps[3][3] = {{0, 2, 0}, {0, 0, 3}, {1, 0, 0}};
    std::memcpy(turned.step, steps, sizeof steps);
    scantest::WriteNrrd<int16_t>(folder + "/ct.nrrd", turned, nrrdTypeShort, false);
    std::unique_ptr<VolumeData> volume = LoadScan(folder + "/ct.nrrd", Options(), &info);
    EXPECT_EQ(info.format, ScanFormat::Nrrd);
    EXPECT_EQ(volume->GetDataType(), VolumeData::dtInt16);
    scantest::ExpectPlacedVolume(*volume, turned, 1.0, 0.0);

    // Detached gzip float32 in right-anterior-superior space, y reversed.
    Grid flipped;
    flipped.step[1][1] = -2.0;
    scantest::WriteNrrd<float>(folder + "/mr.nhdr", flipped, nrrdTypeFloat, true, true);
    volume = LoadScan(folder + "/mr.nhdr", Options(), &info);
    EXPECT_EQ(volume->GetDataType(), VolumeData::dtFloat32);
    EXPECT_TRUE(info.axisFlipped[1]);
    scantest::ExpectPlacedVolume(*volume, flipped, 1.0, 0.0);
}

}  // namespace
