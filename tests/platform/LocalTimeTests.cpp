// The creation date: format, zone offset and the reproducible clock.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/LocalTime.h"

namespace {

std::tm Example() {
  std::tm t{};
  t.tm_year = 107;
  t.tm_mon = 0;
  t.tm_mday = 15;
  t.tm_hour = 9;
  t.tm_min = 30;
  return t;
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name(name) {
    if (const char* old = std::getenv(name)) previous = old, hadPrevious = true;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (hadPrevious) {
      setenv(name, previous.c_str(), 1);
    } else {
      unsetenv(name);
    }
    tzset();
  }

 private:
  const char* name;
  std::string previous;
  bool hadPrevious = false;
};

}  // namespace

TEST(LocalTime, FormatsTheOffsetFromTheStandardTimeBias) {
  const struct {
    std::optional<long> bias;
    const char* text;
  } cases[] = {
      {-60, "D:20070115093000+01'00'"}, {300, "D:20070115093000-05'00'"},
      {0, "D:20070115093000+00'00'"},   {-330, "D:20070115093000+05'30'"},
      {570, "D:20070115093000-09'30'"}, {std::nullopt, "D:20070115093000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatPdfDate(Example(), c.bias), c.text);
  }
}

TEST(LocalTime, SourceDateEpochReplacesNowAndTheZoneGivesTheOffset) {
  ScopedEnv epoch("SOURCE_DATE_EPOCH", "1168849800");  // 2007-01-15 08:30:00 UTC
  {
    ScopedEnv zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(CreationDateText(), "D:20070115093000+01'00'");
  }
  {
    ScopedEnv zone("TZ", "EST5EDT");
    EXPECT_EQ(CreationDateText(), "D:20070115033000-05'00'");
  }
  {
    ScopedEnv zone("TZ", "IST-5:30");
    EXPECT_EQ(CreationDateText(), "D:20070115140000+05'30'");
  }
}

TEST(LocalTime, SummerDatesKeepTheStandardOffset) {
  ScopedEnv epoch("SOURCE_DATE_EPOCH", "1184488200");  // 2007-07-15 08:30:00 UTC
  ScopedEnv zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(CreationDateText(), "D:20070715103000+01'00'");
}

TEST(LocalTime, IgnoresASourceDateEpochThatIsNotAnInteger) {
  ScopedEnv epoch("SOURCE_DATE_EPOCH", "yesterday");
  const std::time_t before = std::time(nullptr);
  EXPECT_GE(CurrentTime(), before);
}
