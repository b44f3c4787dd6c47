// Lighting shared by the shaded kernels (isosurface, full volume rendering): the light and
// material bound once per frame, two-sided Blinn-Phong and the illustrative contour style.
#pragma once

#include <cmath>

#include "BasicLightParam.h"
#include "Vector.h"

// The light of one frame in the form the shading formulas use.
struct BoundLight {
    float direction[3] = {1.f, 0.f, 0.f};  // L: direction of travel, physical, as stored
    float ambient[3] = {0.f, 0.f, 0.f};    // ambient x intensity x light colour
    float diffuse[3] = {0.f, 0.f, 0.f};    // diffuse x intensity x light colour
    float specular[3] = {0.f, 0.f, 0.f};   // specular x intensity x light colour
    float power = 1.f;                     // specular power p
    int wholePower = 0;                    // p when it is a whole number 1 .. 32, else 0
    float specularCutoff = 0.f;            // h above which the highlight counts
    float background[3] = {0.f, 0.f, 0.f};
    bool illustrative = false;

    // specularCutoff = (0.001 / m)^(1 / p), m the strongest specular channel: below it h^p m stays
    // under 0.001 and the power is not worth evaluating. All-zero specular gives an infinite
    // cutoff (no highlight).
    void Bind(const BasicLightParam& light) {
        direction[0] = light.lightDirection.x;
        direction[1] = light.lightDirection.y;
        direction[2] = light.lightDirection.z;
        float strongest = 0.f;
        for (int c = 0; c < 3; ++c) {
            const float colour = light.lightIntensity * light.lightColor[c];
            ambient[c] = light.ambient * colour;
            diffuse[c] = light.diffuse * colour;
            specular[c] = light.specular * colour;
            if (specular[c] > strongest) strongest = specular[c];
            background[c] = light.backgroundColor[c];
        }
        power = light.specularPower;
        wholePower = power >= 1.f && power <= 32.f && power == std::floor(power) ? int(power) : 0;
        specularCutoff = std::pow(0.001f / strongest, 1.f / power);
        illustrative = light.illustrativeShading;
    }
};

// Illustrative style: w = (1 - (N.D)^2)^(p / 2), capped at 1; rgb = w rgb + (1 - w) background.
// Edge-on surfaces keep their colour, surfaces facing the viewer take the background colour. A
// non-finite normal keeps the colour.
KESTREL_HOST_DEVICE inline void ShadeIllustrative(float rgb[3], const Vector4& normal,
                                                  const Vector4& dir, const BoundLight& light) {
    const float b = normal.x * dir.x + normal.y * dir.y + normal.z * dir.z;
    float w = std::pow(1.f - b * b, light.power * 0.5f);
    if (!(w < 1.f)) w = 1.f;
    for (int c = 0; c < 3; ++c)
        rgb[c] = w * rgb[c] + (1.f - w) * light.background[c];
}

// The halfway vector of Blinn-Phong for a view direction: H = normalise(L + D). It depends on the
// ray only, so a ray with many shaded samples computes it once.
struct Halfway {
    float x, y, z;
    KESTREL_HOST_DEVICE Halfway(const BoundLight& light, const Vector4& dir) {
        const float* const L = light.direction;
        float hx = L[0] + dir.x, hy = L[1] + dir.y, hz = L[2] + dir.z;
        const float inverseLength = 1.f / std::sqrt(hx * hx + hy * hy + hz * hz);
        x = hx * inverseLength;
        y = hy * inverseLength;
        z = hz * inverseLength;
    }
};

// h^p: by repeated squaring when p is a whole number up to 32 (the default 10 takes four products;
// the call to pow took 5 to 6 % of a shaded full frame), else through pow. Each squaring doubles
// the relative rounding error, so the product stays within p float ulps of the exact power.
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE float SpecularHighlight(float h,
                                                                  const BoundLight& light) {
    int n = light.wholePower;
    if (n == 0) return std::pow(h, light.power);
    float result = 1.f;
    for (float square = h;; square *= square) {
        if (n & 1) result *= square;
        n >>= 1;
        if (n == 0) return result;
    }
}

// Two-sided Blinn-Phong: with l = L.N, the side seen is lit when l side > 0 (side: the sign that
// l must have, from the caller's notion of which side of the surface the viewer is on):
//   k = ambient + diffuse |l|, H = normalise(L + D), s = specular |H.N|^p above the cutoff,
//   rgb = rgb k + s.
// Unlit (or a non-finite normal): rgb = rgb ambient.
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE void ShadeBlinnPhong(float rgb[3], const Vector4& normal,
                                                               const Halfway& halfway, float side,
                                                               const BoundLight& light) {
    const float* const L = light.direction;
    const float l = L[0] * normal.x + L[1] * normal.y + L[2] * normal.z;
    float k[3] = {light.ambient[0], light.ambient[1], light.ambient[2]};
    float s[3] = {0.f, 0.f, 0.f};
    if (l * side > 0.f) {
        const float diffuseWeight = std::abs(l);
        for (int c = 0; c < 3; ++c)
            k[c] += light.diffuse[c] * diffuseWeight;
        const float h =
            std::abs(halfway.x * normal.x + halfway.y * normal.y + halfway.z * normal.z);
        if (h > light.specularCutoff) {
            const float highlight = SpecularHighlight(h, light);
            for (int c = 0; c < 3; ++c)
                s[c] = light.specular[c] * highlight;
        }
    }
    for (int c = 0; c < 3; ++c)
        rgb[c] = rgb[c] * k[c] + s[c];
}

// The colour of an isosurface point with `normal`, seen along dir: illustrative, or two-sided
// Blinn-Phong where a ray that entered below the isovalue sees the side facing lower values,
// which the light reaches when L.N > 0 (N points to higher values). Alpha 1.
KESTREL_HOST_DEVICE inline Vector4 ShadeSurface(const float surface[3], const Vector4& normal,
                                                const Vector4& dir, bool entryBelow,
                                                const BoundLight& light) {
    float rgb[3] = {surface[0], surface[1], surface[2]};
    if (light.illustrative)
        ShadeIllustrative(rgb, normal, dir, light);
    else
        ShadeBlinnPhong(rgb, normal, Halfway(light, dir), entryBelow ? 1.f : -1.f, light);
    return Vector4(rgb[0], rgb[1], rgb[2], 1.f);
}
