#include "product/ActionAddonsInstall.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "core/FileOperations.h"
#include "core/UninstallerCopy.h"
#include "package/InstallerErrors.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/Streams.h"
#include "library/win/Handles.h"
#include "library/win/OSError.h"
#include "package/win/InstallerResources.h"

namespace kivo {

using zel::String;

String TInstallerActionAddonsInstall::Parameters(const zel::TZELStringList& addons, bool viewer, bool extensions,
                                                 bool shortcuts) {
  String words;
  if (!extensions) words += addons.Values(u"P1") + u" ";
  if (viewer) words += addons.Values(u"P2") + u" ";
  if (shortcuts) words += addons.Values(u"P3") + u" ";
  // The one "%s" of the format, replaced as text: the format is package data, and any
  // other "%" in it stays as written.
  String format = addons.Values(u"CL");
  const size_t at = format.find(u"%s");
  if (at != String::npos) format.replace(at, 2, words);
  return format;
}

namespace {

// Writes the bytes into a file that must not exist yet; raises EOSError naming it.
void WriteNewFile(const String& file, const std::vector<uint8_t>& bytes) {
  zel::TFileHandle target(
      ::CreateFileW(zel::as_wcstr(file), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) zel::RaiseLastOSError(u"CreateFile " + file);
  if (!bytes.empty())
    zel::WriteAllOrRaise(target.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), u"WriteFile " + file);
}

// Opens the file for reading, shared with readers only (the program loader is one), and
// checks that it still holds exactly the bytes written: from here until the program has
// started, nobody can write, rename or delete it.
zel::TFileHandle HoldUnchanged(const String& file, const std::vector<uint8_t>& bytes) {
  zel::TFileHandle held(::CreateFileW(zel::as_wcstr(file), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!held) zel::RaiseLastOSError(u"CreateFile " + file);
  std::vector<uint8_t> read(bytes.size() + 1);
  DWORD count = 0;
  if (!::ReadFile(held.Get(), read.data(), static_cast<DWORD>(read.size()), &count, nullptr))
    zel::RaiseLastOSError(u"ReadFile " + file);
  read.resize(count);
  if (read != bytes) throw EInstallerInstallError(u"The file \"" + file + u"\" was changed by another program");
  return held;
}

}  // namespace

TInstallerActionAddonsInstall::~TInstallerActionAddonsInstall() { RemoveStartedFile(); }

void TInstallerActionAddonsInstall::RemoveStartedFile() noexcept {
  if (FFolder.empty()) return;
  // Clean-up: a program still running keeps its file; the restart removes both then
  // (scheduled when it was written).
  if (FProcess && ::WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT) return;
  ::DeleteFileW(zel::as_wcstr(FStartedFile));
  ::RemoveDirectoryW(zel::as_wcstr(FFolder));
  FProcess.Reset();
  FFolder.clear();
}

void TInstallerActionAddonsInstall::Execute() {
  const bool viewer = Options().ReadBool(u"Common", u"AddonsViewer", false);
  const bool extensions = Options().ReadBool(u"Common", u"AddonsExtensions", false);
  const bool shortcuts = Options().ReadBool(u"Common", u"AddonsShortcuts", false);
  RemoveStartedFile();
  FStartedFile.clear();
  if (!viewer && !extensions && !shortcuts) return;

  std::unique_ptr<zel::TZELStringList> addons = Resources().GetStringList(u"addons.ini");
  const String member = addons->Values(u"P4");
  // Only the file name goes into the temporary folder: a member name with folders in it
  // cannot make the setup write anywhere else.
  const String name = zel::ExtractFileName(member);
  if (name.empty()) throw EInstallerInstallError(u"Cannot locate \"" + member + u"\" file in setup archive");
  std::unique_ptr<zel::TMemoryStream> source = Resources().GetFile(member);
  // The user's temporary folder is theirs to change: the program the elevated setup
  // starts is written into a new folder of our own, as a new file, and held until started.
  const String folder = CreatePrivateTempFolder(u"KIVO Add-ons ");
  const String file = folder + name;
  FFolder = folder;
  FStartedFile = file;
  DeleteAtReboot(file);
  DeleteAtReboot(folder);
  WriteNewFile(file, source->Bytes());
  zel::TFileHandle held = HoldUnchanged(file, source->Bytes());

  const String params = Parameters(*addons, viewer, extensions, shortcuts);
  // The file and its parameters reach the shell apart, so a blank in the temporary
  // folder's path cannot make another program start. The result is not checked: the
  // add-ons are optional.
  // The shell may hand the open to an extension, which needs COM on this thread.
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = zel::as_wcstr(file);
  info.lpParameters = zel::as_wcstr(params);
  info.nShow = SW_SHOW;
  const bool started = ::ShellExecuteExW(&info) != FALSE;
  if (com) ::CoUninitialize();
  // Started, the program's image is mapped and can no longer be changed; the hold ends.
  held.Reset();
  FProcess.Reset(started ? info.hProcess : nullptr);
  RunLog().Log((started ? u"Opened: \"" : u"Could not open: \"") + file + u"\" " + params);
}

void TInstallerActionAddonsInstall::BuildSummary(TInstallerSummaryBuilder& builder) {
  builder.SetGroup(u"PageAddons", u"Title");
  if (Options().ReadBool(u"Common", u"AddonsViewer", false)) builder.AddLine(u"PageAddons", u"CB1");
  if (Options().ReadBool(u"Common", u"AddonsExtensions", false)) builder.AddLine(u"PageAddons", u"CB2");
  if (Options().ReadBool(u"Common", u"AddonsShortcuts", false)) builder.AddLine(u"PageAddons", u"CB3");
}

}  // namespace kivo
