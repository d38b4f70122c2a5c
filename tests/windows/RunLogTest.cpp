#include "core/RunLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "HelperProcess.h"
#include "TestLinks.h"
#include "TestSupport.h"

namespace kivo {
namespace {

using zel::String;

std::vector<std::string> FileLines(zel::StringView path) {
  const auto bytes = test::ReadAll(path);
  const std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(text.size(), start) << "the file does not end with CR LF";
  return lines;
}

const std::regex Entry(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (.*)$)");

std::string TextOf(const std::string& line) {
  std::smatch match;
  if (!std::regex_match(line, match, Entry)) return "<no timestamp: " + line + ">";
  return match[1];
}

TEST(RunLogTest, EntriesAreTimestampedUtf8LinesAndAppend) {
  const String path = test::ScratchDir(u"runlog-entries") + u"\\run.log";
  test::WriteAll(path, test::Bytes("earlier run\r\n"));
  {
    TRunLog log;
    ASSERT_TRUE(log.Open(path));
    EXPECT_TRUE(log.IsOpen());
    log.Log(u"Installing into C:\\Program Files (x86)\\KIVO\\");
    log.Log(u"Ünïcödé: Привет, 日本");
    log.Log(u"");
    log.Log(u"Errors:\r\nfirst\nsecond\r\n");
    log.Log(u"a\r\n\r\nb");
  }
  const auto lines = FileLines(path);
  const std::vector<std::string> expected = {
      "earlier run",
      "Installing into C:\\Program Files (x86)\\KIVO\\",
      "Ünïcödé: Привет, 日本",
      "",
      "Errors:",
      std::string(25, ' ') + "first",
      std::string(25, ' ') + "second",
      "a",
      std::string(25, ' '),
      std::string(25, ' ') + "b",
  };
  ASSERT_EQ(expected.size(), lines.size());
  EXPECT_EQ(expected[0], lines[0]);
  for (size_t i = 1; i < lines.size(); ++i) {
    const bool continuation = lines[i].starts_with("  ");
    EXPECT_EQ(expected[i], continuation ? lines[i] : TextOf(lines[i])) << "line " << i;
  }
}

TEST(RunLogTest, ImpossiblePathsLeaveTheLogClosedWithoutThrowing) {
  const String missingFolder = test::ScratchDir(u"runlog-impossible") + u"\\no\\such\\folder\\run.log";
  for (const String& path : {missingFolder, String(u"C:\\bad<name>|.log"), String(u"")}) {
    SCOPED_TRACE(zel::ToUtf8(path));
    TRunLog log;
    EXPECT_FALSE(log.Open(path));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NO_THROW(log.Log(u"dropped"));
  }
  EXPECT_FALSE(test::FileExists(missingFolder));
}

TEST(RunLogTest, OpenFromCommandLine) {
  const String dir = test::ScratchDir(u"runlog-switch");
  const String named = dir + u"\\with space\\setup.log";
  ::CreateDirectoryW(zel::as_wcstr(dir + u"\\with space"), nullptr);
  struct TCase {
    String Params;
    String Expected;  // "*" for the default name in the temporary folder
  };
  const TCase cases[] = {
      {u"", u""},
      {u"/AUTO /SILENT", u""},
      {u"/AUTO /LOG=\"" + named + u"\" /SILENT", named},
      {u"/log=\"" + named + u"\"", named},
      {u"/AUTO /LOG", u"*"},
      {u"/LOG= /AUTO", u"*"},
      {u"/LOG=\"" + dir + u"\\missing\\x.log\"", u""},
  };
  const std::wregex defaultName(LR"(KIVO Setup \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.log)");
  for (const TCase& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.Params));
    TRunLog log;
    const String used = log.OpenFromCommandLine(c.Params);
    EXPECT_EQ(!used.empty(), log.IsOpen());
    if (c.Expected == u"*") {
      const String name = zel::ExtractFileName(used);
      EXPECT_TRUE(std::regex_match(std::wstring(name.begin(), name.end()), defaultName)) << zel::ToUtf8(used);
      EXPECT_TRUE(zel::SameText(zel::ExtractFilePath(used), zel::ExtractFilePath(TRunLog::DefaultPath())));
      log.Close();
      ::DeleteFileW(zel::as_wcstr(used));
    } else {
      EXPECT_EQ(c.Expected, used);
    }
  }
}

