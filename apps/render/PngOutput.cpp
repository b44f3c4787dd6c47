// PNG encoding with libpng into a temporary file, then an atomic rename.
#include "PngOutput.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string SystemError() {
    return std::strerror(errno);
}

// libpng reports errors through longjmp; the message is kept for the caller.
struct PngErrorState {
    std::jmp_buf jump;
    char message[256] = "";
};

void PngError(png_structp png, png_const_charp message) {
    PngErrorState* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof(state->message), "%s", message);
    std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Encodes without any C++ object that needs destruction between setjmp and longjmp.
bool EncodePng(FILE* file, const uint8_t* rgba, int width, int height, PngErrorState* state,
               png_bytep rowBuffer) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, PngError, PngWarning);
    if (png == nullptr) {
        std::snprintf(state->message, sizeof(state->message), "libpng initialisation failed");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(state->jump) != 0) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        if (state->message[0] == '\0') {
            std::snprintf(state->message, sizeof(state->message), "libpng failed");
        }
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = rgba + size_t(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            rowBuffer[x * 3 + 0] = source[x * 4 + 0];
            rowBuffer[x * 3 + 1] = source[x * 4 + 1];
            rowBuffer[x * 3 + 2] = source[x * 4 + 2];
        }
        png_write_row(png, rowBuffer);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

AtomicOutputFile::~AtomicOutputFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

bool AtomicOutputFile::Open(std::string* error) {
    std::string pattern = path_ + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor_ = mkstemp(name.data());
    if (descriptor_ < 0) {
        *error = "cannot create a file next to it (" + SystemError() + ")";
        return false;
    }
    temporary_ = name.data();
    return true;
}

bool AtomicOutputFile::CommitPng(const std::vector<uint8_t>& rgba, int width, int height,
                                 std::string* error) {
    if (descriptor_ < 0) {
        *error = "output file not open";
        return false;
    }
    FILE* file = fdopen(descriptor_, "wb");
    if (file == nullptr) {
        *error = "cannot write (" + SystemError() + ")";
        return false;
    }
    descriptor_ = -1;  // now owned by `file`
    PngErrorState state;
    std::vector<png_byte> row(size_t(width) * 3);
    const bool encoded = EncodePng(file, rgba.data(), width, height, &state, row.data());
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!encoded) {
        *error = std::string("PNG encoding failed (") + state.message + ")";
        return false;
    }
    if (!flushed || !closed) {
        *error = "cannot write (" + SystemError() + ")";
        return false;
    }
    // mkstemp creates the file readable by its owner only; an image is for everyone.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary_.c_str(), 0666 & ~mask);
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        *error = "cannot rename the finished file into place (" + SystemError() + ")";
        return false;
    }
    committed_ = true;
    return true;
}
