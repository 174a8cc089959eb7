#include "platform/win32/clock_win32.h"

#include "platform/win32/windows_api.h"

namespace kvx {

bool Win32Clock::LocalNow(std::tm& out) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  out = std::tm();
  out.tm_year = t.wYear - 1900;
  out.tm_mon = t.wMonth - 1;
  out.tm_mday = t.wDay;
  out.tm_hour = t.wHour;
  out.tm_min = t.wMinute;
  out.tm_sec = t.wSecond;
  out.tm_wday = t.wDayOfWeek;
  out.tm_isdst = -1;
  return true;
}

}  // namespace kvx
