#include "app/program.h"

#include <QCoreApplication>
#include <QString>
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

namespace {

constexpr std::size_t kMaxTitleLength = 40;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length in characters of a UTF-8 text.
std::size_t CharacterCount(const std::string& text) {
  std::size_t n = 0;
  for (char c : text)
    if (!IsContinuationByte(c)) ++n;
  return n;
}

// Byte offset of the character with the given index (the text's size when past the end).
std::size_t ByteOffsetOfCharacter(const std::string& text, std::size_t index) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (seen == index) return i;
    ++seen;
  }
  return text.size();
}

}  // namespace

std::string ShortenTitle(std::string productName) {
  while (CharacterCount(productName) > kMaxTitleLength) {
    std::size_t space = productName.rfind(' ');
    if (space == std::string::npos) {
      // One long word: there is nothing left to cut at, so cut at the limit itself.
      productName.resize(ByteOffsetOfCharacter(productName, kMaxTitleLength));
      break;
    }
    productName.resize(space);
  }
  return productName;
}

std::string ApplicationTitle() { return ShortenTitle(kProductName); }

void SetApplicationTitle() {
  QCoreApplication::setApplicationName(QString::fromStdString(ApplicationTitle()));
}

}  // namespace app
