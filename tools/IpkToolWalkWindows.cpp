// The Windows tool's walk of a product folder, which may pass 260 characters.
#include <windows.h>

#include "IpkToolCommon.h"
#include "platform/Platform.h"

using namespace zel;

namespace ipktool {

namespace {

// The C runtime's folder enumeration, under std::filesystem, stops at 260 characters even
// in the \\?\ form: the tree is walked with FindFirstFileEx, which takes that form whole.
// Links are not followed, as the library's iterator does not.
void WalkFolder(const std::wstring& folder, const String& relative, const std::wstring& excluded,
                std::vector<String>& names) {
  WIN32_FIND_DATAW data;
  HANDLE find =
      ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE)
    throw TToolError{ExitFailure, Quoted(String(folder.begin(), folder.end())) + ": " +
                                      ToUtf8(zel::platform::SystemErrorMessage(::GetLastError()))};
  bool empty = true;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    empty = false;
    const String member = (relative.empty() ? String() : relative + u'\\') + String(name.begin(), name.end());
    const std::wstring full = folder + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) WalkFolder(full, member, excluded, names);
    else if (::CompareStringOrdinal(full.c_str(), -1, excluded.c_str(), -1, TRUE) != CSTR_EQUAL)
      names.push_back(member);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  if (empty && !relative.empty()) ReportEmptyFolder(relative);
}

}  // namespace

void WalkFolderLong(const std::filesystem::path& root, const std::filesystem::path& exclude,
                    std::vector<String>& names) {
  std::wstring base = FolderPath(FromPath(root)).native();
  while (base.size() > 1 && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  WalkFolder(base, {}, exclude.empty() ? std::wstring() : FolderPath(FromPath(exclude)).native(), names);
}

}  // namespace ipktool
