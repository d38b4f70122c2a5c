// ipktool: builds, lists, extracts and verifies IPK5 setup packages. Runs on the build
// machine (it packs the sample product during the build) and as a Windows program.
//
// Exit codes:
//   0  success
//   1  failure: unreadable or damaged package, I/O error
//   2  usage error (unknown command, missing or bad arguments)
//   3  a named member is not in the package
//   4  refused, before anything is written: a member name that would leave the destination
//      folder or that Windows would alias (device names, trailing dots or spaces, short-name
//      forms), a file where another member needs a folder, or a target reached through a
//      link that leads out of the destination
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "library/Exceptions.h"
#include "library/Streams.h"
#include "library/Strings.h"
#include "package/SetupPackage.h"
#include "platform/Platform.h"
#include "IpkToolCommon.h"
#include "IpkToolVendor.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;
using namespace zel;
using kivo::TSetupPackageBuilder;
using kivo::TSetupPackageFileTableItem;
using kivo::TSetupPackageReader;
using namespace ipktool;

namespace {

const char kUsage[] =
    "usage: ipktool build OUT DIR [--level N] [--list FILE]\n"
    "         pack every file under DIR (sorted; names relative, with \\ separators), or\n"
    "         only the relative names listed in FILE (UTF-8, one per line); level 0..9, default 4\n"
    "       ipktool list PKG                  name and size of each member, in table order\n"
    "       ipktool extract PKG DIR [NAME...] write all members, or the named ones, under DIR\n"
    "       ipktool verify PKG                check magic, size and checksum\n"
    "       ipktool cat PKG NAME              write one member's bytes to standard output\n"
    "       ipktool components DIR [--families EN,DE,...] [--separator _] [--into Install.xml]\n"
    "         the <Components> entries of Install.xml for every file under DIR (printed, or put in\n"
    "         place of the script's own); with families, \"name_DE.ext\" installs as \"name.ext\"\n"
    "         for the DE family\n"
    "       ipktool check SETUP_DIR PRODUCT_DIR  every file Install.xml names is there, and a language\n"
    "       ipktool setup SETUP_EXE SETUP_DIR PRODUCT_DIR OUT_EXE [--level N]\n"
    "         (Windows) OUT_EXE: a copy of the prebuilt SETUP_EXE carrying the two folders as its packages,\n"
    "         with the product's version information and SETUP_DIR's Setup.ico\n"
    "       ipktool identity SETUP_DIR OUT_RC [--default-icon ICO]\n"
    "         the resource script of that version information and icon (the build's route)\n";

std::vector<String> ReadNameList(StringView listFile) {
  const std::vector<uint8_t> bytes = ReadFileBytes(listFile);
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<String> names;
  for (const String& line : Split(FromUtf8(text), u'\n')) {
    String name = Trim(line);
    if (name.empty()) continue;
    std::replace(name.begin(), name.end(), u'/', u'\\');
    names.push_back(std::move(name));
  }
  return names;
}

std::unique_ptr<TSetupPackageReader> OpenPackage(StringView path) {
  try {
    return std::make_unique<TSetupPackageReader>(path);
  } catch (const Exception& e) {
    throw TToolError{ExitFailure, ToUtf8(path) + ": " + e.what()};
  }
}

const TSetupPackageFileTableItem& FindMember(const TSetupPackageReader& reader, StringView name) {
  const TSetupPackageFileTableItem* item = reader.FileTable().Find(name);
  if (!item) throw TToolError{ExitNotFound, "no member named " + Quoted(name)};
  return *item;
}

int CmdBuild(const std::vector<String>& args) {
  std::vector<String> positional;
  int level = kivo::kSetupPackageDefaultLevel;
  String listFile;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--level" || args[i] == u"--list") {
      if (i + 1 == args.size()) throw TToolError{ExitUsage, ToUtf8(args[i]) + " needs a value"};
      const String& value = args[++i];
      if (args[i - 1] == u"--list") {
        listFile = value;
      } else if (int32_t v; TryStrToInt(value, v) && v >= 0 && v <= 9) {
        level = v;
      } else {
        throw TToolError{ExitUsage, "level must be 0..9, not " + Quoted(value)};
      }
    } else if (StartsWith(args[i], u"--")) {
      throw TToolError{ExitUsage, "unknown option " + ToUtf8(args[i])};
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) throw TToolError{ExitUsage, "build takes OUT and DIR"};
  const String& out = positional[0];
  const fs::path root = FolderPath(positional[1]);
  if (!fs::is_directory(root)) throw TToolError{ExitFailure, Quoted(positional[1]) + " is not a folder"};

