// A report-style list with one column and a header: the lists of the workspace.
//
// The selected item is the list's one choice, and the user cannot take it away: a click on
// empty space below the items, or a Ctrl+click on the selected item, keeps it. Moving the
// keyboard's current item (arrows, Home/End, the page keys, typing the start of an item) moves
// the selection with it.
#pragma once

#include <QTreeWidget>

#include "screens/list_view.h"

namespace screens {

class ReportList : public QTreeWidget, public ListView {
  Q_OBJECT

 public:
  explicit ReportList(QWidget* parent = nullptr);

  // Gives the list its one column with a header text and a width in twips.
  void addColumn(const QString& header);
  void setColumnWidthTwips(int twips);

  void clear() override;
  void add(const std::string& text) override;
  int count() const override;
  std::optional<std::string> selectedText() const override;

  // Text of item `row` (for tests and callers that read the list back).
  std::string itemText(int row) const;

 signals:
  // The user chose the selected item: clicked an item, moved the selection to another one with
  // the keyboard or by dragging over it, or pressed Enter or Space on it. Emitted once the
  // event that chose it has been handled.
  void itemChosen();

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QTreeWidgetItem* selectedItem() const;

  bool pressedOnItem_ = false;                  // the button went down on an item
  QTreeWidgetItem* selectedAtPress_ = nullptr;  // the selection then
  bool clicked_ = false;                        // the release being handled is a click
};

}  // namespace screens
