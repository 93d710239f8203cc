#include "app/program.h"

#include <QCoreApplication>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace app {
namespace {

// Appends a fixed name ("/x/o.cjs") to the program folder without doubling the separator when
// the folder is the root.
std::string BesideProgram(const char* name) {
  std::string folder = ProgramFolder();
  if (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder + name;
}

}  // namespace

std::string ProgramFolder() {
  if (QCoreApplication::instance() != nullptr)
    return QCoreApplication::applicationDirPath().toStdString();
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::runtime_error("Cannot find the program's folder: " + ec.message());
  std::string folder = exe.parent_path().string();
  return folder.empty() ? "/" : folder;
}

std::string HandPointerPath() { return BesideProgram("/HAND-M.CUR"); }
std::string SkinPath() { return BesideProgram("/x/o.cjs"); }
std::string SampleDatabasePath() { return BesideProgram("/Samples/sample.mdb"); }

}  // namespace app
