// The standard patient views on scans read through all three readers: the voxel whose value
// grows towards the patient's left-posterior-superior corner (PlaceValue) must show where each
// view puts that corner.
#include <cmath>
#include <cstring>

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
    grid.dims[0] = 9, grid.dims[1] = 7, grid.dims[2] = 6;
    const double steps[3][3] = {{0, -1.5, 0}, {-1, 0, 0}, {0, 0, 2}};
    std::memcpy(grid.step, steps, sizeof steps);
    return grid;
}

enum class Writer { Dicom, Nifti, NrrdLps, NrrdRas, NiftiBare };

// The grid written by `writer` into `folder`; returns the path to load.
std::string Write(Writer writer, const std::string& folder, const Grid& grid) {
    scantest::DicomSeriesLayout layout;
    layout.uid = "1.2.826.0.1.3680043.2.1125.1.2001";
    switch (writer) {
        case Writer::Dicom:
            scantest::WriteDicomSeries(folder, grid, layout);
            return folder;
        case Writer::Nifti:
        case Writer::NiftiBare:
            scantest::WriteNifti<int16_t>(folder + "/v.nii", grid, DT_INT16, 0.0, 0.0,
                                          writer == Writer::Nifti);
            return folder + "/v.nii";
        default:
            scantest::WriteNrrd<int16_t>(folder + "/v.nrrd", grid, nrrdTypeShort, false,
                                         writer == Writer::NrrdRas);
            return folder + "/v.nrrd";
    }
}

TEST(PatientViewTest, CornerLandsWhereEachViewPutsItForEveryReader) {
    const struct {
        const char* name;
        Writer writer;
        bool patientFrame;  // false: file axes as they are, no corner to look for
    } formats[] = {{"DICOM", Writer::Dicom, true},
                   {"NIfTI", Writer::Nifti, true},
                   {"NRRD LPS", Writer::NrrdLps, true},
                   {"NRRD RAS", Writer::NrrdRas, true},
                   {"NIfTI without orientation", Writer::NiftiBare, false}};
    for (const auto& format : formats) {
        SCOPED_TRACE(format.name);
        const std::string path =
            Write(format.writer, scantest::TempFolder("patient"), TurnedGrid());
        ScanInfo info;
        std::unique_ptr<VolumeData> volume = LoadScan(path, ScanLoadOptions(), &info);
        EXPECT_EQ(info.patientFrame, format.patientFrame);
        if (!format.patientFrame) continue;
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
