// How fast the extraction criteria test values: generates a few million short business values
// in memory (names, cities, codes, amounts, e-mail addresses, phone numbers; about one in four
// with accented letters, a few with tabs and line breaks), tests them with every criterion and
// prints values per second of CPU time, the ratio to a plain memchr "contains space" loop over
// the same values, and whether the goal of 20 million values a second holds. "M/s run" is the
// speed when the criterion text is looked up again for every value, as the extraction run does.
//
// Usage: criteria_bench [value count, default 4000000] [user characters, default "an"]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <time.h>

#include "extract/criteria.h"

namespace {

constexpr double kGoalPerSecond = 20e6;
constexpr int kPasses = 5;  // the best of these is reported

std::vector<std::string> MakeValues(std::size_t count) {
  static const char* const kFirst[] = {"Anna", "John", "Maria",  "Peter", "Chloé",    "José",
                                       "Emma", "Ben",  "Łukasz", "Sarah", "Mary-Ann", "Dave"};
  static const char* const kLast[] = {"Smith",  "Jones", "O'Brien", "Müller", "García",
                                      "Dvořák", "Brown", "Nguyen",  "Taylor", "Wilson"};
  static const char* const kCities[] = {
      "London", "New York",          "Zürich", "São Paulo", "Leeds", "Málaga", "Kraków", "Paris",
      "Oslo",   "Frankfurt am Main", "Dublin", "Boston",    "Århus", "Madrid"};
  std::mt19937_64 rng(20210831);
  auto pick = [&rng](const auto& list) { return std::string(list[rng() % std::size(list)]); };
  auto digits = [&rng](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(char('0' + rng() % 10));
    return s;
  };
  std::vector<std::string> values;
  values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    switch (rng() % 10) {
      case 0:
      case 1:
        values.push_back(pick(kFirst) + " " + pick(kLast));
        break;
      case 2:
        values.push_back(pick(kCities));
        break;
      case 3:
        values.push_back("AB-" + digits(4));
        break;
      case 4:
        values.push_back(digits(3) + "." + digits(2));
        break;
      case 5:
        values.push_back(digits(6));
        break;
      case 6:
        values.push_back(pick(kLast) + "." + digits(2) + "@example.com");
        break;
      case 7:
        values.push_back("+44 20 " + digits(4) + " " + digits(4));
        break;
      case 8:
        values.push_back(digits(2) + " High St\r\n" + pick(kCities));
        break;
      default:
        values.push_back(pick(kLast) + (rng() % 2 ? "\t" : "") + pick(kFirst));
        break;
    }
  }
  return values;
}

// CPU time of this thread, so that other work on a busy machine does not count against us.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <typename Test>
double ValuesPerSecond(const std::vector<std::string>& values, std::size_t& hits, Test test) {
  double best = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    std::size_t count = 0;
    const double start = CpuSeconds();
    for (const std::string& v : values) count += test(std::string_view(v)) ? 1 : 0;
    const double took = CpuSeconds() - start;
    best = std::max(best, double(values.size()) / took);
    hits = count;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4000000;
  const std::string userChars = argc > 2 ? argv[2] : "an";
  const std::vector<std::string> values = MakeValues(count);
  std::size_t bytes = 0, nonAscii = 0;
  for (const std::string& v : values) {
    bytes += v.size();
    nonAscii += std::any_of(v.begin(), v.end(), [](char c) { return (unsigned char)c >= 0x80; });
  }
  std::printf(
      "%zu values, %.1f bytes on average, %.1f%% with non-ASCII characters; "
      "user characters \"%s\"\n\n",
      values.size(), double(bytes) / values.size(), 100.0 * nonAscii / values.size(),
      userChars.c_str());

  std::size_t hits = 0;
  const double baseline = ValuesPerSecond(values, hits, [](std::string_view v) {
    return !v.empty() && std::memchr(v.data(), ' ', v.size()) != nullptr;
  });
  std::printf("%-55s %8s %9s %8s %8s %6s\n", "criterion", "matches", "M/s", "x base", "M/s run",
              "goal");
  std::printf("%-55s %8zu %9.1f %8.2f %8s %6s\n", "(baseline: memchr for a space)", hits,
              baseline / 1e6, 1.0, "", "");

  double slowest = 1e300, slowestRun = 1e300;
  for (std::size_t i = 0; i < extract::kCriterionCount; ++i) {
    const std::string_view text = extract::kCriterionTexts[i];
    const extract::Matcher matcher = extract::Matcher::ForText(text, userChars);
    const double direct =
        ValuesPerSecond(values, hits, [&](std::string_view v) { return matcher.matches(v); });
    // As the run does it: the criterion text is looked up again for every value.
    std::size_t runHits = 0;
    const double run = ValuesPerSecond(values, runHits, [&](std::string_view v) {
      const auto c = extract::CriterionFromText(text);
      return c && matcher.matches(*c, v);
    });
    if (runHits != hits) {
      std::fprintf(stderr, "mismatch for \"%s\": %zu against %zu\n", text.data(), runHits, hits);
      return 1;
    }
    slowest = std::min(slowest, direct);
    slowestRun = std::min(slowestRun, run);
    std::printf("%2zu %-52s %8zu %9.1f %8.2f %8.1f %6s\n", i + 1, text.data(), hits, direct / 1e6,
                direct / baseline, run / 1e6,
                std::min(direct, run) >= kGoalPerSecond ? "ok" : "MISSED");
  }
  // The plain free function, which looks up the criterion and its kept matcher at every call.
  const double plain = ValuesPerSecond(values, hits, [&](std::string_view v) {
    return extract::CriterionMatches(v, extract::kCriterionTexts[0], userChars);
  });
  std::printf("%-55s %8zu %9.1f %8.2f\n", " 1 through CriterionMatches", hits, plain / 1e6,
              plain / baseline);
  std::printf(
      "\nslowest criterion: %.1f M values/s (%.1f M/s with the lookup per value); "
      "goal %.0f M/s %s\n",
      slowest / 1e6, slowestRun / 1e6, kGoalPerSecond / 1e6,
      std::min(slowest, slowestRun) >= kGoalPerSecond ? "holds" : "NOT met");
  return 0;
}
