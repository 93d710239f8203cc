// Answers a modal Qt dialog from inside a test: the dialog's exec() blocks the test, so a timer
// finds the dialog once it shows and hands it to the test's answer.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace testsupport {

// Waits for the next visible dialog of type T and hands it to `answer`. A dialog that never
// turns up fails the test; one left open is closed so that the test cannot hang.
template <typename T>
inline void AnswerNextDialog(std::function<void(T*)> answer) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, answer] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<T*>(w); dialog != nullptr && dialog->isVisible()) {
        timer->deleteLater();
        timer->stop();
        answer(dialog);
        if (dialog->isVisible()) {
          ADD_FAILURE() << "dialog left open";
          dialog->reject();
        }
        return;
      }
    }
    if (++*tries > 500) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no dialog appeared";
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    }
  });
  timer->start(10);
}

}  // namespace testsupport
