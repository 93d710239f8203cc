// The look of both windows, the hover pointer over their controls, the shipped hand pointer,
// and a start-up on a machine without database engines.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCursor>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "app/hand_cursor.h"
#include "app/look.h"
#include "app/pointer.h"
#include "app/program.h"
#include "app/provider_check.h"
#include "app/skin_engine.h"
#include "db/base/error.h"
#include "tests/screens/screens_support.h"

namespace {

using steps::pointer::kBusy;
using steps::pointer::kCustom;
using steps::pointer::kDefault;

QColor Background(const QWidget& widget) { return widget.palette().color(QPalette::Window); }

class LookTest : public screenstest::WindowsTest {
 protected:
  void useSkin(const std::string& sheet) {
    std::ofstream(skinFile, std::ios::binary) << sheet;
    applySkin = [this](QWidget& window) { app::ApplySkin(window, engine, skinFile); };
  }
  std::vector<QWidget*> form1Plain() {
    return {&form1(), &form1().Frame1(), &form1().Label5(), &form1().lblPassword()};
  }
  // Moves the pointer onto the middle of `widget`, as the user would.
  void moveOnto(QWidget& widget) {
    QTest::mouseMove(&widget, widget.rect().center());
    QCoreApplication::processEvents();
  }

  std::string skinFile = temp.file("o.cjs");
  app::SkinEngine engine;
};

TEST_F(LookTest, WithoutSkinFileForm1StaysWhiteAndForm2TakesFaceColours) {
  applySkin = [this](QWidget& window) { app::ApplySkin(window, engine, skinFile); };
  applyFaceColours = [](QWidget& window) { app::ApplyFaceColours(window); };
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  for (QWidget* w : form1Plain())
    EXPECT_EQ(Background(*w), QColor(Qt::white)) << w->objectName().toStdString();
  EXPECT_TRUE(form1().styleSheet().isEmpty());

  const QColor face = app::ButtonFaceColour();
  EXPECT_EQ(Background(form2()), face);
  EXPECT_EQ(Background(form2().Frame1()), face);
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(LookTest, SkinFileGivesForm1FaceColoursAndTheSkin) {
  useSkin("QPushButton { font-style: italic; }");
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  for (QWidget* w : form1Plain())
    EXPECT_EQ(Background(*w), app::ButtonFaceColour()) << w->objectName().toStdString();
  EXPECT_EQ(form1().styleSheet(), "QPushButton { font-style: italic; }");
  EXPECT_TRUE(form1().PushButton2().font().italic());
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(LookTest, RejectedSkinIsReportedWithLine100AndStartUpGoesOn) {
  useSkin("QPushButton { font-style: italic; ");
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(
      prompts.errorReports()[0].text.find("in Siftwell2021/08/31.Form1.Form_Load at line 100"),
      std::string::npos);
  EXPECT_TRUE(form1().styleSheet().isEmpty()) << "the window opens without the skin";
  EXPECT_TRUE(form1().isVisible());
  EXPECT_EQ(form1().windowTitle(), "Rowsifter");
}

TEST_F(LookTest, HoverOverForm2KeepsTheHourglass) {
  makeWindows();
  form1().Text1().setText(QString::fromStdString(database));
  form1().PushButton2_Click();
  auto& f = form2();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

  moveOnto(f.PushButton1());
  EXPECT_EQ(f.pointer().value(), kCustom);
  moveOnto(f.ProgressBar1());
  EXPECT_EQ(f.pointer().value(), kCustom) << "ProgressBar1 has no handler";
  moveOnto(f.ListView3());
  EXPECT_EQ(f.pointer().value(), kDefault) << "a list";
  moveOnto(f.PushButton5());
  EXPECT_EQ(f.pointer().value(), kCustom);
  moveOnto(f.Frame1());
  EXPECT_EQ(f.pointer().value(), kDefault);
  // Combo1 lies inside Frame1: the frame's handler has run on the way in; Combo1 itself changes
  // nothing.
  f.pointer().set(kCustom);
  moveOnto(f.Combo1());
  EXPECT_EQ(f.pointer().value(), kCustom) << "Combo1 has no handler";

  f.pointer().set(kBusy);
  for (QWidget* w : std::initializer_list<QWidget*>{&f.PushButton2(), &f.ListView1(), &f}) {
    moveOnto(*w);
    EXPECT_EQ(f.pointer().value(), kBusy) << w->objectName().toStdString();
  }
}

TEST_F(LookTest, HoverOverForm1AndItsLabels) {
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form1()));
  moveOnto(form1().PushButton1());
  EXPECT_EQ(form1().pointer().value(), kCustom);
  moveOnto(form1().Label5());
  EXPECT_EQ(form1().pointer().value(), kCustom) << "a label keeps the last setting";
  moveOnto(form1().Text2());
  EXPECT_EQ(form1().pointer().value(), kDefault);
  moveOnto(form1().PushButton3());
  EXPECT_EQ(form1().pointer().value(), kCustom);
  QTest::mouseMove(&form1(), QPoint(2, 2));  // the window background
  EXPECT_EQ(form1().pointer().value(), kDefault);
}

TEST_F(LookTest, ShippedHandPointerLoadsWithItsHotSpot) {
  const std::string path = app::HandPointerPath();
  ASSERT_TRUE(QFile::exists(QString::fromStdString(path)))
      << path << " is built beside the program";
  QImageReader reader(QString::fromStdString(path));
  reader.setDecideFormatFromContent(true);
  const QImage image = reader.read();
  ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
  EXPECT_EQ(image.size(), QSize(app::kHandSize, app::kHandSize));
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "clear around the hand";
  EXPECT_EQ(image.pixel(app::kHandHotSpotX, app::kHandHotSpotY), qRgb(0, 0, 0))
      << "the hot spot is on the finger tip's outline";
  EXPECT_EQ(image.pixel(7, 5), qRgb(255, 255, 255)) << "white inside the finger";

  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  EXPECT_TRUE(form1().pointer().hasImage());
  form1().pointer().set(kCustom);
  EXPECT_EQ(form1().cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(form1().cursor().hotSpot(), QPoint(app::kHandHotSpotX, app::kHandHotSpotY));
  EXPECT_TRUE(form2().pointer().hasImage()) << "the workspace loads it too";
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(LookTest, StartUpWithoutEnginesEndsWithoutAWindow) {
  settings.values["AccessMDBFile"] = database;
  hooks.providerCheck = [this] {
    return app::CheckProvider(prompts, [] {
      throw db::Error(db::errc::kNoProvider,
                      "Provider cannot be found. It may not be properly installed.");
    });
  };
  prompts.defaultNo = true;
  makeWindows();
  const bool goOn = form1().Form_Load();

  EXPECT_FALSE(goOn);
  EXPECT_FALSE(form1().isVisible());
  EXPECT_FALSE(windows->form2Created());
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, app::ProviderHelpText());
  EXPECT_TRUE(prompts.openedUrls.empty());
}

}  // namespace
