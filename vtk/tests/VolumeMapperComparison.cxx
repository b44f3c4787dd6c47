// vtkKestrelVolumeMapper against VTK's own CPU ray caster (vtkFixedPointVolumeRayCastMapper):
// the same volume, property, camera and window, the mean absolute difference per colour channel
// within a bound per blend mode, with and without an opaque mesh cutting the volume.
#include <gtest/gtest.h>
#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkColorTransferFunction.h>
#include <vtkFixedPointVolumeRayCastMapper.h>
#include <vtkImageData.h>
#include <vtkNIFTIImageReader.h>
#include <vtkNew.h>
#include <vtkOpenGLGPUVolumeRayCastMapper.h>
#include <vtkPiecewiseFunction.h>
#include <vtkPointData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>
#include <vtkSphereSource.h>
#include <vtkUnsignedCharArray.h>
#include <vtkVolume.h>
#include <vtkVolumeProperty.h>
#include <vtkWindowToImageFilter.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "HeadPhantom.h"
#include "VolumeData.h"
#include "RampProperty.h"
#include "vtkKestrelVolumeMapper.h"

namespace {

constexpr int kImageSize = 256;

struct Case {
    const char* name;
    int blendMode;
    bool shade;
    bool mesh;          // an opaque sphere through the volume's centre
    double tolerance;   // largest mean |difference| of a colour channel, on [0, 1]
    bool gpuReference;  // compare with VTK's GPU ray caster instead of its CPU one
};

// Shading is compared with VTK's GPU ray caster: the CPU one lights quantised voxel normals and
// comes out 0.05 to 0.15 darker per channel on these volumes. The GPU one takes its gradients its
// own way, hence the wider bound there.
const Case kCases[] = {
    {"mip", vtkVolumeMapper::MAXIMUM_INTENSITY_BLEND, false, false, 0.01, false},
    {"composite", vtkVolumeMapper::COMPOSITE_BLEND, false, false, 0.02, false},
    {"composite_shaded", vtkVolumeMapper::COMPOSITE_BLEND, true, false, 0.025, true},
    {"composite_mesh", vtkVolumeMapper::COMPOSITE_BLEND, false, true, 0.02, false},
};

// A Kestrel volume as a vtkImageData with the same sample type, dimensions and spacing.
vtkSmartPointer<vtkImageData> ToImage(const VolumeData& volume) {
    const DataType type = volume.dataType;
    int vtkType = VTK_FLOAT;
    if (!type.isFloat) {
        if (type.bitCount == 8) vtkType = type.isSigned ? VTK_SIGNED_CHAR : VTK_UNSIGNED_CHAR;
        if (type.bitCount == 16) vtkType = type.isSigned ? VTK_SHORT : VTK_UNSIGNED_SHORT;
        if (type.bitCount == 32) vtkType = type.isSigned ? VTK_INT : VTK_UNSIGNED_INT;
    }
    auto image = vtkSmartPointer<vtkImageData>::New();
    image->SetDimensions(volume.dimensions);
    image->SetSpacing(volume.spacings[0], volume.spacings[1], volume.spacings[2]);
    image->AllocateScalars(vtkType, 1);
    const std::size_t bytes = std::size_t(volume.dimensions[0]) * volume.dimensions[1] *
                              volume.dimensions[2] * std::size_t(type.bitCount / 8);
    std::memcpy(image->GetScalarPointer(), volume.data, bytes);
    return image;
}

// One window and scene, rendered with either mapper.
class MapperComparison : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        // One window (one X connection) for every picture of the suite.
        window = vtkSmartPointer<vtkRenderWindow>::New();
        window->SetOffScreenRendering(1);
        window->SetMultiSamples(0);
        window->SetSize(kImageSize, kImageSize);
        std::unique_ptr<VolumeData> phantom(CreateHeadPhantom(128));
        phantomImage = ToImage(*phantom);
        if (const char* path = std::getenv("KESTREL_VTK_SCAN")) {
            vtkNew<vtkNIFTIImageReader> reader;
            reader->SetFileName(path);
            reader->Update();
            scanImage = reader->GetOutput();
        }
    }
    static void TearDownTestSuite() {
        phantomImage = nullptr;
        window = nullptr;
        scanImage = nullptr;
    }

    // Renders image with mapper and returns the window's RGB bytes.
    vtkSmartPointer<vtkUnsignedCharArray> Render(vtkImageData* image, vtkVolumeMapper* mapper,
                                                 const Case& c) {
        vtkNew<vtkVolumeProperty> property;
        SetRampProperty(image, property);
        property->SetShade(c.shade ? 1 : 0);
        property->SetAmbient(0.3);
        property->SetDiffuse(0.7);
        property->SetSpecular(0.2);
        property->SetSpecularPower(10.0);
        mapper->SetInputData(image);
        mapper->SetBlendMode(c.blendMode);
        vtkNew<vtkVolume> volume;
        volume->SetMapper(mapper);
        volume->SetProperty(property);

        vtkNew<vtkRenderer> renderer;
        renderer->AddVolume(volume);
        if (c.mesh) {
            const double* bounds = image->GetBounds();
            vtkNew<vtkSphereSource> sphere;
            sphere->SetCenter(0.5 * (bounds[0] + bounds[1]), 0.5 * (bounds[2] + bounds[3]),
                              0.5 * (bounds[4] + bounds[5]));
            sphere->SetRadius(0.3 * (bounds[1] - bounds[0]));
            sphere->SetThetaResolution(48);
            sphere->SetPhiResolution(48);
            vtkNew<vtkPolyDataMapper> sphereMapper;
            sphereMapper->SetInputConnection(sphere->GetOutputPort());
            vtkNew<vtkActor> actor;
            actor->SetMapper(sphereMapper);
            actor->GetProperty()->SetColor(0.2, 0.5, 1.0);
            renderer->AddActor(actor);
        }
        renderer->ResetCamera(volume->GetBounds());
        renderer->GetActiveCamera()->Azimuth(30.0);
        renderer->GetActiveCamera()->Elevation(20.0);
        renderer->GetActiveCamera()->Zoom(1.5);
        renderer->ResetCameraClippingRange();

        window->AddRenderer(renderer);
        window->Render();
        vtkNew<vtkWindowToImageFilter> grab;
        grab->SetInput(window);
        grab->ReadFrontBufferOff();
        grab->Update();
        window->RemoveRenderer(renderer);
        return vtkUnsignedCharArray::SafeDownCast(grab->GetOutput()->GetPointData()->GetScalars());
    }

    void Compare(vtkImageData* image, const Case& c) {
        vtkNew<vtkKestrelVolumeMapper> kestrel;
        kestrel->SetSampleDistance(1.0);
        vtkNew<vtkFixedPointVolumeRayCastMapper> cpuReference;
        cpuReference->SetSampleDistance(1.0);
        cpuReference->SetImageSampleDistance(1.0);
        cpuReference->AutoAdjustSampleDistancesOff();
        vtkNew<vtkOpenGLGPUVolumeRayCastMapper> gpuReference;
        gpuReference->SetSampleDistance(1.0);
        gpuReference->AutoAdjustSampleDistancesOff();
        vtkVolumeMapper* reference =
            c.gpuReference ? static_cast<vtkVolumeMapper*>(gpuReference) : cpuReference;
        auto ours = Render(image, kestrel, c);
        auto theirs = Render(image, reference, c);
        ASSERT_EQ(ours->GetNumberOfValues(), theirs->GetNumberOfValues());
        const int components = ours->GetNumberOfComponents();
        const vtkIdType pixels = ours->GetNumberOfTuples();
        double sum[3] = {0.0, 0.0, 0.0}, covered = 0.0;
        for (vtkIdType p = 0; p < pixels; ++p) {
            bool lit = false;
            for (int ch = 0; ch < 3; ++ch) {
                const double a = ours->GetValue(p * components + ch) / 255.0;
                const double b = theirs->GetValue(p * components + ch) / 255.0;
                sum[ch] += std::abs(a - b);
                lit = lit || b > 0.0;
            }
            covered += lit ? 1.0 : 0.0;
        }
        // The reference must show the volume, or the comparison proves nothing.
        EXPECT_GT(covered / double(pixels), 0.2) << c.name;
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_LE(sum[ch] / double(pixels), c.tolerance) << c.name << " channel " << ch;
    }

    static vtkSmartPointer<vtkImageData> phantomImage;
    static vtkSmartPointer<vtkImageData> scanImage;
    static vtkSmartPointer<vtkRenderWindow> window;
};

vtkSmartPointer<vtkImageData> MapperComparison::phantomImage;
vtkSmartPointer<vtkImageData> MapperComparison::scanImage;
vtkSmartPointer<vtkRenderWindow> MapperComparison::window;

TEST_P(MapperComparison, Phantom) {
    Compare(phantomImage, GetParam());
}

TEST_P(MapperComparison, Scan) {
    if (!scanImage) GTEST_SKIP() << "KESTREL_VTK_SCAN names no scan";
    Compare(scanImage, GetParam());
}

INSTANTIATE_TEST_SUITE_P(BlendModes, MapperComparison, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
