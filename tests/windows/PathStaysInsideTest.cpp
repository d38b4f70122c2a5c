// PathStaysInside with the links Wine can make. What was seen under Wine 8.0:
// - CreateSymbolicLinkW returns TRUE and creates nothing; "cmd /c mklink /D" and
//   "mklink /J" exit 0 and create nothing; DeviceIoControl FSCTL_SET_REPARSE_POINT fails
//   with ERROR_NOT_SUPPORTED (50). No Windows call makes a link.
// - A Unix symlink inside the prefix's drive_c is a link to Windows programs: a link to a
//   folder has FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT (0x410), a link
//   to a file only FILE_ATTRIBUTE_ARCHIVE (no reparse flag), and GetFinalPathNameByHandleW
//   on a handle opened through either reports the target ("\\?\C:\probe\target\file.txt").
// - A dangling Unix symlink is "not found" for GetFileAttributesW and CreateFileW, but
//   FindFirstFileW on its name fails with ERROR_NO_MORE_FILES instead of "not found".
// So the links here are Unix symlinks, made by running /bin/ln (Wine starts Unix programs
// through CreateProcessW); on Windows, CreateSymbolicLinkW.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestLinks.h"
#include "TestSupport.h"
#include "library/Strings.h"
#include "platform/Platform.h"

using namespace zel;

namespace {

const wchar_t* W(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

using TUnixName = char*(CDECL*)(const wchar_t*);

TUnixName WineUnixName() {
  return reinterpret_cast<TUnixName>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
}

bool LinkVisible(const String& link) {
  if (::GetFileAttributesW(W(link)) != INVALID_FILE_ATTRIBUTES) return true;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(W(link), &data);
  if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
  return find != INVALID_HANDLE_VALUE || ::GetLastError() == ERROR_NO_MORE_FILES;
}

// Wine's file calls cannot remove a dangling Unix symlink (it is "not found"), so a
// folder holding links is removed on the Unix side.
void RemoveWithLinks(const String& folder) {
  const TUnixName unixName = WineUnixName();
  if (!unixName || ::GetFileAttributesW(W(folder)) == INVALID_FILE_ATTRIBUTES) return;
  char* unixFolder = unixName(W(folder));
  if (!unixFolder) return;
  const String command = u"/bin/rm -rf \"" + FromUtf8(unixFolder) + u"\"";
  ::HeapFree(::GetProcessHeap(), 0, unixFolder);
  if (!kivo::test::StartUnix(L"Z:\\bin\\rm", command)) return;
  for (int i = 0; i < 500 && ::GetFileAttributesW(W(folder)) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(10);
}

// A symbolic link at `link` (a Windows path) to `target`, a path relative to the link's
// folder with "/" separators. False when this system cannot make one.
bool MakeLink(const String& link, const std::string& target, bool folder) {
  if (const TUnixName unixName = WineUnixName()) {
    char* unixLink = unixName(W(link));
    if (!unixLink) return false;
    String command = u"/bin/ln -s \"" + FromUtf8(target) + u"\" \"" + FromUtf8(unixLink) + u"\"";
    ::HeapFree(::GetProcessHeap(), 0, unixLink);
    if (!kivo::test::StartUnix(L"Z:\\bin\\ln", command)) return false;
    for (int i = 0; i < 500 && !LinkVisible(link); ++i) ::Sleep(10);
    return LinkVisible(link);
  }
  String windowsTarget = FromUtf8(target);
  for (char16_t& c : windowsTarget) c = c == u'/' ? u'\\' : c;
  return ::CreateSymbolicLinkW(
             W(link), W(windowsTarget),
             (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
}

}  // namespace

TEST(PathStaysInsideWin, FollowsLinksAndLongPaths) {
  // A run that failed half-way leaves its links behind for ScratchDir to trip over.
  RemoveWithLinks(ExtractFilePath(kivo::test::ScratchDir(u"PathStaysInsideWin.probe")) + u"PathStaysInsideWin");
  const String base = kivo::test::ScratchDir(u"PathStaysInsideWin");
  const String dest = base + u"\\Dest", outside = base + u"\\Outside";
  for (const String& dir : {dest, outside, dest + u"\\real", dest + u"\\real\\sub"})
    ASSERT_TRUE(::CreateDirectoryW(W(dir), nullptr)) << ToUtf8(dir);
  kivo::test::WriteAll(outside + u"\\file.txt", kivo::test::Bytes("x"));
  const struct {
    const char16_t* link;
    const char* target;
    bool folder;
  } links[] = {
      {u"\\out", "../Outside", true},
      {u"\\outfile", "../Outside/file.txt", false},
      {u"\\dangling", "../Outside/none.txt", false},
      {u"\\inner", "real/sub", true},
  };
  for (const auto& l : links)
    if (!MakeLink(dest + l.link, l.target, l.folder)) GTEST_SKIP() << "this system makes no symbolic links";

  String deep = dest;
  while (deep.size() < 400) deep += u"\\a long folder name";
  const struct {
    String path;
    bool inside;
  } cases[] = {
      {dest, true},
      {dest + u"\\new.txt", true},
      {dest + u"\\real\\sub\\x", true},
      {dest + u"\\REAL\\..\\real\\x", true},
      {dest + u"\\inner\\x", true},
      {dest + u"\\out", false},
      {dest + u"\\out\\new.txt", false},
      {dest + u"\\OUT\\file.txt", false},
      {dest + u"\\outfile", false},
      {dest + u"\\dangling", false},
      {dest + u"\\new\\..\\..\\Outside\\x", false},
      {dest + u"2\\x", false},  // shares the folder's prefix, not its components
      {base, false},
      {deep + u"\\file.txt", true},
      {u"\\\\?\\" + deep + u"\\file.txt", true},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::PathStaysInside(dest, c.path), c.inside) << ToUtf8(c.path);
  // Case does not matter on Windows, for the folder either.
  EXPECT_TRUE(platform::PathStaysInside(UpperCase(dest), LowerCase(dest) + u"\\x"));
  EXPECT_FALSE(platform::PathStaysInside(UpperCase(dest), LowerCase(dest) + u"\\out\\x"));
  // A destination reached through a link is resolved too.
  EXPECT_TRUE(platform::PathStaysInside(dest + u"\\inner", dest + u"\\real\\sub\\x"));
  EXPECT_FALSE(platform::PathStaysInside(dest + u"\\inner", dest + u"\\real\\x"));
  RemoveWithLinks(base);
}
