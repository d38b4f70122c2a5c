#include "core/ExtractHelper.h"

#include <windows.h>

#include "core/FolderSecurity.h"
#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "package/InstallerScript.h"
#include "core/RunLog.h"
#include "library/FileWriteError.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/Md5.h"
#include "library/win/WindowStation.h"
#include "package/win/InstallerResources.h"
#include "platform/Platform.h"

namespace kivo {

using zel::String;
using zel::StringView;

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;

std::unique_ptr<zel::TStream> TryCreate(StringView target) {
  try {
    return std::make_unique<zel::TBufferedFileStream>(
        target, zel::FileMode::Create, zel::platform::ShareRead | zel::platform::ShareWrite, kWriteBuffer);
  } catch (const zel::EFCreateError&) {
    return nullptr;
  }
}

// Creates the folder (no trailing backslash) with its missing parents; `protect` (the
// destination, when it lies outside the program folders) is created with the protected
// DACL, since it would inherit "Authenticated Users: Modify" from a drive's root.
bool ForceDirectories(const String& path, const String& protect) {
  if (path.empty() || zel::DirectoryExists(path)) return true;
  // Parents first; a drive root or a share's root always exists or never will.
  const String parent = zel::ExcludeTrailingBackslash(zel::ExtractFilePath(path));
  if (!parent.empty() && parent != path && parent.back() != u':' && !ForceDirectories(parent, protect)) return false;
  if (!protect.empty() && zel::SameText(path, protect)) {
    if (CreateProtectedFolder(path)) {
      RunLog().Log(u"Created for administrators only (users may read and run): " + path + u"\\");
      return true;
    }
    return zel::DirectoryExists(path);
  }
  return ::CreateDirectoryW(zel::as_wcstr(zel::platform::ExtendedLengthPath(path)), nullptr) ||
         zel::DirectoryExists(path);
}

// "D:" for a path on a drive, the share's root for a network path.
String VolumeOf(const String& path) {
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(zel::as_wcstr(zel::platform::ExtendedLengthPath(path)), root, MAX_PATH)) return {};
  String volume = zel::from_wcstr(root);
  if (zel::StartsWithText(volume, u"\\\\?\\")) volume.erase(0, 4);
  return volume.size() == 3 && volume[1] == u':' ? volume.substr(0, 2) : volume;
}

}  // namespace

String WriteFailureText(const String& target, unsigned error) {
  TInstallerResources& resources = Installer->Resources();
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    String format = resources.GetText(u"Common", u"E8");
    if (format.empty()) format = u"The file \"%s\" could not be written: the disk %s is full.";
    return zel::Format(format, target, VolumeOf(target));
  }
  String format = resources.GetText(u"Common", u"E9");
  if (format.empty()) format = u"The file \"%s\" could not be written: %s";
  return zel::Format(
      format, target,
      zel::Trim(error ? zel::platform::SystemErrorMessage(error) : String(u"the system gave no reason.")));
}

String TInstallerExtractHelper::FormatText(StringView key, StringView argument) {
  return zel::Format(Installer->Resources().GetText(u"Common", key), argument);
}

void TInstallerExtractHelper::ForceFolder(StringView folder) {
  const String path = zel::ExcludeTrailingBackslash(folder);
  // The error names the folder that was asked for, not the parent that failed: that is
  // the one the user chose or knows from the script.
  const String dest = Installer ? zel::ExcludeTrailingBackslash(Installer->DestPath()) : String();
  const String protect = !dest.empty() && !Installer->IsProgramFilesPath() ? dest : String();
  if (!ForceDirectories(path, protect))
    throw EInstallerInstallError(FormatText(u"E3", zel::IncludeTrailingBackslash(path)));
}

namespace {

int AskInSystemBox(HWND owner, StringView text, StringView caption) {
  const String textCopy(text), captionCopy(caption);
  return ::MessageBoxW(owner, zel::as_wcstr(textCopy), zel::as_wcstr(captionCopy),
                       MB_ABORTRETRYIGNORE | MB_ICONWARNING | MB_TASKMODAL);
}

}  // namespace

TLockedFileQuestion AskLockedFileQuestion = AskInSystemBox;

