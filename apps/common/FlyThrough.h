// Fly-through cameras of the applications: a camera put at a voxel position looking along a
// direction given in voxel coordinates, and the endoscopy slice of such a camera off-screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CoherentVolume;
class SceneParam;

// A camera inside the volume, in voxel index coordinates (voxel (i, j, k) at i, j, k; x fastest
// in the file): the eye position and the viewing direction (any length but zero).
struct FlyThroughPose {
    float eye[3] = {0.0f, 0.0f, 0.0f};
    float direction[3] = {0.0f, 0.0f, -1.0f};
};

// Fits `camera` to the volume's physical extent dims x spacings (SceneParam::InitSceneParam, so
// that a scene's later refit to the same extent changes nothing), then puts the eye at
// pose.eye (voxel coordinates) looking along pose.direction: from the identity orientation a turn
// right and then a turn up, so that the camera's right axis stays horizontal (in the x-z plane)
// and its up axis points to +y as far as the direction allows. Scale and field of view are kept.
void PlaceCamera(SceneParam& camera, const int dims[3], const float spacings[3],
                 const FlyThroughPose& pose);

// The pose at the volume's centre ((dims - 1) / 2) looking along axis 0, 1 or 2 (x, y, z), towards
// increasing (sign > 0) or decreasing coordinates.
FlyThroughPose AxisPose(const int dims[3], int axis, int sign);

// The pose of the key or option letter: x, y, z look along +x, +y, +z; X, Y, Z along -x, -y, -z.
// False for any other letter.
bool AxisPoseOfLetter(char letter, const int dims[3], FlyThroughPose* pose);

// The mean voxel spacing: the side of a slice pixel the slice view starts with.
float MeanSpacing(const CoherentVolume& volume);

// The endoscopy slice of `camera` through `volume` as the slice view draws it without its
// field-of-view lines: width x height RGBA8 pixels, rows bottom-up, opaque grey through the window
// (width, center), one slice pixel being gridSpacing model units. Black outside the volume.
std::vector<uint8_t> RenderSliceRgba8(CoherentVolume* volume, const SceneParam& camera,
                                      bool horizontal, float gridSpacing, float windowWidth,
                                      float windowCenter, int width, int height);
