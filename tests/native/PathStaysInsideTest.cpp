// PathStaysInside against real symbolic links (POSIX; the Windows build has its own test
// in tests/windows, with the links Wine can make).
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <string>

#include "TestSupport.h"
#include "library/Strings.h"
#include "platform/Platform.h"

using namespace zel;

TEST(PathStaysInside, FollowsLinksOnTheWayAndAtTheEnd) {
  const std::string base = ToUtf8(kivo::test::ScratchDir(u"PathStaysInside"));
  const std::string dest = base + "/dest", outside = base + "/outside";
  for (const std::string& dir : {dest, outside, dest + "/real", dest + "/real/sub"})
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  kivo::test::WriteAll(FromUtf8(outside + "/file"), kivo::test::Bytes("x"));
  kivo::test::WriteAll(FromUtf8(dest + "/real/file"), kivo::test::Bytes("x"));
  const struct {
    const char* link;
    std::string target;
  } links[] = {
      {"/out", outside},                 // a folder leaving the destination
      {"/outfile", outside + "/file"},   // a file leaving it
      {"/dangling", outside + "/none"},  // where a write would create the target
      {"/inner", "real/sub"},            // relative, staying inside
      {"/up", ".."},                     // relative, one level up
      {"/loop", "loop"},
      {"/real/back", "../../outside"},  // inside a real folder
  };
  for (const auto& l : links) ASSERT_EQ(::symlink(l.target.c_str(), (dest + l.link).c_str()), 0) << l.link;

  const struct {
    std::string path;
    bool inside;
  } cases[] = {
      {dest, true},
      {dest + "/new.txt", true},
      {dest + "/new/deeper/file.txt", true},
      {dest + "/real/file", true},
      {dest + "/real/../real/sub/x", true},
      {dest + "/inner/x", true},
      {dest + "/inner", true},
      {dest + "/out", false},
      {dest + "/out/new.txt", false},
      {dest + "/outfile", false},
      {dest + "/dangling", false},
      {dest + "/dangling/x", false},
      {dest + "/up/outside/x", false},
      {dest + "/loop", false},
      {dest + "/real/back/file", false},
      {dest + "/new/../../outside/x", false},  // lexical ".." past the folder
      {dest + "2/x", false},                   // a sibling sharing the folder's prefix
      {base, false},
      {outside + "/x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::PathStaysInside(FromUtf8(dest), FromUtf8(c.path)), c.inside) << c.path;

  // The folder is resolved too: reached through a link, its own files stay inside it.
  ASSERT_EQ(::symlink(dest.c_str(), (base + "/alias").c_str()), 0);
  EXPECT_TRUE(platform::PathStaysInside(FromUtf8(base + "/alias"), FromUtf8(dest + "/real/file")));
  EXPECT_TRUE(platform::PathStaysInside(FromUtf8(dest), FromUtf8(base + "/alias/new")));
  EXPECT_FALSE(platform::PathStaysInside(FromUtf8(base + "/alias"), FromUtf8(dest + "/out/x")));
  // Relative paths are taken from the current folder.
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(base.c_str()), 0);
  EXPECT_TRUE(platform::PathStaysInside(u"dest", u"dest/real/new"));
  EXPECT_FALSE(platform::PathStaysInside(u"dest", u"dest/out/new"));
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
}
#endif