TEST(RunLogTest, NothingPlantedUnderTheLogsNameIsFollowed) {
  const String dir = test::ScratchDir(u"runlog-planted");
  const String victim = dir + u"\\victim.txt";
  test::WriteAll(victim, test::Bytes("victim"));
  const auto victimUnchanged = [&] {
    const auto bytes = test::ReadAll(victim);
    return std::string(bytes.begin(), bytes.end()) == "victim";
  };
  // A link to the victim, another name of it, a link whose target does not exist yet,
  // and a folder: none is opened, nothing is created or appended to.
  const String gone = dir + u"\\created-through-the-link.txt";
  test::WriteAll(gone, test::Bytes("x"));
  ASSERT_TRUE(test::MakeLink(dir + u"\\dangling.log", gone, false));
  ::DeleteFileW(zel::as_wcstr(gone));
  ASSERT_TRUE(test::MakeLink(dir + u"\\link.log", victim, false));
  ASSERT_TRUE(::CreateHardLinkW(zel::as_wcstr(dir + u"\\hard.log"), zel::as_wcstr(victim), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(dir + u"\\folder.log"), nullptr));
  for (const char16_t* name : {u"link.log", u"hard.log", u"dangling.log", u"folder.log"}) {
    SCOPED_TRACE(zel::ToUtf8(name));
    TRunLog log;
    EXPECT_FALSE(log.Open(dir + u"\\" + name));
    EXPECT_FALSE(log.IsOpen());
    log.Log(u"must go nowhere");
  }
  EXPECT_TRUE(victimUnchanged());
  EXPECT_FALSE(test::FileExists(gone));
  {
    TRunLog log;
    ASSERT_TRUE(log.Open(dir + u"\\plain.log"));  // a new file, and one that exists
    log.Close();
    ASSERT_TRUE(log.Open(dir + u"\\plain.log"));
  }

  // "/LOG" alone: the coming name is taken by a link, so the next name is used. The
  // name changes every second: plant again until the setup's name was the planted one.
  wchar_t saved[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  ::SetEnvironmentVariableW(L"TMP", zel::as_wcstr(dir));
  bool tried = false;
  for (int attempt = 0; attempt < 20 && !tried; ++attempt) {
    const String planned = TRunLog::DefaultPath();
    if (!test::FileExists(planned)) ASSERT_TRUE(test::MakeLink(planned, victim, false));
    TRunLog log;
    const String used = log.OpenFromCommandLine(u"/AUTO /LOG /SILENT");
    if (planned != TRunLog::DefaultPath()) continue;  // a second went by: plant again
    tried = true;
    EXPECT_EQ(zel::ChangeFileExt(planned, u"") + u" (2).log", used);
    log.Log(u"entry");
  }
  EXPECT_TRUE(tried);
  EXPECT_TRUE(victimUnchanged());
  ::SetEnvironmentVariableW(L"TMP", saved[0] ? saved : nullptr);
  test::RemoveLinkedTree(dir);
}

TEST(RunLogTest, ConcurrentWritersNeverInterleave) {
  const String path = test::ScratchDir(u"runlog-threads") + u"\\run.log";
  // Two logs on one file, as the relay and its elevated copy have, and threads on each.
  TRunLog first, second;
  ASSERT_TRUE(first.Open(path));
  ASSERT_TRUE(second.Open(path));
  constexpr int Threads = 4, PerThread = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([&, t] {
      TRunLog& log = t % 2 ? second : first;
      for (int i = 0; i < PerThread; ++i) log.Log(zel::Format(u"thread %d entry %d\r\ncontinued", t, i));
    });
  for (auto& thread : threads) thread.join();
  first.Close();
  second.Close();

  const auto lines = FileLines(path);
  ASSERT_EQ(size_t(Threads * PerThread * 2), lines.size());
  std::vector<int> next(Threads, 0);
  for (size_t i = 0; i < lines.size(); i += 2) {
    const std::string text = TextOf(lines[i]);
    int t = -1, n = -1;
    ASSERT_EQ(2, std::sscanf(text.c_str(), "thread %d entry %d", &t, &n)) << text;
    ASSERT_TRUE(t >= 0 && t < Threads);
    EXPECT_EQ(next[t]++, n);  // each thread's entries in order, none lost
    EXPECT_EQ(std::string(25, ' ') + "continued", lines[i + 1]);
  }
}

}  // namespace
}  // namespace kivo
