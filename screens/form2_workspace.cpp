#include "screens/form2_workspace.h"

#include <QComboBox>
#include <QProgressBar>
#include <stdexcept>

#include "screens/form2.h"
#include "screens/windows.h"

namespace screens {
namespace {

std::string SelectedText(const ReportList& list, const char* what) {
  const auto text = list.selectedText();
  if (!text) throw std::runtime_error(std::string("No ") + what + " is selected.");
  return *text;
}

}  // namespace

int Form2Workspace::fieldCount() { return form_.ListView2().count(); }

std::string Form2Workspace::selectedField() { return SelectedText(form_.ListView2(), "field"); }

std::string Form2Workspace::selectedTable() { return SelectedText(form_.ListView1(), "table"); }

std::string Form2Workspace::criterionText() { return form_.Combo1().currentText().toStdString(); }

void Form2Workspace::clearResults() { form_.ListView4().clear(); }

void Form2Workspace::addResult(const std::string& text) { form_.ListView4().add(text); }

void Form2Workspace::setProgress(int percent) { form_.ProgressBar1().setValue(percent); }

void Form2Workspace::setProgressText(const std::string& text) {
  form_.ProgressBar1().setFormat(QString::fromStdString(text));
}

void Form2Workspace::setPointer(int value) { form_.pointer().set(value); }

void Form2Workspace::refillTableList() { windows_.FillTableList(); }

std::string Form2Workspace::connectionString() { return windows_.connectionString(); }

bool Form2Workspace::ending() { return windows_.ending(); }

}  // namespace screens
