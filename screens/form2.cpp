#include "screens/form2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <string>

#include "app/look.h"
#include "steps/procedure.h"
#include "app/program.h"
#include "db/catalog.h"
#include "extract/criteria.h"
#include "procedures/export.h"
#include "procedures/run.h"
#include "screens/form1.h"
#include "screens/form2_workspace.h"
#include "screens/twips.h"
#include "screens/window_frame.h"
#include "screens/windows.h"

namespace screens {
namespace {

constexpr double kWindowPoints = 9;
constexpr double kButtonPoints = 11.25;

const QString kListHint =
    QStringLiteral("Move | line to right and out of window to reveal full names.");

ReportList* MakeList(QWidget* parent, const char* name, QRect place) {
  auto* list = new ReportList(parent);
  list->setObjectName(name);
  list->setGeometry(place);
  list->setToolTip(kListHint);
  return list;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QRect place) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setFont(ArialFont(kButtonPoints, true));
  button->setFocusPolicy(Qt::StrongFocus);
  button->setGeometry(place);
  return button;
}

}  // namespace

Form2::Form2(Windows& windows) : QWidget(nullptr), windows_(windows), pointer_(this) {
  setObjectName("Form2");
  SetFixedFrame(*this, 9240, 10110);
  setFont(ArialFont(kWindowPoints, true));
  SetWhiteBackground(*this);
  createControls();
  new app::HoverPointer(*this, pointer_);
  browser_ = std::make_unique<Browser>(
      *listView1_, *listView2_, *listView3_, static_cast<BrowseWindow&>(*this),
      [&windows] { return windows.connectionString(); }, windows.prompts());
  CentreOnScreen(*this);
}

Form2::~Form2() = default;

void Form2::createControls() {
  listView1_ = MakeList(this, "ListView1", TwipsRect(120, 120, 4440, 2670));
  listView2_ = MakeList(this, "ListView2", TwipsRect(4680, 120, 4440, 2670));
  listView3_ = MakeList(this, "ListView3", TwipsRect(120, 2880, 9000, 2670));

  frame1_ = new QGroupBox(QStringLiteral("Extract Criteria"), this);
  frame1_->setObjectName("Frame1");
  frame1_->setGeometry(TwipsRect(120, 5620, 9000, 800));
  SetWhiteBackground(*frame1_);
  combo1_ = new QComboBox(frame1_);
  combo1_->setObjectName("Combo1");
  combo1_->setEditable(false);
  combo1_->setGeometry(TwipsRect(240, 300, 8535, 345));

  pushButton1_ = MakeButton(this, "PushButton1", QStringLiteral("Start Extracting"),
                            TwipsRect(120, 6530, 9000, 405));
  listView4_ = MakeList(this, "ListView4", TwipsRect(120, 7035, 9000, 1935));
  pushButton5_ = MakeButton(this, "PushButton5", QStringLiteral("Switch Access Database"),
                            TwipsRect(120, 9075, 3120, 405));
  pushButton2_ =
      MakeButton(this, "PushButton2", QStringLiteral("Create New Table With Results Of Extraction"),
                 TwipsRect(3360, 9075, 5760, 405));

  progressBar1_ = new QProgressBar(this);
  progressBar1_->setObjectName("ProgressBar1");
  progressBar1_->setGeometry(TwipsRect(120, 9600, 9000, 405));
  progressBar1_->setRange(0, 100);
  progressBar1_->setValue(0);
  progressBar1_->setAlignment(Qt::AlignCenter);
  progressBar1_->setTextVisible(true);
  progressBar1_->setFormat(QStringLiteral("Progress Bar"));

  // An item the user chooses (by a click, or by moving the selection with the keyboard) starts
  // its fill once the list has finished handling the event: the fill clears and refills lists,
  // which must not happen under the view's own event handler.
  connect(listView1_, &ReportList::itemChosen, this, [this] {
    QMetaObject::invokeMethod(
        this, [this] { browser_->userTableClick(); }, Qt::QueuedConnection);
  });
  connect(listView2_, &ReportList::itemChosen, this, [this] {
    QMetaObject::invokeMethod(
        this, [this] { browser_->userFieldClick(); }, Qt::QueuedConnection);
  });
  connect(pushButton1_, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(pushButton2_, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(pushButton5_, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
}

void Form2::Form_Load() {
  steps::Procedure p(windows_.prompts(), "Form2.Form_Load");
  p.step(100, [&] {
    if (windows_.options().applyFaceColours) windows_.options().applyFaceColours(*this);
  });
  p.step(102, [&] { setWindowIcon(QApplication::windowIcon()); });
  if (p.when(106, [] { return db::FileExists(app::HandPointerPath()); })) {
    p.step(108, [&] { pointer_.loadImage(app::HandPointerPath()); });
  }
  p.step(110, [&] { setWindowTitle(QString::fromUtf8(app::kProductName)); });

  int line = 112;
  for (const auto& text : extract::kCriterionTexts) {
    p.step(line, [&] {
      combo1_->addItem(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    });
    line += 2;
  }
  p.step(152, [&] { combo1_->setCurrentIndex(0); });

  p.step(154, [&] { listView1_->addColumn(QStringLiteral("Table(s)")); });
  p.step(156, [&] { listView1_->setColumnWidthTwips(4000); });
  p.step(158, [&] { listView2_->addColumn(QStringLiteral("Field(s)")); });
  p.step(160, [&] { listView2_->setColumnWidthTwips(4000); });
  p.step(162, [&] { listView3_->addColumn(QStringLiteral("First 100 Entries (Preview)")); });
  p.step(164, [&] { listView3_->setColumnWidthTwips(8500); });
  p.step(166, [&] { listView4_->addColumn(QStringLiteral("Results")); });
  p.step(168, [&] { listView4_->setColumnWidthTwips(8500); });

  if (p.when(170, [&] { return listView1_->count() > 0; })) {
    p.step(170, [&] { ListView1_Click(); });
  }
}

// The run and the export let the window handle events during their pauses, so a press of
// either button could start a second one inside the first; while one is going, a press does
// nothing.
class Form2::WorkGuard {
 public:
  explicit WorkGuard(bool& busy) : busy_(busy) { busy_ = true; }
  ~WorkGuard() { busy_ = false; }
  WorkGuard(const WorkGuard&) = delete;
  WorkGuard& operator=(const WorkGuard&) = delete;

 private:
  bool& busy_;
};

void Form2::PushButton1_Click() {
  if (working_) return;
  WorkGuard guard(working_);
  Form2Workspace workspace(*this, windows_);
  procedures::RunExtraction(workspace, windows_.prompts(), windows_.clock());
}

void Form2::PushButton2_Click() {
  if (working_) return;
  WorkGuard guard(working_);
  Form2Workspace workspace(*this, windows_);
  procedures::ExportResults(workspace, windows_.prompts(), windows_.clock());
}

void Form2::PushButton5_Click() {
  if (working_) return;
  steps::Procedure p(windows_.prompts(), "Form2.PushButton5_Click");
  p.step(100, [&] { windows_.form1().show(); });
  p.step(102, [&] { hide(); });
}

void Form2::processEvents() { QCoreApplication::processEvents(); }

void Form2::closeEvent(QCloseEvent* event) {
  event->accept();
  windows_.endProgram();
}

}  // namespace screens
