// Light and ray-caster parameters: defaults, copies and the headlight helper.
#include <gtest/gtest.h>

#include <cmath>

#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "MIPRayCasterParam.h"

namespace {

constexpr float kTol = 1e-6f;

TEST(RayCasterParam, DefaultsOfAllThreeClasses) {
    BasicLightParam light;
    // The light direction is a direction (w = 0), unlike a default Vector4.
    EXPECT_EQ(light.lightDirection.x, 1.0f);
    EXPECT_EQ(light.lightDirection.y, 0.0f);
    EXPECT_EQ(light.lightDirection.z, 0.0f);
    EXPECT_EQ(light.lightDirection.w, 0.0f);
    EXPECT_EQ(light.lightIntensity, 1.0f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(light.lightColor[i], 1.0f);
        EXPECT_EQ(light.backgroundColor[i], 0.0f);
    }
    EXPECT_FLOAT_EQ(light.ambient, 0.1f);
    EXPECT_EQ(light.diffuse, 1.0f);
    EXPECT_EQ(light.specular, 0.5f);
    EXPECT_EQ(light.specularPower, 10.0f);
    EXPECT_FALSE(light.illustrativeShading);

    IsosurfaceRayCasterParam iso;
    EXPECT_EQ(iso.isovalue, 100.0f);
    for (float c : iso.surfaceColor)
        EXPECT_EQ(c, 1.0f);

    MIPRayCasterParam mip;
    EXPECT_EQ(mip.windowWidth, 256.0f);
    EXPECT_EQ(mip.windowCenter, 128.0f);
}

TEST(RayCasterParam, CopiesCarryEveryMember) {
    BasicLightParam light;
    light.lightDirection = Vector4(0.0f, 0.6f, 0.8f, 0.0f);
    light.lightIntensity = 2.5f;
    light.lightColor[1] = 0.25f;
    light.ambient = 0.3f;
    light.diffuse = 0.7f;
    light.specular = 0.9f;
    light.specularPower = 42.0f;
    light.backgroundColor[0] = 0.2f;
    light.backgroundColor[2] = 0.4f;
    light.illustrativeShading = true;

    BasicLightParam constructed(light);
    BasicLightParam assigned;
    assigned = light;
    for (const BasicLightParam* copy : {&constructed, &assigned}) {
        EXPECT_EQ(copy->lightDirection.y, 0.6f);
        EXPECT_EQ(copy->lightDirection.z, 0.8f);
        EXPECT_EQ(copy->lightIntensity, 2.5f);
        EXPECT_EQ(copy->lightColor[1], 0.25f);
        EXPECT_EQ(copy->ambient, 0.3f);
        EXPECT_EQ(copy->diffuse, 0.7f);
        EXPECT_EQ(copy->specular, 0.9f);
        EXPECT_EQ(copy->specularPower, 42.0f);
        EXPECT_EQ(copy->backgroundColor[0], 0.2f);
        EXPECT_EQ(copy->backgroundColor[2], 0.4f);
        EXPECT_TRUE(copy->illustrativeShading);
    }

    IsosurfaceRayCasterParam iso;
    iso.isovalue = -7.5f;
    iso.surfaceColor[2] = 0.5f;
    IsosurfaceRayCasterParam isoCopy;
    isoCopy = iso;
    EXPECT_EQ(isoCopy.isovalue, -7.5f);
    EXPECT_EQ(isoCopy.surfaceColor[2], 0.5f);

    MIPRayCasterParam mip;
    mip.windowWidth = 4000.0f;
    mip.windowCenter = 1000.0f;
    MIPRayCasterParam mipCopy;
    mipCopy = mip;
    EXPECT_EQ(mipCopy.windowWidth, 4000.0f);
    EXPECT_EQ(mipCopy.windowCenter, 1000.0f);
}

TEST(RayCasterParam, HeadlightFollowsTheCamera) {
    BasicLightParam light;

    // Identity view: the eye looks down -z, so the headlight travels along -z.
    light.GlobalLightDir(Vector4(0.0f, 0.0f, -1.0f, 0.0f), Matrix4x4());
    EXPECT_NEAR(light.lightDirection.x, 0.0f, kTol);
    EXPECT_NEAR(light.lightDirection.y, 0.0f, kTol);
    EXPECT_NEAR(light.lightDirection.z, -1.0f, kTol);
    EXPECT_EQ(light.lightDirection.w, 0.0f);

    // A view that turns the model by +90 degrees about y carries model +x onto
    // eye -z (x' = z, z' = -x). The viewing direction is therefore model +x,
    // whatever translation and uniform scale the view adds.
    const float half = 0.70710678f;
    const Matrix4x4 rotate(0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1);
    Matrix4x4 view = Matrix4x4::TranslateMatrix(3.0f, -2.0f, -10.0f) *
                     Matrix4x4::ScaleMatrix(3.0f, 3.0f, 3.0f) * rotate;
    light.GlobalLightDir(Vector4(0.0f, 0.0f, -1.0f, 0.0f), view);
    EXPECT_NEAR(light.lightDirection.x, 1.0f, kTol);
    EXPECT_NEAR(light.lightDirection.y, 0.0f, kTol);
    EXPECT_NEAR(light.lightDirection.z, 0.0f, kTol);
    EXPECT_NEAR(light.lightDirection.w, 0.0f, kTol);

    // An eye-space diagonal comes back normalised: (0, 1, -1) in eye space is
    // (1, 1, 0) / sqrt 2 in model space under the same rotation.
    light.GlobalLightDir(Vector4(0.0f, 2.0f, -2.0f, 0.0f), view);
    EXPECT_NEAR(light.lightDirection.x, half, kTol);
    EXPECT_NEAR(light.lightDirection.y, half, kTol);
    EXPECT_NEAR(light.lightDirection.z, 0.0f, kTol);
}

TEST(RayCasterParam, ZeroDirectionIsNotGuarded) {
    BasicLightParam light;
    light.GlobalLightDir(Vector4(0.0f, 0.0f, 0.0f, 0.0f), Matrix4x4());
    EXPECT_FALSE(std::isfinite(light.lightDirection.x));
    EXPECT_FALSE(std::isfinite(light.lightDirection.y));
    EXPECT_FALSE(std::isfinite(light.lightDirection.z));
}

}  // namespace
