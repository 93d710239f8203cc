#include "screens/select_all_edit.h"

#include <QFocusEvent>
#include <QMouseEvent>

namespace screens {

SelectAllEdit::SelectAllEdit(QWidget* parent) : QLineEdit(parent) {}

void SelectAllEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  selectAll();
  selectingByMouse_ = event->reason() == Qt::MouseFocusReason;
}

void SelectAllEdit::focusOutEvent(QFocusEvent* event) {
  selectingByMouse_ = false;
  QLineEdit::focusOutEvent(event);
}

void SelectAllEdit::mousePressEvent(QMouseEvent* event) {
  if (selectingByMouse_) {
    event->accept();
    return;
  }
  QLineEdit::mousePressEvent(event);
}

void SelectAllEdit::mouseMoveEvent(QMouseEvent* event) {
  if (selectingByMouse_) {
    event->accept();
    return;
  }
  QLineEdit::mouseMoveEvent(event);
}

void SelectAllEdit::mouseReleaseEvent(QMouseEvent* event) {
  if (selectingByMouse_) {
    selectingByMouse_ = false;
    selectAll();
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

}  // namespace screens
