#include "screens/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace screens {
namespace {

constexpr double kTwipsPerInch = 1440.0;

double LogicalDpi(bool horizontal) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 96.0;
  return horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
}

int ToPixels(int twips, bool horizontal) {
  return static_cast<int>(std::lround(twips * LogicalDpi(horizontal) / kTwipsPerInch));
}

}  // namespace

int TwipsToPixelsX(int twips) { return ToPixels(twips, true); }
int TwipsToPixelsY(int twips) { return ToPixels(twips, false); }

QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(TwipsToPixelsX(left), TwipsToPixelsY(top), TwipsToPixelsX(width),
               TwipsToPixelsY(height));
}

QFont ArialFont(double pointSize, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(pointSize);
  font.setBold(bold);
  return font;
}

}  // namespace screens
