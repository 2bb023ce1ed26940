#pragma once

#include <ctime>
#include <optional>
#include <string>

// The one clock of the program: the current time, or the time given by the environment
// variable SOURCE_DATE_EPOCH (whole seconds since 1970) when it holds an integer, so that
// the same input can be converted into the same bytes.
std::time_t CurrentTime();

// The standard-time offset of the local zone in minutes, in the sense UTC = local time + bias
// (so zones east of Greenwich are negative). Daylight saving is not added. Empty when the zone
// is unknown.
std::optional<long> StandardTimeBias();

// A PDF date "D:YYYYMMDDHHmmSS" followed, when a bias is given, by the offset "+HH'mm'" or
// "-HH'mm'" (a bias of 0 is "+00'00'").
std::string FormatPdfDate(const std::tm& local, std::optional<long> biasMinutes);

// The creation date of a file saved now: CurrentTime() in local time with the standard-time
// offset of the local zone.
std::string CreationDateText();
