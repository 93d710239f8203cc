// A report-style list with one column and a header: the lists of the workspace.
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
};

}  // namespace screens
