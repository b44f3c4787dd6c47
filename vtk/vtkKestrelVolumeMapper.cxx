// vtkKestrelVolumeMapper: camera, property and depth buffer in, Kestrel's kernels, the image
// blended over the frame.
#include "vtkKestrelVolumeMapper.h"

#include <vtkCamera.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkDataSetAttributes.h>
#include <vtkImageData.h>
#include <vtkInformation.h>
#include <vtkLight.h>
#include <vtkLightCollection.h>
#include <vtkMatrix3x3.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkOpenGLRenderWindow.h>
#include <vtkOpenGLState.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>
#include <vtkTextureObject.h>
#include <vtkUnsignedCharArray.h>
#include <vtkVolume.h>
#include <vtkVolumeProperty.h>
#include <vtk_glew.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "BasicLightParam.h"
#include "FullVR.h"
#include "IsosurfaceRayCasterParam.h"
#include "IsosurfaceVR.h"
#include "KestrelBricks.h"
#include "KestrelProperty.h"
#include "Lut1D.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "Matrix4x4.h"
#include "TFEmptySpace.h"
#include "VRImage.h"
#include "VRSceneParam.h"

// Everything a frame needs that outlives it: the bricks, the kernels' parameter objects, the
// image, the per-pixel ray limits and the texture that carries the image to the frame.
class vtkKestrelFrame {
public:
    KestrelBricks bricks;
    VRSceneParam rays;
    VRImage image;
    Lut1D table;
    TFEmptySpace tableSums;
    BasicLightParam light;
    MIPRayCasterParam mip;
    IsosurfaceRayCasterParam iso;
    std::vector<float> depth;     // the frame's depth over the image region
    std::vector<float> rayLimit;  // ray parameter at that depth, +inf where nothing was drawn
    vtkSmartPointer<vtkTextureObject> texture;
};

vtkStandardNewMacro(vtkKestrelVolumeMapper);