int TInstallerExtractHelper::AskLockedFile(StringView target) {
  // On an invisible window station (a service, a deployment tool running as SYSTEM)
  // nobody can answer: the run fails clearly instead of waiting for ever.
  if (!zel::HasVisibleDesktop()) {
    RunLog().Log(u"No visible desktop to ask on: answered Abort");
    return IDABORT;
  }
  const String text = FormatText(u"QM2", target);
  String caption = Installer->Resources().GetText(u"Common", u"Caption");
  if (caption.empty()) caption = u"Setup";
  int answer = IDIGNORE;
  Installer->CallOnMainThread([&] { answer = AskLockedFileQuestion(::GetActiveWindow(), text, caption); });
  return answer;
}

bool TInstallerExtractHelper::CreateTargetStream(StringView target, zel::TStream& source,
                                                 std::unique_ptr<zel::TStream>& stream) {
  stream = TryCreate(target);
  if (stream) return true;

  // Locked or protected. Leave it alone when it already holds these bytes.
  zel::TMD5Digest onDisk;
  {
    zel::TFileStream existing(target, zel::FileMode::OpenRead,
                              zel::platform::ShareRead | zel::platform::ShareWrite | zel::platform::ShareDelete);
    onDisk = zel::MD5OfStream(existing);
  }
  const zel::TMD5Digest wanted = zel::MD5OfStream(source);
  source.SetPosition(0);
  if (onDisk == wanted) {
    RunLog().Log(u"Skipped (in use, same content): " + String(target));
    return false;
  }

  const String backup = String(target) + u".bak";
  if (::MoveFileW(zel::as_wcstr(zel::platform::ExtendedLengthPath(target)),
                  zel::as_wcstr(zel::platform::ExtendedLengthPath(backup))))
    RunLog().Log(u"Renamed (in use): " + String(target) + u" -> " + backup);

  for (;;) {
    stream = TryCreate(target);
    if (stream) return true;
    RunLog().Log(u"Asking about locked file: " + String(target));
    const int answer = AskLockedFile(target);
    if (answer == IDRETRY) continue;
    if (answer == IDABORT) {
      RunLog().Log(u"Aborted on locked file: " + String(target));
      throw EInstallerInstallError(FormatText(u"E1", target));
    }
    RunLog().Log(u"Ignored locked file: " + String(target));
    return false;
  }
}

void TInstallerExtractHelper::ExtractFile(const TInstallerScriptFile& entry) {
  TInstallerResources& resources = Installer->Resources();
  const String target = resources.ExpandPath(entry.Name);
  // A junction or link inside the destination (a "Plugins" junction to another folder)
  // must not receive our files: nothing is written through it, not even a folder.
  const String& dest = Installer->DestPath();
  if (!dest.empty() && zel::StartsWithText(target, dest) && !zel::platform::PathStaysInside(dest, target))
    throw EInstallerInstallError(u"Cannot write \"" + target + u"\": a link in the destination folder leads out of it");
  ForceFolder(zel::ExtractFilePath(target));
  // The member's bytes where the package holds them: no copy per file, and one write
  // of the whole member (the buffered stream passes a block that large straight on).
  const TSetupPackageMemberView member = resources.GetFileView(entry.GetTextOrName());
  zel::TReadOnlyMemoryStream source(member.Data, member.Size);
  std::unique_ptr<zel::TStream> stream;
  if (!CreateTargetStream(target, source, stream)) return;
  try {
    stream->WriteBuffer(member.Data, member.Size);
    // Flush before the stream goes, so a full disk fails the step instead of vanishing.
    static_cast<zel::TBufferedFileStream&>(*stream).Flush();
  } catch (const zel::EStreamError& e) {
    const unsigned error = zel::LastFileWriteError();
    RunLog().Log(u"Not written (" + e.Message() + u"): " + target);
    stream.reset();
    // A truncated program or library must not stay where it would be loaded.
    if (::DeleteFileW(zel::as_wcstr(zel::platform::ExtendedLengthPath(target))))
      RunLog().Log(u"Deleted (written only in part): " + target);
    throw EInstallerInstallError(WriteFailureText(target, error));
  }
  stream.reset();
  RunLog().Log(u"Written: " + target + u" (" + zel::IntToStr(static_cast<long long>(member.Size)) + u" bytes)");
}

}  // namespace kivo
