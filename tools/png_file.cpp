#include "tools/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

namespace orvane::tools {
namespace {

struct PngFailure {
    char message[256];
    int savedErrno;
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    failure->savedErrno = errno;
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp, so this frame holds only plain data and nothing that
// needs a destructor; the row buffer belongs to the caller.
bool encode(std::FILE* out, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
            png_bytep row, PngFailure* failure) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, onPngError, onPngWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::int32_t line = 0; line < height; ++line) {
        const std::uint32_t* source =
            pixels + static_cast<std::size_t>(height - 1 - line) * static_cast<std::size_t>(width);
        for (std::int32_t i = 0; i < width; ++i) {
            row[3 * i] = static_cast<png_byte>(source[i] >> 16);
            row[3 * i + 1] = static_cast<png_byte>(source[i] >> 8);
            row[3 * i + 2] = static_cast<png_byte>(source[i]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Creates a file that did not exist beside `path`; its name goes to `temporary`.
std::FILE* createTemporary(const std::string& path, std::string& temporary) {
    std::random_device seed;
    std::mt19937 generator(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(generator()));
        temporary = path + suffix;
        // "x": fail rather than reuse a file that is already there.
        if (std::FILE* file = std::fopen(temporary.c_str(), "wbx"))
            return file;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

} // namespace

bool writeFramePng(const std::string& path, const std::uint32_t* pixels, std::int32_t width,
                   std::int32_t height, std::string& reason) {
    std::string temporary;
    std::FILE* out = createTemporary(path, temporary);
    if (out == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
    PngFailure failure{"out of memory", 0};
    bool written = encode(out, pixels, width, height, row.data(), &failure);
    if (!written)
        reason = failure.savedErrno != 0 ? std::strerror(failure.savedErrno) : failure.message;
    // Buffered bytes can still fail to reach the disk here (a full disk, a quota).
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        if (written)
            reason = std::strerror(errno);
        written = false;
    }
    if (std::fclose(out) != 0 && written) {
        reason = std::strerror(errno);
        written = false;
    }
    std::error_code error;
    if (written) {
        std::filesystem::rename(temporary, path, error);
        if (!error)
            return true;
        reason = error.message();
    }
    std::filesystem::remove(temporary, error);
    return false;
}

} // namespace orvane::tools
