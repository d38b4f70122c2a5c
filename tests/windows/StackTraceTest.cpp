#include "core/StackTrace.h"

#include <gtest/gtest.h>

#include <regex>

namespace kivo {
namespace {

std::vector<std::string> Lines(const zel::String& text) {
  std::vector<std::string> lines;
  for (const zel::String& line : zel::Split(zel::ReplaceAll(text, u"\r\n", u"\n"), u'\n'))
    lines.push_back(zel::ToUtf8(line));
  return lines;
}

__attribute__((noinline)) zel::String CaptureFromProbe(int skip) {
  zel::String text = CaptureStackText(skip);
  asm volatile("");  // keeps the call from becoming a tail call
  return text;
}

TEST(StackTraceTest, OneModuleOffsetLinePerFrame) {
  const zel::String text = CaptureFromProbe(0);
  EXPECT_EQ(zel::String::npos, text.find(u"\r\n\r\n"));
  const auto lines = Lines(text);
  ASSERT_GE(lines.size(), 4u) << zel::ToUtf8(text);
  // The innermost frames are the test's own code.
  EXPECT_EQ(0u, lines[0].find("windows_tests.exe+0x")) << lines[0];
  EXPECT_EQ(0u, lines[1].find("windows_tests.exe+0x")) << lines[1];
  const std::regex frame(R"((?:[^+ ]+\+0x[0-9a-f]{1,8}|0x[0-9a-f]+))");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, frame)) << line;
  // Further out the thread started in the system's modules.
  bool other = false;
  for (const std::string& line : lines) other |= line.find("windows_tests.exe+") != 0;
  EXPECT_TRUE(other) << zel::ToUtf8(text);
}

TEST(StackTraceTest, SkippedFramesLeaveTheTop) {
  const auto all = Lines(CaptureFromProbe(0));
  const auto fewer = Lines(CaptureFromProbe(1));
  ASSERT_LT(all.size(), 62u);
  EXPECT_EQ(all.size() - 1, fewer.size());
  // Below the probe the frames are the same ones, apart from the call site in this test.
  for (size_t i = 2; i < fewer.size(); ++i) EXPECT_EQ(all[i + 1], fewer[i]);
  EXPECT_EQ(all.size(), Lines(CaptureFromProbe(-5)).size());
}

}  // namespace
}  // namespace kivo
