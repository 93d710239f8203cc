// Window measures given in twips (1/1440 inch), turned into pixels at the screen's logical
// resolution, and the fonts of the two windows.
#pragma once

#include <QFont>
#include <QRect>

namespace screens {

// Pixels for a horizontal or vertical measure in twips: twips * logical DPI / 1440, rounded.
int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);
// A rectangle given as left, top, width, height in twips.
QRect TwipsRect(int left, int top, int width, int height);

// Arial at a point size (fractions allowed, e.g. 11.25), bold or not.
QFont ArialFont(double pointSize, bool bold);

}  // namespace screens
