#include "core/FileOperations.h"

#include <windows.h>

#include <optional>

#include "library/win/FileSystem.h"
#include "library/win/OSError.h"
#include "library/win/SafeTree.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

void CopyFileOrRaise(StringView source, StringView target) {
  // The target is made new in a held folder: a link planted under its name is replaced,
  // never written through.
  try {
    const zel::TSafeFolder from = zel::TSafeFolder::Open(zel::ExtractFilePath(String(source)));
    const zel::TSafeFolder to = zel::TSafeFolder::Open(zel::ExtractFilePath(String(target)));
    zel::CopyFileBetween(from, zel::ExtractFileName(String(source)), to, zel::ExtractFileName(String(target)));
  } catch (const zel::EOSError& e) {
    zel::RaiseOSError(e.ErrorCode(), String(source) + u" -> " + String(target));
  }
}

bool DeleteAtReboot(StringView fileName) {
  return ::MoveFileExW(as_wcstr(zel::platform::ExtendedLengthPath(fileName)), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) !=
         0;
}

bool SafeDeleteFile(StringView fileName) {
  // Clean-up never reports failures: every error below ends in "the file stays".
  try {
    const String path(fileName);
    if (!zel::FileExists(path)) return true;  // a folder, or nothing: not this function's
    // The folder is the caller's (a shell folder, the program folder); the name in it is
    // opened by handle and never followed.
    std::optional<zel::TSafeFolder> folder =
        zel::TSafeFolder::OpenIfExists(zel::ExtractFilePath(path), zel::TSafeFolder::TTrust::FolderAsGiven);
    if (!folder) return true;
    // By handle, and the name itself: a link goes as a link, its target stays.
    switch (folder->DeleteEntry(zel::ExtractFileName(path))) {
      case zel::TDeleteResult::Deleted:
      case zel::TDeleteResult::Missing: return true;
      case zel::TDeleteResult::Refused: return false;
      case zel::TDeleteResult::InUse: break;
    }
    // In use (a running program, a loaded library): out of the way, so the folder can be
    // removed, and deleted at the next restart.
    return zel::MoveAsideUntilRestart(*folder, zel::ExtractFileName(path));
  } catch (...) {
    return false;
  }
}

}  // namespace kivo
