// The start-up check that databases can be opened at all.
#include "app/provider_check.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "steps/procedure.h"
#include "db/connection.h"
#include "db/base/error.h"
#include "tests/support/scripted_prompts.h"

namespace {

using testsupport::ScriptedPrompts;

// Creating a connection on a machine where no database engine can be found.
void NoEngine() {
  throw db::Error(db::errc::kNoProvider,
                  "Provider cannot be found. It may not be properly installed.");
}

// The prompts double with a page opener that fails on chosen pages.
class FailingPages : public ScriptedPrompts {
 public:
  std::string failOn;
  bool throws = false;
  bool openUrl(const std::string& url) override {
    ScriptedPrompts::openUrl(url);
    if (url != failOn) return true;
    if (throws) throw std::runtime_error("no handler");
    return false;
  }
};

TEST(ProviderCheck, EnginesPresentPassesSilently) {
  ScriptedPrompts prompts;
  EXPECT_TRUE(app::CheckProvider(prompts));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_TRUE(prompts.openedUrls.empty());
}

TEST(ProviderCheck, MissingEngineAnswerNoOpensNothing) {
  ScriptedPrompts prompts;
  prompts.messageAnswers = {steps::box::kNo};
  EXPECT_FALSE(app::CheckProvider(prompts, NoEngine));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, app::ProviderHelpText());
  EXPECT_EQ(prompts.messages[0].style, steps::box::kYesNo);
  EXPECT_EQ(prompts.messages[0].title, "") << "the application title";
  EXPECT_TRUE(prompts.openedUrls.empty());
}

TEST(ProviderCheck, MissingEngineAnswerYesOpensBothPagesInOrder) {
  ScriptedPrompts prompts;
  prompts.messageAnswers = {steps::box::kYes};
  EXPECT_FALSE(app::CheckProvider(prompts, NoEngine));
  EXPECT_EQ(
      prompts.openedUrls,
      (std::vector<std::string>{"https://www.microsoft.com/en-us/download/details.aspx?id=13255",
                                "https://www.microsoft.com/en-us/download/details.aspx?id=54920"}));
}

TEST(ProviderCheck, FailingFirstPageStillOpensTheSecond) {
  for (bool throws : {false, true}) {
    FailingPages prompts;
    prompts.failOn = app::kEngine2010Page;
    prompts.throws = throws;
    prompts.messageAnswers = {steps::box::kYes};
    EXPECT_FALSE(app::CheckProvider(prompts, NoEngine));
    EXPECT_EQ(prompts.openedUrls.size(), 2u) << "throws " << throws;
  }
}

TEST(ProviderCheck, WhichFailuresCountAsMissingProvider) {
  struct Case {
    std::function<void()> create;
    bool helpShown;
  } cases[] = {
      {[] { throw db::Error(3706, "anything"); }, true},
      {[] { throw db::Error(db::errc::kFailed, "The Provider Cannot Be Found here."); }, true},
      {[] { throw std::runtime_error("PROVIDER CANNOT BE FOUND"); }, true},
      {[] { throw db::Error(db::errc::kFailed, "Out of memory."); }, false},
      {[] { throw 42; }, false},
  };
  for (const auto& c : cases) {
    ScriptedPrompts prompts;
    prompts.defaultNo = true;
    EXPECT_FALSE(app::CheckProvider(prompts, c.create));
    EXPECT_EQ(prompts.messages.size(), c.helpShown ? 1u : 0u);
  }
}

TEST(ProviderCheck, FailingBoxIsSwallowed) {
  struct ThrowingBox : ScriptedPrompts {
    int messageBox(const std::string&, int, const std::string&) override {
      throw std::runtime_error("no display");
    }
  } prompts;
  EXPECT_FALSE(app::CheckProvider(prompts, NoEngine));
  EXPECT_TRUE(prompts.openedUrls.empty());
}

TEST(ProviderCheck, HelpTextParagraphs) {
  const std::string text = app::ProviderHelpText();
  EXPECT_EQ(text.rfind("Error #3706: Provider cannot be found. It may not be properly "
                       "installed.\r\n\r\nYou are getting this error because:\r\n\r\n1. ",
                       0),
            0u);
  const std::string ending = std::string("message to ") + steps::kSupportEmail + ")";
  EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
  // Seven paragraphs, each separated by exactly one empty line.
  int breaks = 0;
  for (std::size_t at = text.find("\r\n\r\n"); at != std::string::npos;
       at = text.find("\r\n\r\n", at + 4))
    ++breaks;
  EXPECT_EQ(breaks, 6);
  EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos);
}

}  // namespace
