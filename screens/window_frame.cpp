#include "screens/window_frame.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include "screens/twips.h"

namespace screens {

void SetFixedFrame(QWidget& window, int clientWidthTwips, int clientHeightTwips) {
  window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                        Qt::WindowCloseButtonHint);
  window.setFixedSize(TwipsToPixelsX(clientWidthTwips), TwipsToPixelsY(clientHeightTwips));
}

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame(QPoint(0, 0), window.size());
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

void SetWhiteBackground(QWidget& widget) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, Qt::white);
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

}  // namespace screens
