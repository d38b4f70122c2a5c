#pragma once
// What the package tool's commands share: exit codes, errors, paths and the member-name
// rule that keeps a package unpackable on Windows.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "library/Strings.h"

namespace zel {
class TStream;
}

namespace ipktool {

enum TExitCode { ExitOk = 0, ExitFailure = 1, ExitUsage = 2, ExitNotFound = 3, ExitRefused = 4 };

// A failure with its exit code; the message goes to stderr.
struct TToolError {
  int Code;
  std::string Message;
};

void PrintError(const std::string& message);
std::string Quoted(zel::StringView text);

std::filesystem::path ToPath(zel::StringView text);
zel::String FromPath(const std::filesystem::path& path);
// A folder to walk: on Windows the absolute \\?\ form, so that paths below it may pass
// 260 characters; elsewhere ToPath.
std::filesystem::path FolderPath(zel::StringView text);
// Member names use "\" whatever the platform.
zel::String MemberName(const std::filesystem::path& relative);
std::filesystem::path MemberPath(const std::filesystem::path& root, zel::StringView name);

// Names that would land outside the destination folder, or that Windows would not store
// under the name given; `reason` says why.
bool IsSafeMemberName(zel::StringView name, std::string& reason);
// Every file under `root` as a member name, sorted (the same package from the same
// folder, always), leaving out `exclude` (a package being written inside the folder).
// Refuses (ExitRefused) a name that extraction would refuse.
std::vector<zel::String> FolderMembers(const std::filesystem::path& root, const std::filesystem::path& exclude = {});
// Tells the vendor that an empty folder is left out of the package.
void ReportEmptyFolder(const zel::String& name);
#ifdef _WIN32
// FolderMembers' walk on Windows (IpkToolWalkWindows.cpp): paths of any length.
void WalkFolderLong(const std::filesystem::path& root, const std::filesystem::path& exclude,
                    std::vector<zel::String>& names);
#endif

std::vector<uint8_t> ReadFileBytes(zel::StringView path);
// Writes the IPK5 package of the named members of `root`, at LZMA level 0..9.
void BuildPackage(const std::filesystem::path& root, const std::vector<zel::String>& names, int level,
                  zel::TStream& dest);

}  // namespace ipktool
