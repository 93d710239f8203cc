#include "screens/report_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "screens/twips.h"

namespace screens {
namespace {

// Keys that choose the current item without moving it.
bool IsChoosingKey(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space ||
         key == Qt::Key_Select;
}

}  // namespace

ReportList::ReportList(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  header()->setStretchLastSection(false);
  // No column until the window's load adds it.
  setColumnCount(0);
  setHeaderLabels({});
  connect(this, &QTreeWidget::itemClicked, this, [this] { clicked_ = true; });
}

void ReportList::addColumn(const QString& header) {
  setColumnCount(1);
  setHeaderLabels({header});
}

void ReportList::setColumnWidthTwips(int twips) { setColumnWidth(0, TwipsToPixelsX(twips)); }

void ReportList::clear() {
  selectedAtPress_ = nullptr;  // the items go
  pressedOnItem_ = false;
  QTreeWidget::clear();
}

void ReportList::add(const std::string& text) {
  // Items get a column even before the list has its header.
  if (columnCount() == 0) setColumnCount(1);
  const bool wasEmpty = topLevelItemCount() == 0;
  auto* item = new QTreeWidgetItem(this, {QString::fromStdString(text)});
  if (wasEmpty) setCurrentItem(item);
}

int ReportList::count() const { return topLevelItemCount(); }

std::optional<std::string> ReportList::selectedText() const {
  const QTreeWidgetItem* item = selectedItem();
  if (!item) return std::nullopt;
  return item->text(0).toStdString();
}

std::string ReportList::itemText(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(0).toStdString() : std::string();
}

QTreeWidgetItem* ReportList::selectedItem() const {
  const auto selected = selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

// The current item and the selection go together, and an item is never deselected: the
// keyboard's current item is always the one the lists show the details of.
QItemSelectionModel::SelectionFlags ReportList::selectionCommand(const QModelIndex& index,
                                                                 const QEvent* event) const {
  if (!index.isValid()) return QItemSelectionModel::NoUpdate;
  if (event && event->type() == QEvent::MouseButtonRelease) return QItemSelectionModel::NoUpdate;
  return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
}

void ReportList::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* before = selectedItem();
  QTreeWidget::keyPressEvent(event);
  QTreeWidgetItem* after = selectedItem();
  if (after && (after != before || IsChoosingKey(event->key()))) emit itemChosen();
}

void ReportList::mousePressEvent(QMouseEvent* event) {
  if (!indexAt(event->position().toPoint()).isValid()) {
    // Empty space: the list takes the focus and keeps its selection.
    setFocus(Qt::MouseFocusReason);
    event->accept();
    pressedOnItem_ = false;
    return;
  }
  pressedOnItem_ = true;
  selectedAtPress_ = selectedItem();
  QTreeWidget::mousePressEvent(event);
}

void ReportList::mouseReleaseEvent(QMouseEvent* event) {
  clicked_ = false;
  QTreeWidget::mouseReleaseEvent(event);  // a click on an item sets clicked_
  QTreeWidgetItem* after = selectedItem();
  // A click chooses its item; a press dragged onto another item chooses that one.
  if (after && (clicked_ || (pressedOnItem_ && after != selectedAtPress_))) emit itemChosen();
  pressedOnItem_ = false;
  selectedAtPress_ = nullptr;
  clicked_ = false;
}

}  // namespace screens
