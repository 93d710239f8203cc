#include "screens/windows.h"

#include <QCoreApplication>
#include <utility>

#include "db/catalog.h"
#include "db/connection_string.h"
#include "screens/form1.h"
#include "screens/form2.h"

namespace screens {

Windows::Windows(steps::Prompts& prompts, app::Settings& settings, WindowsOptions options)
    : prompts_(prompts), settings_(settings), options_(std::move(options)) {
  if (!options_.clock) options_.clock = std::make_shared<steps::SystemClock>();
  form1_ = std::make_unique<Form1>(*this);
}

Windows::~Windows() {
  // The workspace refers to the selection window's boxes; it goes first.
  form2_.reset();
  form1_.reset();
}

Form2& Windows::form2() {
  if (!form2_) {
    form2_ = std::make_unique<Form2>(*this);
    form2_->Form_Load();
  }
  return *form2_;
}

void Windows::FillTableList() {
  auto names = db::GetTableNames(form1_->path(), connectionString());
  if (!names) return;
  form2().browser().fillTables(*names);
}

std::string Windows::connectionString() const {
  return db::BuildConnectionString(form1_->path(), form1_->password());
}

void Windows::endProgram() {
  ending_ = true;
  if (options_.endProgram) {
    options_.endProgram();
  } else {
    QCoreApplication::exit(0);
  }
}

}  // namespace screens
