// PNG writer on libpng's simplified API.
#include "PngWriter.h"

#include <png.h>

#include <cstdio>
#include <cstring>

bool WritePng(std::string const& path, int w, int h, uint8_t const* rgbaBottomUp,
              std::string* error) {
    auto fail = [&](std::string const& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    if (w <= 0 || h <= 0 || rgbaBottomUp == nullptr) return fail("empty image");

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGBA;
    // a negative row stride starts at the last stored row: bottom-up input
    // becomes a top-down file
    png_int_32 const stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgbaBottomUp, stride, nullptr)) {
        std::string const why = image.message[0] ? image.message : "cannot write the file";
        png_image_free(&image);
        std::remove(path.c_str());
        return fail(why);
    }
    return true;
}
