#include "app/look.h"

#include <QCheckBox>
#include <QColor>
#include <QEnterEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <filesystem>

#include "app/pointer.h"
#include "app/skin_engine.h"

namespace app {
namespace {

void SetBackground(QWidget& widget, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, colour);
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

struct Rule {
  std::string_view window;
  std::string_view control;
  std::optional<int> pointer;  // nothing: the control has no handler
};

constexpr std::optional<int> kNoHandler = std::nullopt;

constexpr std::array kRules{
    Rule{"Form1", "PushButton1", steps::pointer::kCustom},
    Rule{"Form1", "PushButton2", steps::pointer::kCustom},
    Rule{"Form1", "PushButton3", steps::pointer::kCustom},
    Rule{"Form1", "Form1", steps::pointer::kDefault},
    Rule{"Form1", "Frame1", steps::pointer::kDefault},
    Rule{"Form1", "Text1", steps::pointer::kDefault},
    Rule{"Form1", "Text2", steps::pointer::kDefault},
    Rule{"Form1", "Label5", kNoHandler},
    Rule{"Form1", "lblPassword", kNoHandler},
    Rule{"Form2", "PushButton1", steps::pointer::kCustom},
    Rule{"Form2", "PushButton2", steps::pointer::kCustom},
    Rule{"Form2", "PushButton5", steps::pointer::kCustom},
    Rule{"Form2", "Form2", steps::pointer::kDefault},
    Rule{"Form2", "Frame1", steps::pointer::kDefault},
    Rule{"Form2", "ListView1", steps::pointer::kDefault},
    Rule{"Form2", "ListView2", steps::pointer::kDefault},
    Rule{"Form2", "ListView3", steps::pointer::kDefault},
    Rule{"Form2", "ListView4", steps::pointer::kDefault},
    Rule{"Form2", "Combo1", kNoHandler},
    Rule{"Form2", "ProgressBar1", kNoHandler},
};

const Rule* FindRule(std::string_view window, std::string_view control) {
  for (const Rule& rule : kRules)
    if (rule.window == window && rule.control == control) return &rule;
  return nullptr;
}

}  // namespace

QColor ButtonFaceColour() { return QGuiApplication::palette().color(QPalette::Button); }

bool SkinFilePresent(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path file(path);
  if (!std::filesystem::is_regular_file(file, ec) || ec) return false;
  const std::string name = file.filename().string();
  return !name.empty() && name.front() != '.';
}

void ApplyFaceColours(QWidget& window) {
  const QColor face = ButtonFaceColour();
  SetBackground(window, face);
  for (QWidget* control : window.findChildren<QWidget*>()) {
    if (qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control) ||
        qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control)) {
      SetBackground(*control, face);
    }
  }
}

void ApplySkin(QWidget& window, SkinEngine& engine, const std::string& skinPath) {
  if (!SkinFilePresent(skinPath)) return;
  ApplyFaceColours(window);
  engine.loadSkin(skinPath);
  engine.setOptions(engine.options() | SkinEngine::kOptionNewWindows);
  engine.setSkinDialogs(true);
  engine.setEnabled(true);
  engine.applyWindow(window);
}

std::optional<int> HoverRule(std::string_view window, std::string_view control) {
  const Rule* rule = FindRule(window, control);
  return rule ? rule->pointer : std::nullopt;
}

bool HoverKnows(std::string_view window, std::string_view control) {
  return FindRule(window, control) != nullptr;
}

int PointerAfterMove(std::string_view window, std::string_view control, int current) {
  if (current == steps::pointer::kBusy) return current;
  return HoverRule(window, control).value_or(current);
}

// ---- HoverPointer ----------------------------------------------------------------------------

HoverPointer::HoverPointer(QWidget& window, WindowPointer& pointer)
    : QObject(&window), window_(window), pointer_(pointer) {
  window.setMouseTracking(true);
  window.installEventFilter(this);
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
  }
}

std::string HoverPointer::controlOf(QWidget* widget) const {
  const std::string window = window_.objectName().toStdString();
  for (QWidget* w = widget; w != nullptr && w != &window_; w = w->parentWidget()) {
    const std::string name = w->objectName().toStdString();
    if (HoverKnows(window, name)) return name;
  }
  return window;
}

void HoverPointer::moveOver(QWidget* widget) {
  const std::string window = window_.objectName().toStdString();
  const int now = pointer_.value();
  const int next = PointerAfterMove(window, controlOf(widget), now);
  if (next != now) pointer_.set(next);
}

bool HoverPointer::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseMove: {
      // A move that one control leaves unhandled reaches its parent as well; deciding by the
      // widget under the pointer gives both deliveries the same answer.
      const QPointF global = static_cast<QMouseEvent*>(event)->globalPosition();
      QWidget* under = window_.childAt(window_.mapFromGlobal(global.toPoint()));
      moveOver(under != nullptr ? under : &window_);
      break;
    }
    case QEvent::Enter:
      moveOver(qobject_cast<QWidget*>(watched));
      break;
    default:
      break;
  }
  return false;
}

}  // namespace app
