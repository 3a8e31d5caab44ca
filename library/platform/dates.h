// Dates as the system's texts write them: the day first, DD/MM/YYYY, with the time of day as
// HH:MM:SS (24-hour) after a blank. Certificate reports, the certificate chooser, trust
// reports, the command and the general form of automation dates all write them here.
#pragma once

#include <ctime>
#include <string>

namespace vellum::platform {

// A calendar date and time of day, in whatever zone the caller took it from.
struct CivilTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

enum class DateForm {
  kDate,      // DD/MM/YYYY
  kDateTime,  // DD/MM/YYYY HH:MM:SS
  kGeneral,   // the automation general form: as kDateTime, the date alone at midnight
};

std::string FormatDate(const CivilTime& time, DateForm form);

// The local calendar time of a moment; raises run-time error 6 (Overflow) when the calendar
// cannot hold it.
CivilTime LocalCivilTime(std::time_t when);

// A moment in local time, DD/MM/YYYY HH:MM:SS unless `form` says otherwise.
std::string FormatLocalTime(std::time_t when, DateForm form = DateForm::kDateTime);

}  // namespace vellum::platform
