#include "app/pointer.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QCursor>
#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QWidget>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tests/support/fixtures.h"

namespace {

// Writes a 16x16, 32-bit .cur file of opaque blue with the given hot spot.
void WriteCursorFile(const std::string& path, int hotX, int hotY) {
  const quint32 side = 16, header = 40, pixels = side * side * 4, mask = side * 4;
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  QDataStream out(&file);
  out.setByteOrder(QDataStream::LittleEndian);
  out << quint16(0) << quint16(2) << quint16(1);  // a pointer file with one picture
  out << quint8(side) << quint8(side) << quint8(0) << quint8(0) << quint16(hotX) << quint16(hotY)
      << quint32(header + pixels + mask) << quint32(22);
  // Bitmap header; its height counts the picture and its mask.
  out << header << side << side * 2 << quint16(1) << quint16(32);
  for (int i = 0; i < 6; ++i) out << quint32(0);
  for (quint32 i = 0; i < side * side; ++i) out << quint32(0xFF0000FF);  // BGRA, bottom-up
  for (quint32 i = 0; i < mask; ++i) out << quint8(0);
}

class WindowPointerTest : public ::testing::Test {
 protected:
  Qt::CursorShape shape() const { return window.cursor().shape(); }

  testsupport::TempDir dir;
  QWidget window;
  app::WindowPointer pointer{&window};
};

TEST_F(WindowPointerTest, ValuesGiveArrowHourglassAndArrowWithoutImage) {
  EXPECT_EQ(pointer.value(), steps::pointer::kDefault);
  pointer.set(steps::pointer::kBusy);
  EXPECT_EQ(pointer.value(), 11);
  EXPECT_EQ(shape(), Qt::WaitCursor);
  pointer.set(steps::pointer::kDefault);
  EXPECT_EQ(shape(), Qt::ArrowCursor);
  pointer.set(steps::pointer::kBusy);
  pointer.set(steps::pointer::kCustom);
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
  pointer.set(steps::pointer::kCustom);
  EXPECT_EQ(shape(), Qt::BitmapCursor);
  EXPECT_EQ(window.cursor().hotSpot(), QPoint(3, 5));
  const QImage picture = window.cursor().pixmap().toImage();
  EXPECT_EQ(picture.size(), QSize(16, 16));
  EXPECT_EQ(QColor(picture.pixel(8, 8)), QColor(Qt::blue));
  pointer.set(steps::pointer::kBusy);
  EXPECT_EQ(shape(), Qt::WaitCursor);
  pointer.set(steps::pointer::kDefault);
  EXPECT_EQ(shape(), Qt::ArrowCursor);
}

TEST_F(WindowPointerTest, ImageLoadedWhileCustomShowsAtOnce) {
  pointer.set(steps::pointer::kCustom);
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
  pointer.set(steps::pointer::kCustom);
  EXPECT_EQ(shape(), Qt::BitmapCursor);
}

TEST(WindowPointer, WithoutAWindowKeepsTheSettingOnly) {
  app::WindowPointer pointer(nullptr);
  pointer.set(steps::pointer::kBusy);
  EXPECT_EQ(pointer.value(), steps::pointer::kBusy);
}

}  // namespace
