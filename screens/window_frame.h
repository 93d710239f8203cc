// The frame both main windows share: a fixed client size in twips, a single fixed border with
// no maximise button, and a place in the middle of the screen.
#pragma once

class QWidget;

namespace screens {

void SetFixedFrame(QWidget& window, int clientWidthTwips, int clientHeightTwips);
void CentreOnScreen(QWidget& window);
// A white background (the designed colour of the windows, their frames and labels).
void SetWhiteBackground(QWidget& widget);

}  // namespace screens
