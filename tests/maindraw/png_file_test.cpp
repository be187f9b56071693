// The PNG writer: what libpng reads back is the picture written, row by
// row; a file that cannot be made, or pixels that do not fit the size, are
// refused with a reason.
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/maindraw/png_file.h"

namespace {

struct ReadBack {
  uint32_t width = 0, height = 0;
  int depth = 0, type = -1;
  std::vector<uint8_t> rgb;
};

ReadBack Read(const std::string& path) {
  ReadBack r;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return r;
  r.width = image.width;
  r.height = image.height;
  r.type = static_cast<int>(image.format);
  image.format = PNG_FORMAT_RGB;
  r.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, r.rgb.data(), 0, nullptr)) r.rgb.clear();
  return r;
}

class PngFile : public testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/orv-png-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    unlink((dir_ + "/picture.png").c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
};

TEST_F(PngFile, WhatIsReadBackIsThePictureWritten) {
  // Three columns and two rows, every byte different, so a wrong row
  // stride, channel order or row order shows.
  std::vector<uint8_t> rgb(3 * 2 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 13 + 1);
  const std::string path = dir_ + "/picture.png";
  ASSERT_EQ(maindraw::WritePng(path, 3, 2, rgb), "");
  const ReadBack r = Read(path);
  EXPECT_EQ(r.width, 3u);
  EXPECT_EQ(r.height, 2u);
  EXPECT_EQ(r.type, PNG_FORMAT_RGB);
  EXPECT_EQ(r.rgb, rgb);
}

TEST_F(PngFile, RefusesAFileItCannotMakeAndPixelsThatDoNotFit) {
  const std::vector<uint8_t> rgb(4 * 3);
  EXPECT_EQ(maindraw::WritePng(dir_ + "/no/such/dir/picture.png", 2, 2, rgb),
            "cannot create " + dir_ + "/no/such/dir/picture.png");
  EXPECT_NE(maindraw::WritePng(dir_ + "/picture.png", 2, 3, rgb), "");
  EXPECT_NE(maindraw::WritePng(dir_ + "/picture.png", 0, 0, {}), "");
  EXPECT_NE(access((dir_ + "/picture.png").c_str(), F_OK), 0) << "nothing written";
}

}  // namespace
