#include "screens/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <optional>
#include <vector>

#include "app/look.h"
#include "steps/procedure.h"
#include "app/program.h"
#include "app/settings.h"
#include "app/startup.h"
#include "db/catalog.h"
#include "screens/form2.h"
#include "screens/select_all_edit.h"
#include "screens/twips.h"
#include "screens/window_frame.h"
#include "screens/windows.h"

namespace screens {
namespace {

constexpr double kWindowPoints = 9;
constexpr double kButtonPoints = 11.25;

constexpr const char* kDialogTitle = "Select Access Database";
// The Access entries first (the first one is the dialog's choice when it opens), then the
// SQLite files the program opens too, and every file.
constexpr const char* kDialogFilter =
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|"
    "SQLite Database (*.sqlite,*.sqlite3,*.db)|*.sqlite;*.sqlite3;*.db;*.db3|"
    "All Files (*.*)|*|";
// Read-only box ticked, explorer style, long file names.
constexpr long kDialogFlags = 2621441;

// Masks every character of a password box with "*", whatever the platform's own mark is.
class StarPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setFont(ArialFont(kButtonPoints, true));
  button->setFocusPolicy(Qt::StrongFocus);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setFont(ArialFont(kWindowPoints, true));
  SetWhiteBackground(*label);
  return label;
}

// The folder of `path` when it names one that exists, else the empty text.
std::string ExistingFolderOf(const std::string& path) {
  if (path.empty()) return {};
  const QString folder = QFileInfo(QString::fromStdString(path)).absolutePath();
  return QFileInfo(folder).isDir() ? folder.toStdString() : std::string();
}

QLineEdit* MakeTextBox(QWidget* parent, const char* name) {
  auto* box = new SelectAllEdit(parent);
  box->setObjectName(name);
  box->setFont(ArialFont(kWindowPoints, true));
  return box;
}

}  // namespace

// The start-up sequence's view of this window.
class Form1::Startup : public app::StartupWindow {
 public:
  explicit Startup(Form1& form) : f_(form) {}
  void setCaption(const std::string& caption) override {
    f_.setWindowTitle(QString::fromStdString(caption));
  }
  void setProgramIcon() override { f_.setWindowIcon(QApplication::windowIcon()); }
  void loadPointerImage(const std::string& path) override { f_.pointer_.loadImage(path); }
  void setPath(const std::string& text) override {
    f_.text1_->setText(QString::fromStdString(text));
  }
  void setPassword(const std::string& text) override {
    f_.text2_->setText(QString::fromStdString(text));
  }
  std::string path() const override { return f_.path(); }
  void next() override { f_.PushButton2_Click(); }
  bool workspaceShown() const override {
    return f_.windows_.form2Created() && f_.windows_.form2().isVisible();
  }
  void show() override {
    CentreOnScreen(f_);
    f_.show();
  }

 private:
  Form1& f_;
};

Form1::Form1(Windows& windows) : QWidget(nullptr), windows_(windows), pointer_(this) {
  setObjectName("Form1");
  SetFixedFrame(*this, 8040, 2085);
  setFont(ArialFont(kWindowPoints, false));
  SetWhiteBackground(*this);
  createControls();
  new app::HoverPointer(*this, pointer_);
  CentreOnScreen(*this);
}

Form1::~Form1() = default;

