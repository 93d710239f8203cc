// A single-line text box that selects its whole text whenever it gets the focus, by keyboard
// or by mouse, so that typing replaces the text.
#pragma once

#include <QLineEdit>

namespace screens {

class SelectAllEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit SelectAllEdit(QWidget* parent = nullptr);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Set by a focus change that a mouse press caused, until that press is released: the press
  // must not undo the selection by placing the cursor.
  bool selectingByMouse_ = false;
};

}  // namespace screens
