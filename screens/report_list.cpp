#include "screens/report_list.h"

#include <QHeaderView>

#include "screens/twips.h"

namespace screens {

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
}

void ReportList::addColumn(const QString& header) {
  setColumnCount(1);
  setHeaderLabels({header});
}

void ReportList::setColumnWidthTwips(int twips) { setColumnWidth(0, TwipsToPixelsX(twips)); }

void ReportList::clear() { QTreeWidget::clear(); }

void ReportList::add(const std::string& text) {
  // Items get a column even before the list has its header.
  if (columnCount() == 0) setColumnCount(1);
  const bool wasEmpty = topLevelItemCount() == 0;
  auto* item = new QTreeWidgetItem(this, {QString::fromStdString(text)});
  if (wasEmpty) setCurrentItem(item);
}

int ReportList::count() const { return topLevelItemCount(); }

std::optional<std::string> ReportList::selectedText() const {
  const auto selected = selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  return selected.front()->text(0).toStdString();
}

std::string ReportList::itemText(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(0).toStdString() : std::string();
}

}  // namespace screens
