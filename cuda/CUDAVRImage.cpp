// CUDAVRImage: host pixels drawn like VRImage, and the device buffer the CUDA kernels write.
#include "CUDAVRImage.h"

#include "DeviceBackEnd.h"
#include "VRImage.h"

CUDAVRImage::CUDAVRImage()
    : width(0),
      height(0),
      windowX(0),
      windowY(0),
      pixels(nullptr),
      hostImage(new VRImage()),
      deviceImage(nullptr) {}

CUDAVRImage::~CUDAVRImage() {
    delete hostImage;
    kestrel_cuda::ReleaseImage(deviceImage);
}

void CUDAVRImage::Allocate() {
    pixels = nullptr;
    hostImage->width = width;
    hostImage->height = height;
    hostImage->windowX = windowX;
    hostImage->windowY = windowY;
    hostImage->Allocate();
    pixels = hostImage->pixels;
}

void CUDAVRImage::PrepareForCUDAOP() {
    if (kestrel_cuda::DeviceActive())
        deviceImage = kestrel_cuda::PrepareImage(deviceImage, width, height);
}

void CUDAVRImage::ClearAfterCUDAOP() {
    if (kestrel_cuda::DeviceActive() && deviceImage != nullptr && pixels != nullptr)
        kestrel_cuda::CopyImageBack(deviceImage, pixels, width, height);
}

void CUDAVRImage::Render() const {
    hostImage->windowX = windowX;
    hostImage->windowY = windowY;
    hostImage->Render();
}