  std::vector<String> names;
  if (!listFile.empty()) {
    names = ReadNameList(listFile);
    // A name that extraction would refuse makes a package no installer can unpack.
    for (const String& name : names) {
      std::string reason;
      if (!IsSafeMemberName(name, reason))
        throw TToolError{ExitRefused, "refusing to pack " + Quoted(name) + ": " + reason};
    }
  } else {
    names = FolderMembers(root, FolderPath(out));  // the package may be written inside the folder
  }

  int64_t payload = 0;
  try {
    TFileStream package(out, FileMode::Create);
    BuildPackage(root, names, level, package);
    payload = package.Size();
  } catch (...) {
    std::error_code ec;
    fs::remove(ToPath(out), ec);  // no half-written package left behind for a build to pick up
    throw;
  }
  std::printf("%s: %zu members, %lld bytes, level %d\n", ToUtf8(out).c_str(), names.size(),
              static_cast<long long>(payload), level);
  return ExitOk;
}

int CmdList(const std::vector<String>& args) {
  if (args.size() != 1) throw TToolError{ExitUsage, "list takes PKG"};
  const auto reader = OpenPackage(args[0]);
  const auto& table = reader->FileTable();
  for (int i = 0; i < table.Count(); ++i)
    std::printf("%s\t%lld\n", ToUtf8(table.Items(i).Name).c_str(), static_cast<long long>(table.Items(i).Size));
  return ExitOk;
}

int CmdVerify(const std::vector<String>& args) {
  if (args.size() != 1) throw TToolError{ExitUsage, "verify takes PKG"};
  const auto reader = OpenPackage(args[0]);
  const auto& table = reader->FileTable();
  const int64_t payload = reader->PayloadSize();
  for (int i = 0; i < table.Count(); ++i) {
    const TSetupPackageFileTableItem& item = table.Items(i);
    if (item.Offset < 0 || item.Size < 0 || item.Offset > payload || item.Size > payload - item.Offset)
      throw TToolError{ExitFailure, ToUtf8(args[0]) + ": member " + Quoted(item.Name) + " lies outside the payload"};
  }
  std::printf("%s: OK, %d members, %lld bytes of payload\n", ToUtf8(args[0]).c_str(), table.Count(),
              static_cast<long long>(payload));
  return ExitOk;
}

// A member that is a file where another member needs a folder ("a" and "a\b", in either
// order and any case) cannot be written on Windows. Every folder a member needs is one
// of its name's prefixes: a rolling hash gives each prefix's hash in one pass over the
// name, so even a name of thousands of components costs time in proportion to its length.
void CheckFileFolderConflicts(const std::vector<const TSetupPackageFileTableItem*>& items) {
  constexpr uint64_t kBasis = 14695981039346656037ull, kPrime = 1099511628211ull;
  std::vector<String> keys;
  keys.reserve(items.size());
  std::unordered_multimap<uint64_t, size_t> files;
  files.reserve(items.size());
  for (const TSetupPackageFileTableItem* item : items) {
    String key = kivo::TSetupPackageFileTable::NameKey(item->Name);
    std::replace(key.begin(), key.end(), u'/', u'\\');
    uint64_t h = kBasis;
    for (char16_t c : key) h = (h ^ c) * kPrime;
    files.emplace(h, keys.size());
    keys.push_back(std::move(key));
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    const String& key = keys[i];
    uint64_t h = kBasis;
    for (size_t at = 0; at < key.size(); h = (h ^ key[at]) * kPrime, ++at) {
      if (key[at] != u'\\') continue;
      const auto [first, last] = files.equal_range(h);
      for (auto it = first; it != last; ++it) {
        const String& file = keys[it->second];
        if (file.size() == at && key.compare(0, at, file) == 0)
          throw TToolError{ExitRefused, "refusing member " + Quoted(items[it->second]->Name) +
                                            ": it is a file, but member " + Quoted(items[i]->Name) +
                                            " needs a folder of that name"};
      }
    }
  }
}

// Before anything is written: every target must stay inside the destination once links
// are followed (no member under a linked folder, no member whose file is a link), and
// what already exists there must be of the kind the member needs.
void CheckTargets(const fs::path& root, const std::vector<const TSetupPackageFileTableItem*>& items) {
  const String rootName = FromPath(root);
  for (const TSetupPackageFileTableItem* item : items) {
    const fs::path target = MemberPath(root, item->Name);
    if (!zel::platform::PathStaysInside(rootName, FromPath(target)))
      throw TToolError{ExitRefused,
                       "refusing member " + Quoted(item->Name) +
                           ": a link in the destination leads out of the folder, or the target cannot be examined"};
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(target, ec)))
      throw TToolError{ExitRefused, "refusing member " + Quoted(item->Name) + ": a folder of that name exists"};
    for (fs::path folder = target.parent_path(); folder != root && folder.has_relative_path();
         folder = folder.parent_path()) {
      const fs::file_status status = fs::status(folder, ec);
      if (fs::exists(status) && !fs::is_directory(status))
        throw TToolError{ExitRefused, "refusing member " + Quoted(item->Name) + ": " + Quoted(FromPath(folder)) +
                                          " exists and is not a folder"};
      if (fs::exists(status)) break;  // the folders above it exist too
    }
  }
}

