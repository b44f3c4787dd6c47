// Frame times of vtkKestrelVolumeMapper and VTK's CPU ray caster (vtkFixedPointVolumeRayCastMapper)
// on one volume, property and camera, alternated round by round in one process:
//   kestrel_vtk_bench [--scan FILE.nii.gz] [--size N] [--image W] [--rounds R] [--mip]
// Without --scan the phantom of N^3 voxels (default 256). Prints, per mapper, the median and
// minimum wall time of a frame and the processor time (all threads) per frame, and the share of
// Kestrel's frames spent in its mapper.
//
// Figures (2-core VM, quiet; Mesa llvmpipe under Xvfb; image 512 x 512, camera azimuth 30,
// elevation 20, zoom 1.5; five rounds, medians; ratio Kestrel / VTK of the median and of the
// processor time):
//   view                          Kestrel s (cpu)   VTK s (cpu)     ratio (cpu)
//   phantom 256^3, composite      0.166 (0.338)     0.205 (0.381)   0.81 (0.89)
//   phantom 256^3, MIP            0.180 (0.358)     0.190 (0.366)   0.95 (0.98)
//   ch2 181x217x181, composite    0.328 (0.617)     0.228 (0.393)   1.44 (1.57)
//   ch2 181x217x181, MIP          0.196 (0.370)     0.190 (0.321)   1.03 (1.15)
// Kestrel's mapper itself (set-up, kernels, copy to the frame) takes all but about 5 % of its
// frames, almost all of it in the kernels. On ch2 the ramp leaves most of the head faintly
// visible and rays long: one sample per voxel cell, each reading its eight corners anew. Neither
// the min/max grid's cell size (dimension^0.25 .. ^0.4) nor the block size (16, 32, 64) moves
// these figures by more than the noise.
#include <vtkCamera.h>
#include <vtkColorTransferFunction.h>
#include <vtkFixedPointVolumeRayCastMapper.h>
#include <vtkImageData.h>
#include <vtkNIFTIImageReader.h>
#include <vtkNew.h>
#include <vtkPiecewiseFunction.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>
#include <vtkVolume.h>
#include <vtkVolumeProperty.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "HeadPhantom.h"
#include "VolumeData.h"
#include "RampProperty.h"
#include "vtkKestrelVolumeMapper.h"

namespace {

struct Options {
    std::string scan;
    int size = 256;
    int image = 512;
    int rounds = 5;
    bool mip = false;
};

vtkSmartPointer<vtkImageData> LoadVolume(const Options& options) {
    if (!options.scan.empty()) {
        vtkNew<vtkNIFTIImageReader> reader;
        reader->SetFileName(options.scan.c_str());
        reader->Update();
        return reader->GetOutput();
    }
    std::unique_ptr<VolumeData> phantom(CreateHeadPhantom(options.size));
    auto image = vtkSmartPointer<vtkImageData>::New();
    image->SetDimensions(phantom->dimensions);
    image->SetSpacing(phantom->spacings[0], phantom->spacings[1], phantom->spacings[2]);
    image->AllocateScalars(VTK_UNSIGNED_SHORT, 1);
    std::memcpy(image->GetScalarPointer(), phantom->data,
                std::size_t(image->GetNumberOfPoints()) * sizeof(unsigned short));
    return image;
}

// Median and minimum of the wall times, and the mean processor time, of `frames` renders.
struct Timing {
    std::vector<double> wall;
    double cpu = 0.0;
    double mapper = 0.0;  // Kestrel's own share of its frames (LastRenderSeconds)
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scan" && i + 1 < argc)
            options.scan = argv[++i];
        else if (arg == "--size" && i + 1 < argc)
            options.size = std::atoi(argv[++i]);
        else if (arg == "--image" && i + 1 < argc)
            options.image = std::atoi(argv[++i]);
        else if (arg == "--rounds" && i + 1 < argc)
            options.rounds = std::atoi(argv[++i]);
        else if (arg == "--mip")
            options.mip = true;
        else {
            std::fprintf(stderr, "%s: unknown argument %s\n", argv[0], arg.c_str());
            return 2;
        }
    }
    vtkSmartPointer<vtkImageData> image = LoadVolume(options);
    vtkNew<vtkVolumeProperty> property;
    SetRampProperty(image, property);

    vtkNew<vtkKestrelVolumeMapper> kestrel;
    vtkNew<vtkFixedPointVolumeRayCastMapper> fixedPoint;
    fixedPoint->AutoAdjustSampleDistancesOff();
    fixedPoint->SetImageSampleDistance(1.0);
    vtkVolumeMapper* mappers[2] = {kestrel, fixedPoint};
    const char* names[2] = {"kestrel", "vtk-fixed-point"};
    for (vtkVolumeMapper* mapper : mappers) {
        mapper->SetInputData(image);
        mapper->SetBlendMode(options.mip ? vtkVolumeMapper::MAXIMUM_INTENSITY_BLEND
                                         : vtkVolumeMapper::COMPOSITE_BLEND);
    }
    vtkNew<vtkVolume> volume;
    volume->SetProperty(property);
    volume->SetMapper(kestrel);
    vtkNew<vtkRenderer> renderer;
    renderer->AddVolume(volume);
    renderer->ResetCamera(volume->GetBounds());
    renderer->GetActiveCamera()->Azimuth(30.0);
    renderer->GetActiveCamera()->Elevation(20.0);
    renderer->GetActiveCamera()->Zoom(1.5);
    vtkNew<vtkRenderWindow> window;
    window->SetOffScreenRendering(1);
    window->SetSize(options.image, options.image);
    window->AddRenderer(renderer);

    Timing timings[2];
    for (int round = -1; round < options.rounds; ++round) {
        for (int m = 0; m < 2; ++m) {
            volume->SetMapper(mappers[m]);
            const std::clock_t cpuStart = std::clock();
            const auto start = std::chrono::steady_clock::now();
            window->Render();
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (round < 0) continue;  // the first frame of each builds its caches
            timings[m].wall.push_back(wall);
            timings[m].cpu += double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            if (m == 0) timings[m].mapper += kestrel->GetLastRenderSeconds();
        }
    }
    int dims[3];
    image->GetDimensions(dims);
    std::printf("volume %dx%dx%d, image %dx%d, %s, %d rounds\n", dims[0], dims[1], dims[2],
                options.image, options.image, options.mip ? "MIP" : "composite", options.rounds);
    for (int m = 0; m < 2; ++m) {
        std::vector<double>& wall = timings[m].wall;
        std::sort(wall.begin(), wall.end());
        std::printf("%-16s median %.3f s  min %.3f s  cpu %.3f s/frame\n", names[m],
                    wall[wall.size() / 2], wall.front(), timings[m].cpu / double(wall.size()));
    }
    std::printf("kestrel mapper alone (set-up, kernels, copy to the frame): %.3f s/frame\n",
                timings[0].mapper / double(timings[0].wall.size()));
    return 0;
}