void Form1::createControls() {
  frame1_ = new QGroupBox(QStringLiteral("Access Database"), this);
  frame1_->setObjectName("Frame1");
  frame1_->setFont(ArialFont(kWindowPoints, true));
  frame1_->setGeometry(TwipsRect(120, 120, 7800, 1335));
  SetWhiteBackground(*frame1_);

  // Places inside the frame are relative to the frame.
  label5_ = MakeLabel(frame1_, "Label5", QStringLiteral("MDB or ACCDB File:"));
  label5_->setGeometry(TwipsRect(240, 345, 1935, 255));
  text1_ = MakeTextBox(frame1_, "Text1");
  text1_->setGeometry(TwipsRect(2280, 300, 4695, 345));
  pushButton1_ = MakeButton(frame1_, "PushButton1", QStringLiteral("..."));
  pushButton1_->setGeometry(TwipsRect(7080, 300, 450, 345));
  lblPassword_ = MakeLabel(frame1_, "lblPassword", QStringLiteral("Password (if required):"));
  lblPassword_->setGeometry(TwipsRect(240, 840, 1950, 225));
  text2_ = MakeTextBox(frame1_, "Text2");
  text2_->setGeometry(TwipsRect(2280, 800, 5265, 345));
  auto* stars = new StarPasswordStyle;
  stars->setParent(text2_);
  text2_->setStyle(stars);
  text2_->setEchoMode(QLineEdit::Password);

  pushButton3_ = MakeButton(this, "PushButton3", QStringLiteral("Load Sample/Example Database"));
  pushButton3_->setGeometry(TwipsRect(120, 1580, 3840, 405));
  pushButton2_ = MakeButton(this, "PushButton2", QStringLiteral("Next >"));
  pushButton2_->setGeometry(TwipsRect(4080, 1580, 3840, 405));

  setTabOrder(text1_, pushButton2_);
  setTabOrder(pushButton2_, text2_);
  setTabOrder(text2_, pushButton1_);
  setTabOrder(pushButton1_, pushButton3_);
  text1_->setFocus(Qt::OtherFocusReason);

  connect(pushButton1_, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(pushButton2_, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(pushButton3_, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(text1_, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
  connect(text2_, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
}

bool Form1::Form_Load() {
  Startup startup(*this);
  app::StartupHooks hooks = windows_.options().startup;
  if (windows_.options().applySkin)
    hooks.applySkin = [this] { windows_.options().applySkin(*this); };
  return app::RunStartup(startup, windows_.settings(), windows_.prompts(), hooks);
}

void Form1::PushButton1_Click() {
  steps::Procedure p(windows_.prompts(), "Form1.PushButton1_Click");
  steps::FileDialogRequest request;
  p.step(100, [&] {
    request.fileName.clear();
    // The dialog opens where the database in the path box is.
    request.folder = ExistingFolderOf(path());
  });
  p.step(102, [&] { request.flags = kDialogFlags; });
  p.step(104, [&] { request.title = kDialogTitle; });
  p.step(106, [&] { request.filter = kDialogFilter; });
  p.step(108, [&] { request.fileName = windows_.prompts().openFileDialog(request); });
  if (p.when(110, [&] { return !request.fileName.empty(); })) {
    p.step(112, [&] { text1_->setText(QString::fromStdString(request.fileName)); });
  }
}

void Form1::PushButton2_Click() {
  steps::Procedure p(windows_.prompts(), "Form1.PushButton2_Click");
  std::optional<std::vector<std::string>> names;
  p.step(100, [&] { names = db::GetTableNames(path(), windows_.connectionString()); });
  if (p.when(102, [&] { return !names.has_value(); })) {
    p.step(104, [&] { names.reset(); });
    return;
  }
  p.step(106, [&] { windows_.FillTableList(); });
  p.step(108, [&] { windows_.form2().show(); });
  p.step(110, [&] { hide(); });
}

void Form1::PushButton3_Click() {
  steps::Procedure p(windows_.prompts(), "Form1.PushButton3_Click");
  p.step(100, [&] { text1_->setText(QString::fromStdString(app::SampleDatabasePath())); });
}

// A settings store that cannot be written is reported rather than left to end the program
// from inside a keystroke.
void Form1::Text1_Change() {
  steps::Procedure p(windows_.prompts(), "Form1.Text1_Change");
  p.step(100, [&] { windows_.settings().save(app::setting::kDatabasePath, path()); });
}

void Form1::Text2_Change() {
  steps::Procedure p(windows_.prompts(), "Form1.Text2_Change");
  p.step(100, [&] { windows_.settings().save(app::setting::kPassword, password()); });
}

std::string Form1::path() const { return text1_->text().toStdString(); }

std::string Form1::password() const { return text2_->text().toStdString(); }

void Form1::closeEvent(QCloseEvent* event) {
  event->accept();
  windows_.endProgram();
}

}  // namespace screens
