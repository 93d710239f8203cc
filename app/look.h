// The look of the two windows and the pointer feedback.
//
// Look: the selection window takes the skin (with the button-face colour on its background,
// frames and labels) only when the skin file is there; the workspace always takes the
// button-face colour. Pointer: the hand over push buttons, the arrow over the window and its
// frames, lists and boxes, and never a change while the window shows the hourglass.
#pragma once

#include <QObject>
#include <optional>
#include <string>
#include <string_view>

class QColor;
class QWidget;

namespace app {

class SkinEngine;
class WindowPointer;

// The platform's button-face colour: the application palette's Button colour.
QColor ButtonFaceColour();

// True when `path` is an ordinary file a folder listing shows: not a folder, not hidden.
bool SkinFilePresent(const std::string& path);

// Gives `window`, and every frame, label, option button and check box on it, the button-face
// colour as background. Other controls keep theirs.
void ApplyFaceColours(QWidget& window);

// The selection window's look. Without the skin file at `skinPath` nothing changes. Otherwise
// the face colours, then the skin: loaded, option kOptionNewWindows added, dialogs and the skin
// switched on, applied to `window`. A failure (a skin the engine cannot read or parse) throws
// and leaves the remaining steps undone.
void ApplySkin(QWidget& window, SkinEngine& engine, const std::string& skinPath);

// The hover rules. `window` and `control` are object names ("Form1", "PushButton2"); the window
// itself stands for its background. The answer is the pointer setting a move over the control
// asks for, or nothing when the control has no rule (labels, Combo1, ProgressBar1, and names the
// table does not know).
std::optional<int> HoverRule(std::string_view window, std::string_view control);
// Whether the table names `control` for `window` at all, with or without a rule.
bool HoverKnows(std::string_view window, std::string_view control);
// The window's new pointer setting after a move over `control`: the busy setting stays, and so
// does any setting when the control has no rule.
int PointerAfterMove(std::string_view window, std::string_view control, int current);

// Applies the hover rules to `window`: follows the pointer's moves over the window and every
// control on it, and sets `pointer` accordingly. Owned by the window.
class HoverPointer : public QObject {
  Q_OBJECT

 public:
  // Installs itself on `window` and on everything on it (created before this call).
  HoverPointer(QWidget& window, WindowPointer& pointer);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The named control that `widget` belongs to (the window itself when none).
  std::string controlOf(QWidget* widget) const;
  void moveOver(QWidget* widget);

  QWidget& window_;
  WindowPointer& pointer_;
};

}  // namespace app
