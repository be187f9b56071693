#include "tests/maindraw/png_file.h"

#include <png.h>
#include <stdio.h>

#include <csetjmp>

namespace maindraw {

namespace {

struct File {
  explicit File(const std::string& path) : f(fopen(path.c_str(), "wb")) {}
  ~File() {
    if (f != nullptr) fclose(f);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  FILE* f;
};

}  // namespace

std::string WritePng(const std::string& path, uint32_t width, uint32_t height,
                     const std::vector<uint8_t>& rgb) {
  if (width == 0 || height == 0 || rgb.size() != static_cast<size_t>(width) * height * 3)
    return "the picture's size does not match its pixels";
  File file(path);
  if (file.f == nullptr) return "cannot create " + path;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return "libpng could not start";
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return "libpng could not start";
  }
  // libpng reports its errors by jumping back here; nothing below owns
  // anything that a jump would leak.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "libpng failed to write " + path;
  }
  png_init_io(png, file.f);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y)
    png_write_row(png, const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (fflush(file.f) != 0 || ferror(file.f)) return "cannot write " + path;
  return "";
}

}  // namespace maindraw
