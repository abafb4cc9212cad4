#include "Platform/Png.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace Platform {

void WritePng(const std::string& path, const RgbImage& image) {
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3)
        throw std::runtime_error("Image of " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                                 " with " + std::to_string(image.rgb.size()) + " bytes of pixels");
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());
    const std::string temporary = path + ".part";
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    png.flags = PNG_IMAGE_FLAG_FAST;
    if (!png_image_write_to_file(&png, temporary.c_str(), 0, image.rgb.data(), 0, nullptr)) {
        const std::string message = png.message;
        png_image_free(&png);
        std::remove(temporary.c_str());
        throw std::runtime_error("Cannot write " + path + ": " + message);
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::remove(temporary.c_str());
        throw std::runtime_error("Cannot write " + path + ": " + error.message());
    }
}

RgbImage ReadPng(const std::string& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        throw std::runtime_error("Cannot read " + path + ": " + png.message);
    png.format = PNG_FORMAT_RGB;
    if (static_cast<std::uint64_t>(png.width) * png.height > (1u << 26)) {
        png_image_free(&png);
        throw std::runtime_error("Image too large: " + path);
    }
    RgbImage image;
    image.width = png.width;
    image.height = png.height;
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        const std::string message = png.message;
        png_image_free(&png);
        throw std::runtime_error("Cannot read " + path + ": " + message);
    }
    return image;
}

}  // namespace Platform
