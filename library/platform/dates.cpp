#include "library/platform/dates.h"

#include <cstdio>

#include "library/platform/error.h"

namespace vellum::platform {

std::string FormatDate(const CivilTime& t, DateForm form) {
  char text[64];
  const bool with_time =
      form == DateForm::kDateTime ||
      (form == DateForm::kGeneral && (t.hour != 0 || t.minute != 0 || t.second != 0));
  if (with_time)
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second);
  else
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", t.day, t.month, t.year);
  return text;
}

CivilTime LocalCivilTime(std::time_t when) {
  std::tm tm{};
  if (localtime_r(&when, &tm) == nullptr) throw Error::Runtime(rt::kOverflow);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string FormatLocalTime(std::time_t when, DateForm form) {
  return FormatDate(LocalCivilTime(when), form);
}

}  // namespace vellum::platform
