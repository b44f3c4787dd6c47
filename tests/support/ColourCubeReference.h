// Independent reference picture of the placeholder colour cube: a ray per
// pixel centre through a camera given by its parameters (no matrices), in
// double precision, coloured by the cube face it enters. Used to check GL
// renders and viewer screenshots of the Scene's cube.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace cuberef {

using Rgb = std::array<int, 3>;
Rgb const kGrey = {128, 128, 128};  // 0.5 * 255 = 127.5: 127 and 128 both match
Rgb const kRed = {255, 0, 0};
Rgb const kGreen = {0, 255, 0};
Rgb const kBlue = {0, 0, 255};
Rgb const kCyan = {0, 255, 255};
Rgb const kMagenta = {255, 0, 255};
Rgb const kYellow = {255, 255, 0};

/// The camera as the scene's parameters describe it: eye space point =
/// rotate(q) then scale then + (t[0], t[1], t[2] + zBase).
struct Camera {
    double fovy = 45.0;  ///< degrees
    double aspect = 1.0;
    double zBase = 0.0;  ///< zTranslateBase
    double t[3] = {0.0, 0.0, 0.0};
    double scale = 1.0;
    double q[4] = {0.0, 0.0, 0.0, 1.0};  ///< unit quaternion x, y, z, w
};

/// The scene's initial camera for a w x h window: bounding sphere of the
/// [-1, 1]^3 cube filling fovy 45.
Camera DefaultCamera(int w, int h);

/// Unit quaternion of a rotation by `angle` radians about (ax, ay, az).
void AxisAngle(double ax, double ay, double az, double angle, double q[4]);

/// Colour of pixel (px, py) (GL window coordinates, y up) of a w x h image.
Rgb ReferencePixel(Camera const& c, int w, int h, int px, int py);

/// Per-channel tolerance of a flat-shaded pixel.
constexpr int kChannelTol = 2;

struct Comparison {
    int mismatches = 0;  ///< pixels differing from the reference
    int offEdge = 0;     ///< of those, pixels with no 8-neighbour of their colour in the reference
    int counts[7] =
        {};  ///< reference pixels per colour: grey, red, green, blue, cyan, magenta, yellow
};

/// Compares an RGBA8 image (rows bottom-up) with the reference. A correct
/// render differs only on colour edges (offEdge == 0) and rarely there.
Comparison Compare(std::vector<uint8_t> const& rgbaBottomUp, Camera const& cam, int w, int h);

bool Close(Rgb const& a, Rgb const& b);
Rgb At(std::vector<uint8_t> const& rgbaBottomUp, int w, int x, int y);

}  // namespace cuberef
