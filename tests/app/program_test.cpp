#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>

#include "app/program.h"
#include "steps/prompts.h"

namespace {

TEST(ShortenTitle, CutsBeforeTheLastSpaceWhileLongerThanForty) {
  EXPECT_EQ(app::ShortenTitle("Rowsifter"), "Rowsifter");
  const std::string forty = "Rowsifter distinct values extraction ok";  // 39
  EXPECT_EQ(app::ShortenTitle(forty + "!"), forty + "!");               // exactly 40: kept
  EXPECT_EQ(app::ShortenTitle(forty + "!!"), "Rowsifter distinct values extraction");
  // Several cuts until it fits; trailing spaces go with the cut.
  EXPECT_EQ(app::ShortenTitle("Rowsifter for Access databases and SQLite files too"),
            "Rowsifter for Access databases and");
  EXPECT_EQ(app::ShortenTitle("Rowsifter extracts the distinct values of a field  "),
            "Rowsifter extracts the distinct values");
  EXPECT_EQ(app::ShortenTitle(""), "");
}

TEST(ShortenTitle, CountsCharactersNotBytes) {
  std::string accents;
  for (int i = 0; i < 40; ++i) accents += "\xC3\xA9";  // 40 x e-acute, 80 bytes
  EXPECT_EQ(app::ShortenTitle(accents), accents);
  EXPECT_EQ(app::ShortenTitle(accents + " x"), accents);
}

TEST(ShortenTitle, ALongTitleWithoutSpacesIsCutAtForty) {
  const std::string word(55, 'w');
  EXPECT_EQ(app::ShortenTitle(word), std::string(40, 'w'));
  std::string accents;
  for (int i = 0; i < 45; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(app::ShortenTitle(accents), accents.substr(0, 80));
  EXPECT_EQ(app::ShortenTitle("a " + word), "a");
}

TEST(ApplicationTitle, IsTheProductNameAndBecomesTheApplicationName) {
  EXPECT_EQ(app::ApplicationTitle(), "Rowsifter");
  const QString before = QCoreApplication::applicationName();
  app::SetApplicationTitle();
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Rowsifter"));
  QCoreApplication::setApplicationName(before);
}

TEST(ProgramFolder, IsTheExecutablesFolderWithTheFixedNamesBesideIt) {
  const std::string folder = app::ProgramFolder();
  const auto exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(std::filesystem::canonical(folder), std::filesystem::canonical(exe.parent_path()));
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_EQ(app::HandPointerPath(), folder + "/HAND-M.CUR");
  EXPECT_EQ(app::SkinPath(), folder + "/x/o.cjs");
  EXPECT_EQ(app::SampleDatabasePath(), folder + "/Samples/sample.mdb");
}

}  // namespace