namespace {

// Kestrel's column-major matrix from VTK's row-major one.
Matrix4x4 ToKestrel(const vtkMatrix4x4* matrix) {
    Matrix4x4 result;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            result.m[4 * column + row] = float(matrix->GetElement(row, column));
    return result;
}

// World from Kestrel's physical coordinates (voxel (i, j, k) of the piece at (i, j, k) times the
// absolute spacing): the prop's matrix after the image's direction, spacing signs and origin.
void PhysicalToWorld(vtkImageData* image, vtkVolume* volume, vtkMatrix4x4* result) {
    const double* origin = image->GetOrigin();
    const double* spacing = image->GetSpacing();
    const int* extent = image->GetExtent();
    vtkMatrix3x3* direction = image->GetDirectionMatrix();
    vtkNew<vtkMatrix4x4> imageMatrix;
    for (int row = 0; row < 3; ++row) {
        double offset = origin[row];
        for (int column = 0; column < 3; ++column) {
            const double d = direction->GetElement(row, column);
            imageMatrix->SetElement(row, column, spacing[column] < 0 ? -d : d);
            offset += d * extent[2 * column] * spacing[column];
        }
        imageMatrix->SetElement(row, 3, offset);
    }
    vtkMatrix4x4::Multiply4x4(volume->GetMatrix(), imageMatrix, result);
}

// The voxel box the rays may enter: the piece minus its ghost cells, cut by the centre cropping
// region when cropping is on.
void CroppingBox(vtkImageData* image, const int* dims, bool cropping, const int flags,
                 const double* planes, float* box) {
    for (int a = 0; a < 3; ++a) {
        box[2 * a] = 0.f;
        box[2 * a + 1] = float(dims[a] - 1);
    }
    if (vtkUnsignedCharArray* ghosts = image->GetCellGhostArray()) {
        // The bounding box of the cells that are not ghosts, as point indices.
        int lo[3] = {dims[0], dims[1], dims[2]}, hi[3] = {-1, -1, -1};
        const int cells[3] = {std::max(dims[0] - 1, 1), std::max(dims[1] - 1, 1),
                              std::max(dims[2] - 1, 1)};
        const unsigned char* flagsOf = ghosts->GetPointer(0);
        for (int k = 0; k < cells[2]; ++k)
            for (int j = 0; j < cells[1]; ++j)
                for (int i = 0; i < cells[0]; ++i) {
                    if (flagsOf[i + cells[0] * (j + std::size_t(cells[1]) * k)] &
                        vtkDataSetAttributes::DUPLICATECELL)
                        continue;
                    const int index[3] = {i, j, k};
                    for (int a = 0; a < 3; ++a) {
                        lo[a] = std::min(lo[a], index[a]);
                        hi[a] = std::max(hi[a], index[a] + 1);
                    }
                }
        for (int a = 0; a < 3; ++a)
            if (hi[a] >= lo[a]) {
                box[2 * a] = std::max(box[2 * a], float(lo[a]));
                box[2 * a + 1] = std::min(box[2 * a + 1], float(std::min(hi[a], dims[a] - 1)));
            }
    }
    if (!cropping || flags != VTK_CROP_SUBVOLUME) return;
    const double* origin = image->GetOrigin();
    const double* spacing = image->GetSpacing();
    const int* extent = image->GetExtent();
    for (int a = 0; a < 3; ++a) {
        double p0 = (planes[2 * a] - origin[a]) / spacing[a] - extent[2 * a];
        double p1 = (planes[2 * a + 1] - origin[a]) / spacing[a] - extent[2 * a];
        if (p0 > p1) std::swap(p0, p1);
        box[2 * a] = std::max(box[2 * a], float(p0));
        box[2 * a + 1] = std::min(box[2 * a + 1], float(p1));
    }
}

// The first switched-on light's direction of travel in physical coordinates, its intensity and
// colour; the camera's view direction when the renderer has no light on.
void BindLight(vtkRenderer* renderer, vtkMatrix4x4* physicalToWorld, BasicLightParam& light) {
    vtkCamera* camera = renderer->GetActiveCamera();
    double from[3], to[3];
    camera->GetPosition(from);
    camera->GetFocalPoint(to);
    light.lightIntensity = 1.f;
    for (float& c : light.lightColor)
        c = 1.f;
    vtkLightCollection* lights = renderer->GetLights();
    vtkCollectionSimpleIterator it;
    lights->InitTraversal(it);
    while (vtkLight* candidate = lights->GetNextLight(it)) {
        if (!candidate->GetSwitch()) continue;
        candidate->GetTransformedPosition(from);
        candidate->GetTransformedFocalPoint(to);
        light.lightIntensity = float(candidate->GetIntensity());
        const double* colour = candidate->GetDiffuseColor();
        for (int c = 0; c < 3; ++c)
            light.lightColor[c] = float(colour[c]);
        break;
    }
    vtkNew<vtkMatrix4x4> worldToPhysical;
    vtkMatrix4x4::Invert(physicalToWorld, worldToPhysical);
    double direction[4] = {to[0] - from[0], to[1] - from[1], to[2] - from[2], 0.0};
    worldToPhysical->MultiplyPoint(direction, direction);
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    if (!(length > 0.0)) return;
    light.lightDirection = Vector4(float(direction[0] / length), float(direction[1] / length),
                                   float(direction[2] / length), 0.f);
}

// Reads the depth buffer under the image region (window coordinates).
void ReadDepth(vtkRenderWindow* window, int x, int y, int width, int height,
               std::vector<float>& depth) {
    depth.assign(std::size_t(width) * std::size_t(height), 1.f);
    window->GetZbufferData(x, y, x + width - 1, y + height - 1, depth.data());
}

// Per pixel of the image region, the ray parameter (physical distance from the eye) of the depth
// drawn there: |windowToPhysical (x + 0.5, y + 0.5, depth, 1) - eye|; +inf at the far plane.
void DepthToRayLimit(const VRSceneParam& rays, const VRImage& image,
                     const std::vector<float>& depth, std::vector<float>& limit) {
    limit.resize(depth.size());
    const float* const m = rays.windowToPhysical;
    const Vector4 eye(m[8] / m[11], m[9] / m[11], m[10] / m[11], 1.f);
    for (int row = 0; row < image.height; ++row)
        for (int column = 0; column < image.width; ++column) {
            const std::size_t i = std::size_t(row) * std::size_t(image.width) + column;
            if (!(depth[i] < 1.f)) {
                limit[i] = std::numeric_limits<float>::infinity();
                continue;
            }
            Vector4 p =
                rays.windowToPhysical * Vector4(float(image.windowX + column) + 0.5f,
                                                float(image.windowY + row) + 0.5f, depth[i], 1.f);
            const float w = 1.f / p.w;
            const float dx = p.x * w - eye.x, dy = p.y * w - eye.y, dz = p.z * w - eye.z;
            limit[i] = std::sqrt(dx * dx + dy * dy + dz * dz);
        }
}

// Maps each MIP pixel's grey g (the maximum's place in the table's range) through the table:
// colour and opacity of the maximum, premultiplied; pixels without a ray keep alpha 0.
void ColourMaximum(const Lut1D& table, VRImage& image) {
    const std::size_t count = std::size_t(image.width) * std::size_t(image.height);
    const float last = float(table.sampleCount - 1);
    for (std::size_t i = 0; i < count; ++i) {
        float* const pixel = image.pixels + 4 * i;
        if (!(pixel[3] > 0.f)) continue;
        const float x = std::min(std::max(pixel[0], 0.f), 1.f) * last;
        const int entry = std::min(int(x), table.sampleCount - 2);
        const float f = x - float(entry);
        const Vector4& a = table.data[entry];
        const Vector4& b = table.data[entry + 1];
        const float alpha = a.w + f * (b.w - a.w);
        pixel[0] = (a.x + f * (b.x - a.x)) * alpha;
        pixel[1] = (a.y + f * (b.y - a.y)) * alpha;
        pixel[2] = (a.z + f * (b.z - a.z)) * alpha;
        pixel[3] = alpha;
    }
}

// Blends the premultiplied image over the frame at its region of the viewport.
void DrawImage(vtkOpenGLRenderWindow* window, const VRImage& image, const int* viewportSize,
               vtkSmartPointer<vtkTextureObject>& texture) {
    if (!texture) {
        texture = vtkSmartPointer<vtkTextureObject>::New();
        texture->SetMinificationFilter(vtkTextureObject::Nearest);
        texture->SetMagnificationFilter(vtkTextureObject::Nearest);
    }
    texture->SetContext(window);
    texture->Create2DFromRaw(unsigned(image.width), unsigned(image.height), 4, VTK_FLOAT,
                             image.pixels);
    vtkOpenGLState* state = window->GetState();
    vtkOpenGLState::ScopedglEnableDisable blendSaver(state, GL_BLEND);
    vtkOpenGLState::ScopedglEnableDisable depthSaver(state, GL_DEPTH_TEST);
    vtkOpenGLState::ScopedglBlendFuncSeparate blendFunctionSaver(state);
    vtkOpenGLState::ScopedglDepthMask depthMaskSaver(state);
    state->vtkglEnable(GL_BLEND);
    state->vtkglBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    state->vtkglDisable(GL_DEPTH_TEST);
    state->vtkglDepthMask(GL_FALSE);
    texture->CopyToFrameBuffer(0, 0, image.width - 1, image.height - 1, image.windowX,
                               image.windowY, viewportSize[0], viewportSize[1], nullptr, nullptr);
}

}  // namespace

