// The look of the windows (skin, face colours) and the hover rules of the pointer.
#include "app/look.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/pointer.h"
#include "app/skin_engine.h"
#include "tests/support/fixtures.h"

namespace {

using steps::pointer::kBusy;
using steps::pointer::kCustom;
using steps::pointer::kDefault;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

QColor Background(const QWidget& widget) { return widget.palette().color(QPalette::Window); }

// A window with one control of each kind the face colours care about, and one they leave.
struct SampleWindow {
  QWidget window;
  QGroupBox* frame = new QGroupBox("Frame", &window);
  QLabel* label = new QLabel("Label", frame);
  QCheckBox* check = new QCheckBox("Check", &window);
  QLineEdit* box = new QLineEdit(&window);

  SampleWindow() {
    for (QWidget* w : {&window, static_cast<QWidget*>(frame), static_cast<QWidget*>(label)}) {
      QPalette p = w->palette();
      p.setColor(QPalette::Window, Qt::white);
      w->setPalette(p);
    }
  }
};

TEST(HoverRules, TableOfBothWindows) {
  for (const char* button : {"PushButton1", "PushButton2", "PushButton3"})
    EXPECT_EQ(app::HoverRule("Form1", button), kCustom) << button;
  for (const char* plain : {"Form1", "Frame1", "Text1", "Text2"})
    EXPECT_EQ(app::HoverRule("Form1", plain), kDefault) << plain;
  for (const char* button : {"PushButton1", "PushButton2", "PushButton5"})
    EXPECT_EQ(app::HoverRule("Form2", button), kCustom) << button;
  for (const char* plain : {"Form2", "Frame1", "ListView1", "ListView2", "ListView3", "ListView4"})
    EXPECT_EQ(app::HoverRule("Form2", plain), kDefault) << plain;

  // No handler: known controls without a rule, and names of the other window.
  for (const char* none : {"Label5", "lblPassword"}) {
    EXPECT_TRUE(app::HoverKnows("Form1", none));
    EXPECT_EQ(app::HoverRule("Form1", none), std::nullopt);
  }
  for (const char* none : {"Combo1", "ProgressBar1"}) {
    EXPECT_TRUE(app::HoverKnows("Form2", none));
    EXPECT_EQ(app::HoverRule("Form2", none), std::nullopt);
  }
  EXPECT_EQ(app::HoverRule("Form2", "PushButton3"), std::nullopt);
  EXPECT_EQ(app::HoverRule("Form1", "ListView1"), std::nullopt);
}

TEST(HoverRules, BusyPointerAndControlsWithoutHandlerKeepTheSetting) {
  EXPECT_EQ(app::PointerAfterMove("Form2", "PushButton1", kBusy), kBusy);
  EXPECT_EQ(app::PointerAfterMove("Form2", "Form2", kBusy), kBusy);
  EXPECT_EQ(app::PointerAfterMove("Form2", "PushButton1", kDefault), kCustom);
  EXPECT_EQ(app::PointerAfterMove("Form2", "ListView3", kCustom), kDefault);
  // A label keeps what the last handler left; the window background then resets it.
  EXPECT_EQ(app::PointerAfterMove("Form1", "Label5", kCustom), kCustom);
  EXPECT_EQ(app::PointerAfterMove("Form1", "Form1", kCustom), kDefault);
  EXPECT_EQ(app::PointerAfterMove("Form2", "Combo1", kCustom), kCustom);
}

TEST(SkinFile, OnlyAnOrdinaryVisibleFileCounts) {
  testsupport::TempDir temp;
  const std::string file = temp.file("o.cjs");
  EXPECT_FALSE(app::SkinFilePresent(file)) << "missing";
  std::filesystem::create_directory(file);
  EXPECT_FALSE(app::SkinFilePresent(file)) << "a folder";
  std::filesystem::remove(file);
  WriteFile(file, "QWidget { }");
  EXPECT_TRUE(app::SkinFilePresent(file));
  WriteFile(temp.file(".o.cjs"), "QWidget { }");
  EXPECT_FALSE(app::SkinFilePresent(temp.file(".o.cjs"))) << "hidden";
  EXPECT_FALSE(app::SkinFilePresent(""));
}

TEST(FaceColours, WindowFramesAndLabelsOnly) {
  SampleWindow s;
  const QColor boxBefore = s.box->palette().color(QPalette::Base);
  app::ApplyFaceColours(s.window);
  const QColor face = app::ButtonFaceColour();
  EXPECT_EQ(face, QPalette().color(QPalette::Button));
  EXPECT_EQ(Background(s.window), face);
  EXPECT_EQ(Background(*s.frame), face);
  EXPECT_EQ(Background(*s.label), face) << "a label inside a frame counts too";
  EXPECT_EQ(Background(*s.check), face);
  EXPECT_TRUE(s.frame->autoFillBackground());
  EXPECT_EQ(s.box->palette().color(QPalette::Base), boxBefore) << "other controls keep theirs";
}

TEST(ApplySkin, MissingFileChangesNothing) {
  testsupport::TempDir temp;
  SampleWindow s;
  app::SkinEngine engine;
  app::ApplySkin(s.window, engine, temp.file("x/o.cjs"));
  EXPECT_EQ(Background(s.window), QColor(Qt::white));
  EXPECT_EQ(Background(*s.label), QColor(Qt::white));
  EXPECT_FALSE(engine.loaded());
  EXPECT_TRUE(s.window.styleSheet().isEmpty());
}

TEST(ApplySkin, PresentFileSkinsTheWindowAndLaterWindows) {
  testsupport::TempDir temp;
  const std::string sheet = "QPushButton { font-weight: bold; }";
  WriteFile(temp.file("o.cjs"), sheet);
  SampleWindow s;
  app::SkinEngine engine;
  app::ApplySkin(s.window, engine, temp.file("o.cjs"));
  EXPECT_EQ(Background(s.window), app::ButtonFaceColour());
  EXPECT_EQ(s.window.styleSheet().toStdString(), sheet);
  EXPECT_TRUE(engine.options() & app::SkinEngine::kOptionNewWindows);
  EXPECT_TRUE(engine.enabled());
  EXPECT_TRUE(engine.skinDialogs());

  // Windows and dialogs shown later take the skin; a window with a sheet of its own keeps it.
  QWidget later;
  later.show();
  EXPECT_EQ(later.styleSheet().toStdString(), sheet);
  QDialog dialog;
  dialog.show();
  EXPECT_EQ(dialog.styleSheet().toStdString(), sheet);
  QWidget own;
  own.setStyleSheet("QLabel { color: red; }");
  own.show();
  EXPECT_EQ(own.styleSheet(), "QLabel { color: red; }");

  // Switched off, the skin leaves every window it was given to.
  engine.setEnabled(false);
  EXPECT_TRUE(s.window.styleSheet().isEmpty());
  EXPECT_TRUE(later.styleSheet().isEmpty());
  QWidget afterOff;
  afterOff.show();
  EXPECT_TRUE(afterOff.styleSheet().isEmpty());
}

TEST(ApplySkin, UnreadableOrUnparsableFileThrowsAndLeavesTheSkinUndone) {
  testsupport::TempDir temp;
  const struct {
    const char* name;
    std::string bytes;
  } bad[] = {{"unparsable", "QWidget { background: red; "},
             {"binary", std::string("\x89PNG\0\0\xff\xfe", 8)}};
  for (const auto& b : bad) {
    WriteFile(temp.file("o.cjs"), b.bytes);
    SampleWindow s;
    app::SkinEngine engine;
    EXPECT_THROW(app::ApplySkin(s.window, engine, temp.file("o.cjs")), std::runtime_error)
        << b.name;
    EXPECT_FALSE(engine.loaded()) << b.name;
    EXPECT_TRUE(s.window.styleSheet().isEmpty()) << b.name;
  }
}

TEST(SkinEngine, ApplyNeedsALoadedEnabledSkin) {
  testsupport::TempDir temp;
  QWidget window;
  app::SkinEngine engine;
  engine.setEnabled(true);
  EXPECT_THROW(engine.applyWindow(window), std::runtime_error);
  WriteFile(temp.file("skin.qss"), "QLabel { color: blue; }");
  engine.loadSkin(temp.file("skin.qss"));
  engine.setEnabled(false);
  EXPECT_THROW(engine.applyWindow(window), std::runtime_error);
  EXPECT_THROW(engine.loadSkin(temp.file("none.qss")), std::runtime_error);
  EXPECT_TRUE(engine.loaded()) << "a failed load keeps the skin loaded before";

  // Without the option, later windows stay as they are; dialogs need their own switch.
  engine.setEnabled(true);
  engine.applyWindow(window);
  QWidget later;
  later.show();
  EXPECT_TRUE(later.styleSheet().isEmpty());
  engine.setOptions(app::SkinEngine::kOptionNewWindows);
  engine.applyWindow(window);
  QDialog dialog;
  dialog.show();
  EXPECT_TRUE(dialog.styleSheet().isEmpty());
}

}  // namespace
