// A kernel frame set up the way a scene sets it up: bricked volume, min/max grid, camera fitted
// to the volume, ray set-up and image region, and the kernel pointing at them. The technique's
// parameters are added by the test (see MipTestFrame, IsoTestFrame).
#pragma once

#include <cmath>
#include <cstring>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "Quaternion.h"
#include "SceneParam.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "VolumeData.h"

template <class Kernel>
struct KernelTestFrame {
    CoherentVolume volume;
    GridPartition grid;
    VRSceneParam sceneParam;
    VRImage image;
    Kernel kernel;
    SceneParam camera;
    Matrix4x4 view, projection;
    int viewport[2] = {64, 64};

    KernelTestFrame() {
        kernel.volume = &volume;
        kernel.gridPartition = &grid;
        kernel.vrSceneParam = &sceneParam;
        kernel.image = &image;
    }
    KernelTestFrame(const KernelTestFrame&) = delete;
    KernelTestFrame& operator=(const KernelTestFrame&) = delete;

    // Rebricks `data` (optionally with another block size), builds the grid
    // (cells of dimension^0.4, or `cellSize` when positive) and resets the
    // cropping box to the whole volume.
    void Load(VolumeData& data, int blockSize = 0, int cellSize = 0) {
        if (blockSize > 0) {
            const int sizes[3] = {blockSize, blockSize, blockSize};
            volume.SetBlockSize(sizes);
        }
        volume.SetData(&data);
        if (cellSize > 0)
            grid.Init(&volume, cellSize, cellSize, cellSize);
        else
            grid.Init(&volume, 0.4f);
        for (int a = 0; a < 3; ++a) {
            sceneParam.croppingBounds[2 * a] = 0.0f;
            sceneParam.croppingBounds[2 * a + 1] = float(volume.dimensions[a] - 1);
        }
    }

    // Fits the camera to the volume as a scene does (fovy 45, bounding sphere
    // filling the view), applies rotation and zoom, and sizes the image region.
    void SetCamera(const Quaternion& rotation, float zoom, int width, int height, float panX = 0.0f,
                   float panY = 0.0f) {
        viewport[0] = width;
        viewport[1] = height;
        float size[3];
        for (int a = 0; a < 3; ++a)
            size[a] = float(volume.dimensions[a]) * volume.spacings[a];
        camera.InitSceneParam(45.0f, float(width) / float(height), size);
        camera.rotation = rotation;
        camera.scale = zoom;
        camera.translate[0] = panX;
        camera.translate[1] = panY;
        camera.CalculateMatrix(&view, &projection);
        image.width = image.height = 0;
        image.windowX = image.windowY = 0;
        sceneParam.CalculateVRSceneParamAndImageRegion(viewport, volume.dimensions, volume.spacings,
                                                       view, projection, &image.windowX,
                                                       &image.width);
        image.Allocate();
    }

    // Rotation about the vertical (y) axis by `azimuth`, then about x by `elevation`.
    static Quaternion Orbit(float azimuth, float elevation) {
        return Quaternion(1.0f, 0.0f, 0.0f, elevation) * Quaternion(0.0f, 1.0f, 0.0f, azimuth);
    }

    const float* Pixel(int i, int j) const { return image.pixels + (j * image.width + i) * 4; }
};

// A dense volume of type T with the given values (x fastest).
template <typename T, typename F>
void FillVolume(VolumeData& data, DataType type, const int dims[3], const float spacing[3],
                F value) {
    data.SetDataType(type);
    data.SetDimensions(dims);
    data.SetSpacings(spacing);
    data.Allocate();
    T* p = static_cast<T*>(data.GetData());
    for (int k = 0; k < dims[2]; ++k)
        for (int j = 0; j < dims[1]; ++j)
            for (int i = 0; i < dims[0]; ++i)
                *p++ = static_cast<T>(value(i, j, k));
}

// Two Gaussian blobs in a 36 x 28 x 18 float volume of spacing (0.8, 1.2, 2.5), of heights 40 and
// 65 and squared widths spreadA and spreadB (voxels^2), plus a ripple of amplitude up to 0.1 x
// `ripple` that breaks ties.
inline void FillAnisotropicBlobs(VolumeData& data, double spreadA, double spreadB, double ripple) {
    const int dims[3] = {36, 28, 18};
    const float spacing[3] = {0.8f, 1.2f, 2.5f};
    FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing, [&](int i, int j, int k) {
        const double a = (i - 12.3) * (i - 12.3) + (j - 15.1) * (j - 15.1) + (k - 6.0) * (k - 6.0);
        const double b = (i - 27.0) * (i - 27.0) + (j - 8.4) * (j - 8.4) + (k - 12.7) * (k - 12.7);
        return 40.0 * std::exp(-a / spreadA) + 65.0 * std::exp(-b / spreadB) +
               ripple * ((i * 7 + j * 3 + k) % 11);
    });
}
