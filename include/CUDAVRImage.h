// The output image of the GPU kernels: a window rectangle of RGBA float pixels, cast on the
// active back end and drawn into the current GL context like VRImage.
#pragma once

#include "KestrelExport.h"

class VRImage;
struct CUDADeviceImage;

// Layout and drawing are those of VRImage: width x height pixels, rows bottom-up, four floats R,
// G, B, A premultiplied by alpha, drawn at (windowX, windowY) with premultiplied blending. width
// is followed by height and windowX by windowY in memory, so (&width) and (&windowX) serve as the
// two-int outputs of VRSceneParam::CalculateVRSceneParamAndImageRegion.
//
// A frame is: set the rectangle, Allocate, PrepareForCUDAOP, one kernel call, ClearAfterCUDAOP,
// Render. On the CUDA back end the kernel writes a device buffer that PrepareForCUDAOP sizes and
// ClearAfterCUDAOP copies back into `pixels`; on the host back end the kernel writes `pixels`
// directly and the two calls do nothing.
//
// Ownership: owns the host pixels (in a VRImage it draws through) and the device buffer. Copying
// is forbidden. GL thread only.
class KESTREL_CUDA_API CUDAVRImage {
public:
    CUDAVRImage();
    ~CUDAVRImage();
    CUDAVRImage(CUDAVRImage const&) = delete;
    CUDAVRImage& operator=(CUDAVRImage const&) = delete;

    /// Allocates width x height x 4 uninitialised host floats for the current rectangle,
    /// releasing the earlier ones; std::bad_alloc for negative sizes (as VRImage::Allocate).
    void Allocate();
    /// Before a kernel call: on the CUDA back end, a device buffer of the image's size.
    void PrepareForCUDAOP();
    /// After a kernel call: on the CUDA back end, the device pixels copied into `pixels`.
    void ClearAfterCUDAOP();
    /// Draws the host pixels at the rectangle (VRImage::Render); needs a current GL context with
    /// GLEW initialised; nothing without pixels.
    void Render() const;

    int width;           ///< 0; rectangle width in pixels
    int height;          ///< 0; rectangle height in pixels
    int windowX;         ///< 0; window x of the lower-left pixel (GL window coordinates)
    int windowY;         ///< 0; window y of the lower-left pixel (y up from the bottom edge)
    float* pixels;       ///< null; width x height x 4 host floats after Allocate, owned
    VRImage* hostImage;  ///< the host pixels and their drawing; owned
    CUDADeviceImage* deviceImage;  ///< null; CUDA back end's pixel buffer, owned
};
