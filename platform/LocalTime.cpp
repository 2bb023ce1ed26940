#include "platform/LocalTime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

std::time_t CurrentTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    char* end = nullptr;
    errno = 0;
    long long seconds = std::strtoll(epoch, &end, 10);
    if (errno == 0 && end && *end == '\0' && seconds >= 0) {
      return static_cast<std::time_t>(seconds);
    }
  }
  return std::time(nullptr);
}

std::optional<long> StandardTimeBias() {
  tzset();
  // timezone is the standard-time offset in seconds west of Greenwich; tzset falls back to
  // UTC when the zone cannot be found, so it always gives an answer here.
  return static_cast<long>(timezone / 60);
}

std::string FormatPdfDate(const std::tm& local, std::optional<long> biasMinutes) {
  char text[160];
  const long year = local.tm_year + 1900L, month = local.tm_mon + 1L;
  if (!biasMinutes) {
    std::snprintf(text, sizeof text, "D:%04ld%02ld%02ld%02ld%02ld%02ld", year, month,
                  static_cast<long>(local.tm_mday), static_cast<long>(local.tm_hour),
                  static_cast<long>(local.tm_min), static_cast<long>(local.tm_sec));
    return text;
  }
  long bias = *biasMinutes;
  const char* sign = "-";
  if (bias <= 0) {
    sign = "+";
    bias = -bias;
  }
  std::snprintf(text, sizeof text, "D:%04ld%02ld%02ld%02ld%02ld%02ld%s%02ld'%02ld'", year, month,
                static_cast<long>(local.tm_mday), static_cast<long>(local.tm_hour),
                static_cast<long>(local.tm_min), static_cast<long>(local.tm_sec), sign, bias / 60,
                bias % 60);
  return text;
}

std::string CreationDateText() {
  const std::time_t now = CurrentTime();
  std::optional<long> bias = StandardTimeBias();
  std::tm local{};
  if (!localtime_r(&now, &local)) {
    gmtime_r(&now, &local);
    bias = 0;
  }
  return FormatPdfDate(local, bias);
}
