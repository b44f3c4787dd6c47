// The standard patient views on scans read through all three readers: the voxel whose value
// grows towards the patient's left-posterior-superior corner (PlaceValue) must show where each
// view puts that corner.
#include <cmath>
#include <functional>

#include "OffscreenFrame.h"
#include "PatientView.h"
#include "ScanTestUtil.h"
#include "VRImage.h"

namespace {

using scantest::Grid;

constexpr int kSide = 64;  // image width and height, pixels
// The corner's pixel lies at least this far from the centre lines: a quadrant, not a tie.
constexpr int kMargin = kSide / 16;

// Where the left-posterior-superior corner must appear: on the screen's right half, upper half.
struct ViewCase {
    PatientView view;
    const char* name;
    bool right;
    bool up;
};
// anterior: the patient's left on the right; posterior: from behind; left: posterior on the
// right; right: anterior on the right; superior: anterior up, patient's right on the right;
// inferior: anterior up, patient's left on the right.
const ViewCase kViews[] = {
    {pvAnterior, "anterior", true, true},   {pvPosterior, "posterior", false, true},
    {pvLeft, "left", true, true},           {pvRight, "right", false, true},
    {pvSuperior, "superior", false, false}, {pvInferior, "inferior", true, false},
};

// Pixel (window coordinates, y up) of the MIP's brightest ray for `view` of `volume`.
void BrightestPixel(VolumeData* volume, PatientView view, int* x, int* y) {
    OffscreenMIPScene scene;
    scene.SetData(volume);
    scene.SetViewportSize(kSide, kSide);
    ViewAngles angles;
    angles.start = CalculatePatientViewRotation(view);
    scene.SetView(angles);
    scene.CastFrame(true);
    const VRImage& image = *scene.GetKernelModule().image;
    float best = -1.0f;
    for (int j = 0; j < image.height; ++j)
        for (int i = 0; i < image.width; ++i) {
            const float grey = image.pixels[(std::size_t(j) * image.width + i) * 4];
            if (grey > best) {
                best = grey;
                *x = image.windowX + i;
                *y = image.windowY + j;
            }
        }
}

// A grid whose file axes run against the patient's (reversed, reordered), so that only a
// reader that turns them to left, posterior, superior shows the corner where it belongs.
Grid TurnedGrid() {
    Grid grid;
    grid.dims[0] = 9;
    grid.dims[1] = 7;
    grid.dims[2] = 6;
    const double steps[3][3] = {{0, -1.5, 0}, {-1, 0, 0}, {0, 0, 2}};
    for (int a = 0; a < 3; ++a)
        for (int w = 0; w < 3; ++w)
            grid.step[a][w] = steps[a][w];
    return grid;
}

struct FormatCase {
    const char* name;
    std::function<std::string(const std::string& folder, const Grid& grid)> write;
    bool patientFrame;
};

TEST(PatientViewTest, CornerLandsWhereEachViewPutsItForEveryReader) {
    const FormatCase formats[] = {
        {"DICOM",
         [](const std::string& folder, const Grid& grid) {
             scantest::DicomSeriesLayout layout;
             layout.uid = "1.2.826.0.1.3680043.2.1125.1.2001";
             scantest::WriteDicomSeries(folder, grid, layout);
             return folder;
         },
         true},
        {"NIfTI",
         [](const std::string& folder, const Grid& grid) {
             scantest::WriteNifti<int16_t>(folder + "/v.nii", grid, DT_INT16, 0.0, 0.0);
             return folder + "/v.nii";
         },
         true},
        {"NRRD LPS",
         [](const std::string& folder, const Grid& grid) {
             scantest::WriteNrrd<int16_t>(folder + "/v.nrrd", grid, nrrdTypeShort, false);
             return folder + "/v.nrrd";
         },
         true},
        {"NRRD RAS",
         [](const std::string& folder, const Grid& grid) {
             scantest::WriteNrrd<int16_t>(folder + "/v.nrrd", grid, nrrdTypeShort, true, true);
             return folder + "/v.nrrd";
         },
         true},
        {"NIfTI without orientation",
         [](const std::string& folder, const Grid& grid) {
             scantest::WriteNifti<int16_t>(folder + "/v.nii", grid, DT_INT16, 0.0, 0.0, false);
             return folder + "/v.nii";
         },
         false},
    };
    for (const FormatCase& format : formats) {
        SCOPED_TRACE(format.name);
        const Grid grid = TurnedGrid();
        const std::string path = format.write(scantest::TempFolder("patient"), grid);
        ScanInfo info;
        std::unique_ptr<VolumeData> volume = LoadScan(path, ScanLoadOptions(), &info);
        EXPECT_EQ(info.patientFrame, format.patientFrame);
        if (!format.patientFrame) continue;  // its axes are the file's: no corner to look for
        for (const ViewCase& view : kViews) {
            SCOPED_TRACE(view.name);
            int x = -1, y = -1;
            BrightestPixel(volume.get(), view.view, &x, &y);
            EXPECT_EQ(x > kSide / 2, view.right) << "x " << x;
            EXPECT_EQ(y > kSide / 2, view.up) << "y " << y;
            EXPECT_GT(std::abs(2 * x + 1 - kSide), 2 * kMargin) << "x " << x;
            EXPECT_GT(std::abs(2 * y + 1 - kSide), 2 * kMargin) << "y " << y;
        }
    }
}

}  // namespace
