// Loading and reading an INI document of many sections: the time per section should stay
// flat as the count grows (it grew with the count when lookups scanned every section).
#include <chrono>
#include <cstdio>

#include "library/IniFile.h"

using namespace zel;

int main() {
  std::printf("%10s %12s %12s %14s\n", "sections", "load ms", "lookup ms", "us/section");
  for (int count : {1000, 10000, 100000, 200000, 400000}) {
    String text;
    for (int i = 0; i < count; ++i) text += u"[Section" + IntToStr(i) + u"]\r\nKey=" + IntToStr(i) + u"\r\n";
    const auto start = std::chrono::steady_clock::now();
    TZELIniFile ini;
    ini.LoadFromText(text);
    const auto loaded = std::chrono::steady_clock::now();
    size_t found = 0;
    for (int i = 0; i < count; ++i) found += !ini.ReadString(u"SECTION" + IntToStr(i), u"key", u"").empty();
    const auto read = std::chrono::steady_clock::now();
    if (found != static_cast<size_t>(count)) return 1;
    const double loadMs = std::chrono::duration<double, std::milli>(loaded - start).count();
    const double readMs = std::chrono::duration<double, std::milli>(read - loaded).count();
    std::printf("%10d %12.1f %12.1f %14.3f\n", count, loadMs, readMs, (loadMs + readMs) * 1000.0 / count);
  }
  return 0;
}
