#include "product/ActionAddonsInstall.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "core/InstallerErrors.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/Streams.h"
#include "library/win/Handles.h"
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

void TInstallerActionAddonsInstall::Execute() {
  const bool viewer = Options().ReadBool(u"Common", u"AddonsViewer", false);
  const bool extensions = Options().ReadBool(u"Common", u"AddonsExtensions", false);
  const bool shortcuts = Options().ReadBool(u"Common", u"AddonsShortcuts", false);
  FStartedFile.clear();
  if (!viewer && !extensions && !shortcuts) return;

  std::unique_ptr<zel::TZELStringList> addons = Resources().GetStringList(u"addons.ini");
  const String member = addons->Values(u"P4");
  // Only the file name goes into the temporary folder: a member name with folders in it
  // cannot make the setup write anywhere else.
  const String name = zel::ExtractFileName(member);
  if (name.empty()) throw EInstallerInstallError(u"Cannot locate \"" + member + u"\" file in setup archive");
  std::unique_ptr<zel::TMemoryStream> source = Resources().GetFile(member);
  const String file = GetTempFolder() + name;
  {
    zel::TFileStream target(file, zel::FileMode::Create);
    target.CopyFrom(*source, 0);
  }
  const String params = Parameters(*addons, viewer, extensions, shortcuts);
  // The file and its parameters reach the shell apart, so a blank in the temporary
  // folder's path cannot make another program start. The result is not checked: the
  // add-ons are optional.
  // The shell may hand the open to an extension, which needs COM on this thread.
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  ::ShellExecuteW(nullptr, L"open", zel::as_wcstr(file), zel::as_wcstr(params), nullptr, SW_SHOW);
  if (com) ::CoUninitialize();
  FStartedFile = file;
  RunLog().Log(u"Opened: \"" + file + u"\" " + params);
}

void TInstallerActionAddonsInstall::BuildSummary(TInstallerSummaryBuilder& builder) {
  builder.SetGroup(u"PageAddons", u"Title");
  if (Options().ReadBool(u"Common", u"AddonsViewer", false)) builder.AddLine(u"PageAddons", u"CB1");
  if (Options().ReadBool(u"Common", u"AddonsExtensions", false)) builder.AddLine(u"PageAddons", u"CB2");
  if (Options().ReadBool(u"Common", u"AddonsShortcuts", false)) builder.AddLine(u"PageAddons", u"CB3");
}

}  // namespace kivo
