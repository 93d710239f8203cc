// A .cur file, all numbers little-endian:
//   header     u16 reserved 0, u16 type 2 (pointer), u16 number of images (1)
//   entry      u8 width, u8 height, u8 colour count (0), u8 reserved,
//              u16 hot spot x, u16 hot spot y, u32 size of the image, u32 offset of the image (22)
//   image      a device-independent bitmap without its file header:
//              40-byte BITMAPINFOHEADER (height doubled: colour rows and mask rows),
//              32-bit BGRA colour rows from the bottom up,
//              1-bit AND mask rows from the bottom up, each padded to 4 bytes (1 = clear).
#include "app/hand_cursor.h"

#include <cmath>
#include <cstdint>

namespace app {
namespace {

constexpr int N = kHandSize;

bool InBox(int x, int y, int left, int top, int right, int bottom) {
  return x >= left && x <= right && y >= top && y <= bottom;
}

// A finger: a column with its two top corners cut round.
bool InFinger(int x, int y, int left, int top, int right, int bottom) {
  if (!InBox(x, y, left, top, right, bottom)) return false;
  return !(y == top && (x == left || x == right));
}

double DistanceToSegment(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

bool InHand(int x, int y) {
  if (InFinger(x, y, 5, 0, 9, 17)) return true;     // index finger
  if (InFinger(x, y, 9, 6, 13, 17)) return true;    // middle finger
  if (InFinger(x, y, 13, 8, 17, 17)) return true;   // ring finger
  if (InFinger(x, y, 17, 10, 21, 18)) return true;  // little finger
  if (InBox(x, y, 5, 15, 21, 25)) {                 // palm, bottom corners cut round
    const bool corner = y == 25 && (x == 5 || x == 21);
    if (!corner) return true;
  }
  if (DistanceToSegment(x, y, 2.5, 14.0, 6.5, 20.0) <= 2.2) return true;  // thumb
  return InBox(x, y, 7, 25, 19, 30);                                      // cuff
}

// Lines drawn on top of the white: the gaps between the thumb and the fingers and the cuff's
// seam.
bool OnInnerLine(int x, int y) {
  if (x == 5 && y >= 12 && y <= 15) return true;
  if (x == 9 && y >= 6 && y <= 16) return true;
  if (x == 13 && y >= 8 && y <= 16) return true;
  if (x == 17 && y >= 10 && y <= 16) return true;
  return y == 25 && x >= 7 && x <= 19;
}

void PutU16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>((value >> 8) & 0xff);
}

void PutU32(std::string& out, std::uint32_t value) {
  PutU16(out, value & 0xffff);
  PutU16(out, value >> 16);
}

}  // namespace

std::string HandPicture() {
  std::string picture;
  picture.reserve(N * N);
  for (int y = 0; y < N; ++y) {
    for (int x = 0; x < N; ++x) {
      if (!InHand(x, y)) {
        picture += ' ';
        continue;
      }
      const bool edge = x == 0 || y == 0 || x == N - 1 || y == N - 1 || !InHand(x - 1, y) ||
                        !InHand(x + 1, y) || !InHand(x, y - 1) || !InHand(x, y + 1);
      picture += edge || OnInnerLine(x, y) ? 'X' : '.';
    }
  }
  return picture;
}

std::string HandCursorFile() {
  const std::string picture = HandPicture();
  constexpr int kMaskRowBytes = ((N + 31) / 32) * 4;
  constexpr std::uint32_t kHeaderSize = 40;
  constexpr std::uint32_t kImageSize = kHeaderSize + N * N * 4 + N * kMaskRowBytes;
  constexpr std::uint32_t kImageOffset = 6 + 16;

  std::string out;
  PutU16(out, 0);
  PutU16(out, 2);
  PutU16(out, 1);

  out += static_cast<char>(N);
  out += static_cast<char>(N);
  out += '\0';
  out += '\0';
  PutU16(out, kHandHotSpotX);
  PutU16(out, kHandHotSpotY);
  PutU32(out, kImageSize);
  PutU32(out, kImageOffset);

  PutU32(out, kHeaderSize);
  PutU32(out, N);      // width
  PutU32(out, N * 2);  // height of colour and mask rows together
  PutU16(out, 1);      // planes
  PutU16(out, 32);     // bits per pixel
  PutU32(out, 0);      // no compression
  PutU32(out, N * N * 4 + N * kMaskRowBytes);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);

  for (int y = N - 1; y >= 0; --y) {
    for (int x = 0; x < N; ++x) {
      const char c = picture[y * N + x];
      const char level = c == '.' ? '\xff' : '\0';
      out += level;  // blue
      out += level;  // green
      out += level;  // red
      out += c == ' ' ? '\0' : '\xff';
    }
  }
  for (int y = N - 1; y >= 0; --y) {
    for (int byte = 0; byte < kMaskRowBytes; ++byte) {
      unsigned bits = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const int x = byte * 8 + bit;
        if (x >= N || picture[y * N + x] == ' ') bits |= 0x80u >> bit;
      }
      out += static_cast<char>(bits);
    }
  }
  return out;
}

}  // namespace app
