#include "app/pointer.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QCursor>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"

namespace {

void PutU16(std::vector<char>& out, int v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void PutU32(std::vector<char>& out, std::uint32_t v) {
  PutU16(out, static_cast<int>(v & 0xFFFF));
  PutU16(out, static_cast<int>(v >> 16));
}

// Writes a 16x16, 32-bit .cur file with the given hot spot.
void WriteCursorFile(const std::string& path, int hotX, int hotY) {
  const int side = 16;
  const std::uint32_t pixels = side * side * 4, mask = side * 4, header = 40;
  std::vector<char> out;
  PutU16(out, 0);
  PutU16(out, 2);  // pointer
  PutU16(out, 1);
  out.push_back(side);
  out.push_back(side);
  out.push_back(0);
  out.push_back(0);
  PutU16(out, hotX);
  PutU16(out, hotY);
  PutU32(out, header + pixels + mask);
  PutU32(out, 22);
  // Bitmap header: the height counts the picture and its mask.
  PutU32(out, header);
  PutU32(out, side);
  PutU32(out, side * 2);
  PutU16(out, 1);
  PutU16(out, 32);
  for (int i = 0; i < 6; ++i) PutU32(out, 0);
  for (int i = 0; i < side * side; ++i) {  // opaque blue, bottom-up BGRA
    out.push_back(static_cast<char>(0xFF));
    out.push_back(0);
    out.push_back(0);
    out.push_back(static_cast<char>(0xFF));
  }
  out.insert(out.end(), mask, 0);
  std::ofstream(path, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
}

class WindowPointerTest : public ::testing::Test {
 protected:
  Qt::CursorShape shape() const { return window.cursor().shape(); }

  testsupport::TempDir dir;
  QWidget window;
  app::WindowPointer pointer{&window};
};

TEST_F(WindowPointerTest, ValuesGiveArrowHourglassAndArrowWithoutImage) {
  EXPECT_EQ(pointer.value(), app::pointer::kDefault);
  pointer.set(app::pointer::kBusy);
  EXPECT_EQ(pointer.value(), 11);
  EXPECT_EQ(shape(), Qt::WaitCursor);
  pointer.set(app::pointer::kDefault);
  EXPECT_EQ(shape(), Qt::ArrowCursor);
  pointer.set(app::pointer::kBusy);
  pointer.set(app::pointer::kCustom);
  EXPECT_FALSE(pointer.hasImage());
  EXPECT_EQ(pointer.value(), 99);
  EXPECT_EQ(shape(), Qt::ArrowCursor);
}

TEST_F(WindowPointerTest, CursorFileGivesItsPictureWithItsHotSpot) {
  const std::string path = dir.file("HAND-M.CUR");
  WriteCursorFile(path, 3, 5);
  pointer.loadImage(path);
  ASSERT_TRUE(pointer.hasImage());
  EXPECT_EQ(shape(), Qt::ArrowCursor) << "loading alone does not change the setting";
  pointer.set(app::pointer::kCustom);
  EXPECT_EQ(shape(), Qt::BitmapCursor);
  EXPECT_EQ(window.cursor().hotSpot(), QPoint(3, 5));
  const QImage picture = window.cursor().pixmap().toImage();
  EXPECT_EQ(picture.size(), QSize(16, 16));
  EXPECT_EQ(QColor(picture.pixel(8, 8)), QColor(Qt::blue));
  pointer.set(app::pointer::kBusy);
  EXPECT_EQ(shape(), Qt::WaitCursor);
  pointer.set(app::pointer::kDefault);
  EXPECT_EQ(shape(), Qt::ArrowCursor);
}

TEST_F(WindowPointerTest, ImageLoadedWhileCustomShowsAtOnce) {
  pointer.set(app::pointer::kCustom);
  QImage png(12, 12, QImage::Format_ARGB32);
  png.fill(Qt::red);
  const std::string path = dir.file("hand.png");
  ASSERT_TRUE(png.save(QString::fromStdString(path)));
  pointer.loadImage(path);
  EXPECT_EQ(shape(), Qt::BitmapCursor);
}

TEST_F(WindowPointerTest, UnreadableImageThrowsAndKeepsTheEarlierOne) {
  EXPECT_THROW(pointer.loadImage(dir.file("missing.cur")), std::runtime_error);
  EXPECT_FALSE(pointer.hasImage());

  const std::string good = dir.file("good.cur");
  WriteCursorFile(good, 0, 0);
  pointer.loadImage(good);
  const std::string junk = dir.file("junk.cur");
  std::ofstream(junk) << "this is not a picture";
  try {
    pointer.loadImage(junk);
    ADD_FAILURE() << "a text file loaded as a pointer image";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(junk), std::string::npos) << e.what();
  }
  EXPECT_TRUE(pointer.hasImage());
  pointer.set(app::pointer::kCustom);
  EXPECT_EQ(shape(), Qt::BitmapCursor);
}

TEST(WindowPointer, WithoutAWindowKeepsTheSettingOnly) {
  app::WindowPointer pointer(nullptr);
  pointer.set(app::pointer::kBusy);
  EXPECT_EQ(pointer.value(), app::pointer::kBusy);
}

}  // namespace