vtkKestrelVolumeMapper::vtkKestrelVolumeMapper() : Frame(new vtkKestrelFrame()) {}

vtkKestrelVolumeMapper::~vtkKestrelVolumeMapper() {
    delete Frame;
}

int vtkKestrelVolumeMapper::FillInputPortInformation(int, vtkInformation* info) {
    info->Set(vtkAlgorithm::INPUT_REQUIRED_DATA_TYPE(), "vtkImageData");
    return 1;
}

void vtkKestrelVolumeMapper::ReleaseGraphicsResources(vtkWindow* window) {
    if (Frame->texture) Frame->texture->ReleaseGraphicsResources(window);
    Frame->texture = nullptr;
}

void vtkKestrelVolumeMapper::Render(vtkRenderer* renderer, vtkVolume* volume) {
    const auto start = std::chrono::steady_clock::now();
    vtkImageData* input = vtkImageData::SafeDownCast(GetInputDataObject(0, 0));
    auto* window = vtkOpenGLRenderWindow::SafeDownCast(renderer->GetRenderWindow());
    vtkCamera* camera = renderer->GetActiveCamera();
    if (!input || !window || !camera || camera->GetParallelProjection()) return;
    int cellFlag = 0;
    vtkDataArray* scalars = vtkAbstractMapper::GetScalars(input, ScalarMode, ArrayAccessMode,
                                                          ArrayId, ArrayName, cellFlag);
    if (!scalars || cellFlag != 0) return;
    vtkKestrelFrame& frame = *Frame;
    if (!frame.bricks.Update(input, scalars)) return;
    const int* dims = frame.bricks.Dimensions();
    const double lo = frame.bricks.RangeMin(), hi = frame.bricks.RangeMax();

    // The frame's rays: Kestrel's model space is physical space centred on the box.
    vtkNew<vtkMatrix4x4> physicalToWorld, modelToWorld, modelToEye;
    PhysicalToWorld(input, volume, physicalToWorld);
    const double* spacing = input->GetSpacing();
    float spacings[3];
    vtkNew<vtkMatrix4x4> modelToPhysical;
    for (int a = 0; a < 3; ++a) {
        spacings[a] = float(std::abs(spacing[a]));
        modelToPhysical->SetElement(a, 3, 0.5 * dims[a] * spacings[a]);
    }
    vtkMatrix4x4::Multiply4x4(physicalToWorld, modelToPhysical, modelToWorld);
    vtkMatrix4x4::Multiply4x4(camera->GetViewTransformMatrix(), modelToWorld, modelToEye);
    int viewport[2], viewportOrigin[2];
    renderer->GetTiledSizeAndOrigin(&viewport[0], &viewport[1], &viewportOrigin[0],
                                    &viewportOrigin[1]);
    VRImage& image = frame.image;
    image.width = image.height = 0;
    // GL's clip space (depth -1 to 1) for the viewport's aspect.
    vtkMatrix4x4* projection =
        camera->GetProjectionTransformMatrix(renderer->GetTiledAspectRatio(), -1.0, 1.0);
    frame.rays.CalculateVRSceneParamAndImageRegion(viewport, dims, spacings, ToKestrel(modelToEye),
                                                   ToKestrel(projection), &image.windowX,
                                                   &image.width);
    image.width = std::min(image.width, viewport[0] - image.windowX);
    image.height = std::min(image.height, viewport[1] - image.windowY);
    if (image.width < 1 || image.height < 1) return;
    image.Allocate();
    CroppingBox(input, dims, GetCropping() != 0, GetCroppingRegionFlags(),
                GetCroppingRegionPlanes(), frame.rays.croppingBounds);

    // Rays end at the geometry already drawn.
    ReadDepth(window, viewportOrigin[0] + image.windowX, viewportOrigin[1] + image.windowY,
              image.width, image.height, frame.depth);
    DepthToRayLimit(frame.rays, image, frame.depth, frame.rayLimit);
    frame.rays.rayLimit = frame.rayLimit.data();

    vtkVolumeProperty* property = volume->GetProperty();
    FillPropertyTable(property, lo, hi, frame.table);
    FillMaterial(property, frame.light);
    BindLight(renderer, physicalToWorld, frame.light);
    switch (GetBlendMode()) {
        case MAXIMUM_INTENSITY_BLEND: {
            // The kernel's grey is the maximum's place in [lo, hi]; the table colours it.
            frame.mip.windowWidth = float(frame.table.maxPos - frame.table.minPos);
            frame.mip.windowCenter = 0.5f * float(frame.table.maxPos + frame.table.minPos);
            MIPVR kernel;
            kernel.volume = frame.bricks.Volume();
            kernel.gridPartition = frame.bricks.Grid();
            kernel.mipParam = &frame.mip;
            kernel.vrSceneParam = &frame.rays;
            kernel.image = &image;
            kernel.RenderWithGridPartition();
            ColourMaximum(frame.table, image);
            break;
        }
        case ISOSURFACE_BLEND: {
            FillIsosurface(property, lo, hi, frame.iso);
            IsosurfaceVR kernel;
            kernel.volume = frame.bricks.Volume();
            kernel.gridPartition = frame.bricks.Grid();
            kernel.lightParam = &frame.light;
            kernel.isoParam = &frame.iso;
            kernel.vrSceneParam = &frame.rays;
            kernel.image = &image;
            kernel.RenderWithGridPartition();
            break;
        }
        default: {
            frame.tableSums.CalculateTFEmptySpace(&frame.table);
            FullVR kernel;
            kernel.volume = frame.bricks.Volume();
            kernel.tfEmptySpace = &frame.tableSums;
            kernel.gridPartition = frame.bricks.Grid();
            kernel.lut = &frame.table;
            kernel.lightParam = &frame.light;
            kernel.vrSceneParam = &frame.rays;
            kernel.image = &image;
            kernel.shade = property->GetShade(0) != 0;
            kernel.sampleDistance =
                float(SampleDistance > 0.0 ? SampleDistance
                                           : std::min({spacings[0], spacings[1], spacings[2]}));
            kernel.stdSampleDistance = float(property->GetScalarOpacityUnitDistance(0));
            kernel.RenderWithGridPartition();
            break;
        }
    }
    frame.rays.rayLimit = nullptr;
    DrawImage(window, image, viewport, frame.texture);
    LastRenderSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void vtkKestrelVolumeMapper::PrintSelf(ostream& os, vtkIndent indent) {
    Superclass::PrintSelf(os, indent);
    os << indent << "SampleDistance: " << SampleDistance << "\n";
    os << indent << "LastRenderSeconds: " << LastRenderSeconds << "\n";
}
