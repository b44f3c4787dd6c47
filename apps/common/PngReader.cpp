// PNG reader on libpng's simplified API.
#include "PngReader.h"

#include <png.h>

#include <cstring>

bool ReadPng(std::string const& path, int* w, int* h, std::vector<uint8_t>* rgbaBottomUp,
             std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        if (error) *error = path + ": " + (image.message[0] ? image.message : "cannot read");
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    png_int_32 const stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), stride, nullptr)) {
        if (error) *error = path + ": " + (image.message[0] ? image.message : "cannot decode");
        png_image_free(&image);
        return false;
    }
    *w = static_cast<int>(image.width);
    *h = static_cast<int>(image.height);
    rgbaBottomUp->swap(pixels);
    return true;
}
