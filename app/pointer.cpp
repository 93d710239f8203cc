// A .cur file is an icon directory whose entries carry the pointer's hot spot:
//   offset 0  u16 reserved (0), u16 type (2 = pointer), u16 number of images
//   offset 6  first entry: u8 width, u8 height, u8 colours, u8 reserved,
//             u16 hot spot x, u16 hot spot y, u32 image size, u32 image offset
// (all little-endian). Qt's image reader decodes the pictures but drops the hot spot, so it is
// read here from the first entry, which is the picture the reader returns first.
#include "app/pointer.h"

#include <QCursor>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QWidget>
#include <optional>
#include <stdexcept>

namespace app {
namespace {

struct HotSpot {
  int x = -1;  // -1: Qt's default, the centre of the picture
  int y = -1;
};

int U16At(const QByteArray& bytes, int offset) {
  return static_cast<unsigned char>(bytes[offset]) |
         (static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

HotSpot ReadHotSpot(const QString& path, const QSize& size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray head = file.read(14);
  if (head.size() < 14 || U16At(head, 0) != 0 || U16At(head, 2) != 2 || U16At(head, 4) < 1)
    return {};
  HotSpot spot{U16At(head, 10), U16At(head, 12)};
  if (spot.x >= size.width() || spot.y >= size.height()) return {};
  return spot;
}

}  // namespace

struct WindowPointer::Impl {
  std::optional<QCursor> image;
};

WindowPointer::WindowPointer(QWidget* window) : window_(window), impl_(new Impl) {}

WindowPointer::~WindowPointer() { delete impl_; }

void WindowPointer::set(int value) {
  value_ = value;
  if (window_ == nullptr) return;
  switch (value) {
    case steps::pointer::kBusy:
      window_->setCursor(Qt::WaitCursor);
      break;
    case steps::pointer::kCustom:
      if (impl_->image) {
        window_->setCursor(*impl_->image);
        break;
      }
      [[fallthrough]];
    default:
      window_->unsetCursor();
      break;
  }
}

void WindowPointer::loadImage(const std::string& path) {
  const QString file = QString::fromStdString(path);
  QImageReader reader(file);
  reader.setDecideFormatFromContent(true);
  const QImage picture = reader.read();
  if (picture.isNull())
    throw std::runtime_error("Cannot read the pointer image " + path + ": " +
                             reader.errorString().toStdString());
  const HotSpot spot = ReadHotSpot(file, picture.size());
  impl_->image = QCursor(QPixmap::fromImage(picture), spot.x, spot.y);
  if (value_ == steps::pointer::kCustom) set(value_);
}

bool WindowPointer::hasImage() const { return impl_->image.has_value(); }

}  // namespace app