int CmdExtract(const std::vector<String>& args) {
  if (args.size() < 2) throw TToolError{ExitUsage, "extract takes PKG and DIR"};
  const auto reader = OpenPackage(args[0]);
  const fs::path root = ToPath(args[1]);
  const auto& table = reader->FileTable();

  // Every check comes before anything is written, and each is linear in the members.
  std::vector<const TSetupPackageFileTableItem*> items;
  if (args.size() > 2) {
    std::unordered_set<const TSetupPackageFileTableItem*> named;
    for (size_t i = 2; i < args.size(); ++i) {
      const TSetupPackageFileTableItem* item = &FindMember(*reader, args[i]);
      if (named.insert(item).second) items.push_back(item);
    }
  } else {
    for (int i = 0; i < table.Count(); ++i) items.push_back(&table.Items(i));
  }
  for (const TSetupPackageFileTableItem* item : items) {
    std::string reason;
    if (!IsSafeMemberName(item->Name, reason))
      throw TToolError{ExitRefused, "refusing member " + Quoted(item->Name) + ": " + reason};
  }
  if (args.size() == 2) {
    // What a reader serves: of equal names, the first (the folding Find uses).
    std::unordered_set<String> seen;
    seen.reserve(items.size());
    std::vector<const TSetupPackageFileTableItem*> first;
    for (const TSetupPackageFileTableItem* item : items)
      if (seen.insert(kivo::TSetupPackageFileTable::NameKey(item->Name)).second) first.push_back(item);
    items = std::move(first);
  }
  CheckFileFolderConflicts(items);
  CheckTargets(root, items);

  for (const TSetupPackageFileTableItem* item : items) {
    const fs::path target = MemberPath(root, item->Name);
    fs::create_directories(target.parent_path());
    const auto data = reader->ExtractItem(*item);
    TFileStream out(FromPath(target), FileMode::Create);
    out.WriteBuffer(data->Memory(), data->Bytes().size());
  }
  return ExitOk;
}

int CmdCat(const std::vector<String>& args) {
  if (args.size() != 2) throw TToolError{ExitUsage, "cat takes PKG and NAME"};
  const auto reader = OpenPackage(args[0]);
  const auto data = reader->ExtractItem(FindMember(*reader, args[1]));
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const auto& bytes = data->Bytes();
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
    throw TToolError{ExitFailure, "cannot write to standard output"};
  return ExitOk;
}

int Run(const std::vector<String>& args) {
  if (args.empty()) throw TToolError{ExitUsage, "no command given"};
  const String& command = args[0];
  const std::vector<String> rest(args.begin() + 1, args.end());
  if (command == u"build") return CmdBuild(rest);
  if (command == u"list") return CmdList(rest);
  if (command == u"extract") return CmdExtract(rest);
  if (command == u"verify") return CmdVerify(rest);
  if (command == u"cat") return CmdCat(rest);
  if (command == u"components") return CmdComponents(rest);
  if (command == u"check") return CmdCheck(rest);
  if (command == u"setup") return CmdSetup(rest);
  if (command == u"identity") return CmdIdentity(rest);
  if (command == u"help" || command == u"--help" || command == u"-h") {
    std::fputs(kUsage, stdout);
    return ExitOk;
  }
  throw TToolError{ExitUsage, "unknown command " + Quoted(command)};
}

int ToolMain(const std::vector<String>& args) {
  try {
    return Run(args);
  } catch (const TToolError& e) {
    PrintError(e.Message);
    if (e.Code == ExitUsage) std::fputs(kUsage, stderr);
    return e.Code;
  } catch (const Exception& e) {
    PrintError(e.what());
  } catch (const std::filesystem::filesystem_error& e) {
    // The library's text may leave the path out: the vendor needs to know which one.
    PrintError(Quoted(FromPath(e.path1())) + ": " + e.code().message());
  } catch (const std::exception& e) {
    PrintError(e.what());
  }
  return ExitFailure;
}

}  // namespace

#ifdef _WIN32
// The wide entry point (linked with -municode): the ANSI argv would lose every name
// outside the code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<String> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return ToolMain(args);
}
#else
int main(int argc, char** argv) {
  std::vector<String> args;
  for (int i = 1; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
  return ToolMain(args);
}
#endif
