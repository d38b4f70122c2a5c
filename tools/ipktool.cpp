// ipktool: builds, lists, extracts and verifies IPK5 setup packages. Runs on the build
// machine (it packs the sample product during the build) and as a Windows program.
//
// Exit codes:
//   0  success
//   1  failure: unreadable or damaged package, I/O error
//   2  usage error (unknown command, missing or bad arguments)
//   3  a named member is not in the package
//   4  refused: a member name would leave the destination folder
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "library/Exceptions.h"
#include "library/Streams.h"
#include "library/Strings.h"
#include "package/SetupPackage.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;
using namespace zel;
using kivo::TSetupPackageBuilder;
using kivo::TSetupPackageFileTableItem;
using kivo::TSetupPackageReader;

namespace {

enum TExitCode { ExitOk = 0, ExitFailure = 1, ExitUsage = 2, ExitNotFound = 3, ExitRefused = 4 };

const char kUsage[] =
    "usage: ipktool build OUT DIR [--level N] [--list FILE]\n"
    "         pack every file under DIR (sorted; names relative, with \\ separators), or\n"
    "         only the relative names listed in FILE (UTF-8, one per line); level 0..9, default 4\n"
    "       ipktool list PKG                  name and size of each member, in table order\n"
    "       ipktool extract PKG DIR [NAME...] write all members, or the named ones, under DIR\n"
    "       ipktool verify PKG                check magic, size and checksum\n"
    "       ipktool cat PKG NAME              write one member's bytes to standard output\n";

// A failure with its exit code; the message goes to stderr.
struct TToolError {
  int Code;
  std::string Message;
};

void PrintError(const std::string& message) {
  std::fprintf(stderr, "ipktool: %s\n", message.c_str());
}

std::string Quoted(StringView text) { return "\"" + ToUtf8(text) + "\""; }

fs::path ToPath(StringView text) {
#ifdef _WIN32
  return fs::path(std::wstring(text.begin(), text.end()));
#else
  return fs::path(ToUtf8(text));
#endif
}

String FromPath(const fs::path& path) {
#ifdef _WIN32
  const std::wstring w = path.wstring();
  return String(w.begin(), w.end());
#else
  return FromUtf8(path.string());
#endif
}

// Member names use "\" whatever the platform.
String MemberName(const fs::path& relative) {
  String name;
  for (const fs::path& part : relative) {
    if (!name.empty()) name += u'\\';
    name += FromPath(part);
  }
  return name;
}

// Names that would land outside the destination folder, or that no file system takes
// as a relative file name: empty, absolute ("\x", "/x"), UNC ("\\host"), drive ("C:x")
// or stream (":") forms, control characters, and components that are empty or only
// dots and spaces (Windows strips trailing dots and spaces, so "... " means "..").
bool IsSafeMemberName(StringView name, std::string& reason) {
  if (name.empty()) return reason = "empty name", false;
  if (name[0] == u'\\' || name[0] == u'/') return reason = "absolute path", false;
  for (char16_t c : name) {
    if (c == u':') return reason = "drive or stream name", false;
    if (c < 32) return reason = "control character", false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"\\/", start);
    if (end == StringView::npos) end = name.size();
    const StringView part = name.substr(start, end - start);
    if (part.empty()) return reason = "empty path component", false;
    if (part.find_first_not_of(u". ") == StringView::npos) return reason = "\"..\" or dot component", false;
    start = end + 1;
  }
  return true;
}

fs::path MemberPath(const fs::path& root, StringView name) {
  fs::path path = root;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"\\/", start);
    if (end == StringView::npos) end = name.size();
    path /= ToPath(name.substr(start, end - start));
    start = end + 1;
  }
  return path;
}

std::vector<uint8_t> ReadFileBytes(StringView path) {
  TFileStream stream(path, FileMode::OpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
  stream.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

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
  const fs::path root = ToPath(positional[1]);
  if (!fs::is_directory(root)) throw TToolError{ExitFailure, Quoted(positional[1]) + " is not a folder"};

  std::vector<String> names;
  if (!listFile.empty()) {
    names = ReadNameList(listFile);
    for (const String& name : names) {
      std::string reason;
      if (!IsSafeMemberName(name, reason))
        throw TToolError{ExitRefused, "list names " + Quoted(name) + " (" + reason + ")"};
    }
  } else {
    // The package being written may lie inside the folder; it is not a member.
    std::error_code ec;
    const fs::path outPath = fs::weakly_canonical(ToPath(out), ec);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      if (!outPath.empty() && fs::weakly_canonical(entry.path(), ec) == outPath) continue;
      names.push_back(MemberName(entry.path().lexically_relative(root)));
    }
    std::sort(names.begin(), names.end());  // the same package from the same folder, always
  }

  TSetupPackageBuilder builder(kivo::kSetupPackageKey);
  for (const String& name : names) {
    TFileStream source(FromPath(MemberPath(root, name)), FileMode::OpenRead);
    builder.AddFile(source, name);
  }
  try {
    builder.Commit(out, level);
  } catch (...) {
    std::error_code ec;
    fs::remove(ToPath(out), ec);  // no half-written package left behind for a build to pick up
    throw;
  }
  std::printf("%s: %zu members, %lld bytes of payload, level %d\n", ToUtf8(out).c_str(), names.size(),
              static_cast<long long>(builder.Payload().Bytes().size()), level);
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
  const int64_t payload = reader->Payload().Bytes().size();
  for (int i = 0; i < table.Count(); ++i) {
    const TSetupPackageFileTableItem& item = table.Items(i);
    if (item.Offset < 0 || item.Size < 0 || item.Offset > payload || item.Size > payload - item.Offset)
      throw TToolError{ExitFailure, ToUtf8(args[0]) + ": member " + Quoted(item.Name) + " lies outside the payload"};
  }
  std::printf("%s: OK, %d members, %lld bytes of payload\n", ToUtf8(args[0]).c_str(), table.Count(),
              static_cast<long long>(payload));
  return ExitOk;
}

int CmdExtract(const std::vector<String>& args) {
  if (args.size() < 2) throw TToolError{ExitUsage, "extract takes PKG and DIR"};
  const auto reader = OpenPackage(args[0]);
  const fs::path root = ToPath(args[1]);
  const auto& table = reader->FileTable();

  std::vector<const TSetupPackageFileTableItem*> items;
  if (args.size() > 2) {
    for (size_t i = 2; i < args.size(); ++i) items.push_back(&FindMember(*reader, args[i]));
  } else {
    // What a reader serves: of equal names, the first.
    for (int i = 0; i < table.Count(); ++i)
      if (table.Find(table.Items(i).Name) == &table.Items(i)) items.push_back(&table.Items(i));
  }
  // Every name is checked before anything is written.
  for (const TSetupPackageFileTableItem* item : items) {
    std::string reason;
    if (!IsSafeMemberName(item->Name, reason))
      throw TToolError{ExitRefused, "refusing member " + Quoted(item->Name) + ": " + reason +
                                        " would leave the destination folder"};
  }
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
