#include "product/ProductPages.h"

#include <algorithm>

#include <objidl.h>
#include <gdiplus.h>

#include "core/Destination.h"
#include "package/InstallerErrors.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "product/ActionPrepare.h"
#include "product/ProductPageRules.h"
#include "ui/toolkit/Dialogs.h"
#include "ui/toolkit/LinkMarkup.h"

namespace kivo {

using zel::String;

// --- TInstallerPageSetup

TInstallerPageSetup::TInstallerPageSetup() : TInstallerPage(ClassNameStatic()) {}

void TInstallerPageSetup::CreateControls() {
  AddHeaderLabel(40, 30, 540, 20, u"LB1");
  FPathEdit = AddControl<zel::TZELButtonEdit>(60, 70, 540, 21, u"PathEdit");
  FPathEdit->SetButtonWidth(100);
  FPathEdit->OnChange = [this] { PathChanged(); };
  FPathEdit->OnButtonClick = [this] { BrowseClick(); };
  FSpace = AddLabel(60, 51, 540, 17, u"", false);
  FUpdate = AddCheckBox(60, 100, 540, 17, u"CB1", [this] { BoxClick(); });
  FBackup = AddCheckBox(60, 120, 540, 17, u"CB4", [this] { BoxClick(); });
  AddHeaderLabel(40, 150, 540, 20, u"LB2");
  FPortable = AddRadioBox(60, 190, 540, 16, u"CB3", [this] { RadioClick(true); });
  FPortable->StartGroup();
  AddLabel(79, 212, 500, 48, u"CB3Hint", true)->SetEnabled(false);
  FStandard = AddRadioBox(60, 248, 540, 16, u"CB2", [this] { RadioClick(false); });
  // The warnings stack at the bottom inside these margins.
  SetPadding({40, 20, 40, 20});
  Realign();
}

bool TInstallerPageSetup::CanGoNext() {
  // A typed text that is no usable path yet goes to Next, which says what is wrong.
  return !Installer->DestPath().empty() || (FTypedProblem && !zel::Trim(FPathEdit->Text()).empty());
}

namespace {

// "C:\" or "\\server\share\" of a normalized destination.
String DriveRoot(const String& dest) {
  if (dest.size() >= 3 && dest[1] == u':') return dest.substr(0, 3);
  if (dest.size() > 2 && dest[0] == u'\\' && dest[1] == u'\\') {
    const size_t server = dest.find(u'\\', 2);
    const size_t share = server == String::npos ? String::npos : dest.find(u'\\', server + 1);
    return share == String::npos ? zel::IncludeTrailingBackslash(dest) : dest.substr(0, share + 1);
  }
  return {};
}

// The drive as people name it: "C:", "\\server\share".
String DriveName(const String& root) { return zel::ExcludeTrailingBackslash(root); }

// The space free to this user on the drive of dest (whose folders need not exist yet).
bool FreeSpace(const String& dest, uint64_t& free) {
  String folder = dest;
  while (!folder.empty() && !zel::DirectoryExists(folder)) {
    const String parent = zel::ExtractFilePath(zel::ExcludeTrailingBackslash(folder));
    if (parent.size() >= folder.size()) return false;
    folder = parent;
  }
  ULARGE_INTEGER available{};
  if (folder.empty() || !::GetDiskFreeSpaceExW(zel::as_wcstr(folder), &available, nullptr, nullptr)) return false;
  free = available.QuadPart;
  return true;
}

// What the product's files take once extracted.
uint64_t NeededSpace() {
  const TSetupPackageFileTable& files = Installer->Resources().ProductPackage().FileTable();
  uint64_t total = 0;
  for (int i = 0; i < files.Count(); ++i) total += static_cast<uint64_t>(std::max<int64_t>(0, files.Items(i).Size));
  return total;
}

char16_t DecimalSeparator() {
  wchar_t text[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 1) return static_cast<char16_t>(text[0]);
  return u'.';
}

}  // namespace

String TInstallerPageSetup::Size(uint64_t bytes) const {
  const String units[3] = {GetText(u"KB"), GetText(u"MB"), GetText(u"GB")};
  return FormatByteSize(bytes, units, DecimalSeparator());
}

String TInstallerPageSetup::CheckFolder() {
  using TKind = TTypedFolderProblem::TKind;
  const String typed = zel::Trim(FPathEdit->Text());
  const TTypedFolderProblem problem = TypedFolderProblem(typed);
  if (problem.Kind == TKind::Relative) return zel::Format(GetText(u"ERelative"), typed);
  if (problem.Kind == TKind::InvalidCharacter) return zel::Format(GetText(u"EInvalidChar"), typed, problem.Invalid);
  const String dest = Installer->DestPath();
  const String root = DriveRoot(dest);
  if (root.empty()) return {};  // a refused folder: the page says why already
  const UINT type = ::GetDriveTypeW(zel::as_wcstr(root));
  if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return zel::Format(GetText(u"ENoDrive"), DriveName(root));
  DWORD flags = 0;
  if (type == DRIVE_CDROM ||
      (::GetVolumeInformationW(zel::as_wcstr(root), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
       (flags & FILE_READ_ONLY_VOLUME)))
    return zel::Format(GetText(u"EReadOnly"), DriveName(root));
  uint64_t free = 0;
  const uint64_t needed = NeededSpace();
  if (FreeSpace(dest, free) && free < needed)
    return zel::Format(GetText(u"ENoRoom"), DriveName(root), Size(needed), Size(free));
  return {};
}

bool TInstallerPageSetup::ConfirmNext() {
  const String problem = CheckFolder();
  if (problem.empty()) {
    // Going back to an older version is the user's explicit choice, never a default.
    if (!TInstallerActionPrepare::IsDowngrade()) return true;
    TInstallerProductInfo& product = Installer->ProductInfo();
    const String question = zel::Format(GetText(u"W4Confirm"), product.GetInstalledVersionText(), product.GetVersion());
    const bool confirmed =
        zel::AskOkCancel(::GetAncestor(Handle(), GA_ROOT), question, Resources().GetText(u"Common", u"Caption"));
    RunLog().Log(String(u"Wizard: installing over a newer version ") + (confirmed ? u"confirmed" : u"declined"));
    return confirmed;
  }
  RunLog().Log(u"Wizard: folder refused: " + problem);
  FPathError = problem;
  Refresh();
  zel::ShowMessageBox(::GetAncestor(Handle(), GA_ROOT), problem, Resources().GetText(u"Common", u"Caption"),
                      zel::TMessageKind::Warning);
  FPathEdit->SetFocus();
  return false;
}

void TInstallerPageSetup::UpdateSpace() {
  const String dest = Installer->DestPath();
  const String root = DriveRoot(dest);
  uint64_t free = 0;
  if (root.empty() || !FreeSpace(dest, free)) {
    FSpace->SetCaption(dest.empty() ? String() : zel::Format(GetText(u"SpaceNeeded"), Size(NeededSpace())));
    return;
  }
  FSpace->SetCaption(zel::Format(GetText(u"Space"), Size(NeededSpace()), Size(free), DriveName(root)));
}

void TInstallerPageSetup::Prepare() {
  TInstallerPage::Prepare();
  FPathEdit->SetButtonCaption(GetText(u"Browse"));
  Refresh();
}

void TInstallerPageSetup::Refresh() {
  NotifyStateChanged();
  // While the user types, or while the typed folder is refused, the edit keeps the text.
  if (!FEditing && FPathError.empty() && !FTypedProblem) FPathEdit->SetText(Installer->DestPath());
  UpdateSpace();
  TInstallerProductInfo& product = Installer->ProductInfo();
  TSetupPageInput input;
  input.Update = Installer->HasFlag(TInstallerFlag::Update);
  input.Portable = Installer->HasFlag(TInstallerFlag::Portable);
  input.NoBackup = Installer->HasFlag(TInstallerFlag::NoBackup);
  input.CanUpdate = product.CanUpdate();
  input.InstalledPortable = input.Update && product.IsPortable();
  input.ProgramFilesPath = Installer->IsProgramFilesPath();
  const TSetupPageView view = SetupPageView(input);
  FUpdate->SetChecked(view.UpdateChecked);
  FUpdate->SetVisible(view.UpdateVisible);
  FBackup->SetChecked(view.BackupChecked);
  FBackup->SetVisible(view.BackupVisible);
  FPortable->SetChecked(view.PortableChosen);
  FStandard->SetChecked(!view.PortableChosen);
  FPortable->SetEnabled(view.KindEnabled);
  FStandard->SetEnabled(view.KindEnabled);

  for (zel::TZELWarningLabel* label : FWarnings) Remove(label);
  FWarnings.clear();
  if (!FPathError.empty()) AddWarning(FPathError);
  if (view.UpdateWarning)
    AddWarning(zel::Format(GetText(u"W1"), product.GetInstalledVersionText(), product.GetVersion()), true);
  // The same text as the ready page's summary line.
  const String existing = TInstallerActionPrepare::ExistingInstallationWarning();
  if (!existing.empty()) AddWarning(existing);
  Realign();
}

void TInstallerPageSetup::AddWarning(const String& text, bool information) {
  auto* label = Add<zel::TZELWarningLabel>();
  label->SetInformation(information);
  // Ends the radio buttons' group, so that the arrow keys do not wander onto it.
  ::SetWindowLongPtrW(label->Handle(), GWL_STYLE, ::GetWindowLongPtrW(label->Handle(), GWL_STYLE) | WS_GROUP);
  label->SetCaption(text);
  label->SetAlign(zel::TAlign::Bottom, {0, 6, 0, 0});
  FWarnings.push_back(label);
}

std::vector<String> TInstallerPageSetup::Warnings() const {
  std::vector<String> texts;
  // Bottom-aligned controls stack upwards in creation order: the last is the top one.
  for (auto it = FWarnings.rbegin(); it != FWarnings.rend(); ++it) texts.push_back((*it)->Caption());
  return texts;
}

void TInstallerPageSetup::PathChanged() {
  if (FEditing) return;
  FEditing = true;
  try {
    ApplyPath(FPathEdit->Text());
  } catch (...) {
    FEditing = false;
    throw;
  }
  FEditing = false;
}

void TInstallerPageSetup::ApplyPath(const String& path) {
  const bool typedProblem = TypedFolderProblem(path).Kind != TTypedFolderProblem::TKind::None;
  if (path == Installer->DestPath() && FPathError.empty() && !typedProblem && !FTypedProblem) return;
  FPathError.clear();
  FTypedProblem = typedProblem;
  if (typedProblem) {
    // Never made into some other folder ("kivo" under the current one, "C:\a|b" as
    // "C:\ab"): Next says what is wrong, in the user's words.
    Installer->SetDestPath(u"");
    Refresh();
    return;
  }
  try {
    Installer->SetDestPath(path);
  } catch (const EInstallerInstallError& e) {
    // A refused folder (a drive's root, a folder of Windows) while the user types: Next
    // waits for a usable one, and the page says why, in the user's language where the
    // language file has the words.
    Installer->SetDestPath(u"");
    FPathError = RefusalText(path);
    if (FPathError.empty()) FPathError = e.Message();
  }
  Refresh();
}

String TInstallerPageSetup::RefusalText(const String& path) const {
  using TKind = TRefusedDestination::TKind;
  const String normalized = NormalizeDestPath(path);
  const TRefusedDestination refused = RefusedDestination(normalized);
  // "C:\Users", as folders are named to people; a drive's root keeps its backslash.
  const String folder = normalized.size() > 3 ? zel::ExcludeTrailingBackslash(normalized) : normalized;
  switch (refused.Kind) {
    case TKind::DriveRoot: return zel::Format(GetText(u"E1"), folder);
    case TKind::WindowsFolder: return zel::Format(GetText(u"E2"), folder);
    case TKind::SystemFolder: return zel::Format(GetText(u"E3"), folder);
    case TKind::HoldsSystemFolder: return zel::Format(GetText(u"E4"), folder, refused.HeldFolder);
    case TKind::OtherProfile: return zel::Format(GetText(u"E5"), folder);
    case TKind::None: break;
  }
  return {};
}

void TInstallerPageSetup::BrowseClick() {
  String folder;
  if (!zel::BrowseForFolder(::GetAncestor(Handle(), GA_ROOT), Installer->DestPath(), folder)) return;
  RunLog().Log(u"Wizard: folder chosen " + folder);
  // A folder that holds an installation is the one to update, whatever its name.
  const String inside = zel::IncludeTrailingBackslash(folder);
  const bool installed = zel::FileExists(inside + u"KIVO.ini") || zel::FileExists(inside + u"KIVO3.ini");
  ApplyPath(BrowsedDestination(folder, Installer->ProductInfo().GetName(), installed));
}

void TInstallerPageSetup::BoxClick() {
  Installer->SetFlag(TInstallerFlag::NoBackup, !FBackup->Checked());
  Installer->SetFlag(TInstallerFlag::Update, FUpdate->Checked());  // dropped again where nothing can be updated
  Refresh();
}

void TInstallerPageSetup::RadioClick(bool portable) {
  TInstallerProductInfo& product = Installer->ProductInfo();
  const String moved = DestinationForKind(portable, Installer->DestPath(), Installer->IsProgramFilesPath(),
                                          product.GetDefaultPortablePath(), product.GetDefaultPath());
  if (!moved.empty()) Installer->SetDestPath(moved);
  Installer->SetFlag(TInstallerFlag::Portable, portable);  // dropped again under the program-files folder
  Refresh();
}

// --- TInstallerPageAddons

TInstallerPageAddons::TInstallerPageAddons()
    : TInstallerPage(ClassNameStatic()),
      FAddons(Installer->Resources().GetStringList(u"addons.ini")),
      FPicture(Installer->Resources(), FAddons->Values(u"I0")) {}

TInstallerPageAddons::~TInstallerPageAddons() = default;

void TInstallerPageAddons::CreateControls() {
  AddHeaderLabel(40, 30, 300, 40, u"L0")->SetWordWrap(true);
  FViewer = AddCheckBox(60, 100, 500, 17, u"CB1", [this] { Store(); });
  FExtensions = AddCheckBox(60, 120, 500, 17, u"CB2", [this] { Store(); });
  FShortcuts = AddCheckBox(60, 140, 500, 17, u"CB3", [this] { Store(); });
  FText1 = AddControl<zel::TZELFormattedLabel>(40, 280, 500, 20, u"");
  FText2 = AddControl<zel::TZELFormattedLabel>(40, 310, 550, 50, u"");
}

void TInstallerPageAddons::Localize() {
  TInstallerPage::Localize();
  FText1->SetCaption(zel::FormatWithLinks(GetText(u"L1"), {FAddons->Values(u"L0")}));
  FText2->SetCaption(zel::FormatWithLinks(GetText(u"L2"), {FAddons->Values(u"L1"), FAddons->Values(u"L2")}));
}

void TInstallerPageAddons::Paint(zel::TZELCanvas& canvas, const zel::TRect& client) {
  TInstallerPage::Paint(canvas, client);
  if (!FPicture) return;
  const int width = Scale().Apply(FPicture.DesignWidth());
  const int height = Scale().Apply(FPicture.DesignHeight());
  const int right = client.Right - Scale().Apply(10);
  canvas.DrawImage(FPicture.For(Scale()), zel::TRect{right - width, client.Top, right, client.Top + height});
}

void TInstallerPageAddons::Prepare() {
  TInstallerPage::Prepare();
  FViewer->SetChecked(Options().ReadBool(u"Common", u"AddonsViewer", true));
  FShortcuts->SetChecked(Options().ReadBool(u"Common", u"AddonsShortcuts", true));
  FExtensions->SetChecked(Options().ReadBool(u"Common", u"AddonsExtensions", true));
  Store();
}

void TInstallerPageAddons::Store() {
  Options().WriteBool(u"Common", u"AddonsViewer", FViewer->Checked());
  Options().WriteBool(u"Common", u"AddonsExtensions", FExtensions->Checked());
  Options().WriteBool(u"Common", u"AddonsShortcuts", FShortcuts->Checked());
}

// --- TInstallerPageIntegration

void TInstallerPageIntegration::CreateControls() {
  auto box = [this](int top, const char16_t* key, const char16_t* option) {
    FBoxes.emplace_back(AddCheckBox(60, top, 540, 16, key, [this] { Store(); }), option);
  };
  AddHeaderLabel(40, 30, 540, 20, u"LB1");
  box(70, u"CB1", u"ShortcutDesktop");
  box(90, u"CB2", u"ShortcutStartMenu");
  AddHeaderLabel(40, 120, 540, 20, u"LB2");
  box(160, u"CB4", u"IntegrateToWindows");
  AddLabel(79, 180, 540, 48, u"CB4Hint", true)->SetEnabled(false);
  box(230, u"CB3", u"AssociateWithFiles");
  box(250, u"CB5", u"RegisterContextMenu");
}

bool TInstallerPageIntegration::IsAvailable() {
  return !Installer->HasFlag(TInstallerFlag::Portable) && !Installer->HasFlag(TInstallerFlag::Update);
}

void TInstallerPageIntegration::Prepare() {
  TInstallerPage::Prepare();
  const bool standard = !Installer->HasFlag(TInstallerFlag::Portable);
  for (const auto& [box, option] : FBoxes) box->SetChecked(Options().ReadBool(u"Integration", option, standard));
}

void TInstallerPageIntegration::Store() {
  for (const auto& [box, option] : FBoxes) Options().WriteBool(u"Integration", option, box->Checked());
}

// --- TInstallerPageUninstallParams

void TInstallerPageUninstallParams::CreateControls() {
  FFolder = AddLabel(44, 12, 540, 17, u"", false);
  FBackups = AddCheckBox(44, 40, 480, 17, u"CB1", [this] { Store(); });
  FContent = AddCheckBox(44, 65, 480, 17, u"CB2", [this] { ContentClick(); });
}

void TInstallerPageUninstallParams::ContentClick() {
  // Settings, playlists and the library cannot be had back: asked once more.
  if (FContent->Checked() && !zel::AskOkCancel(::GetAncestor(Handle(), GA_ROOT), GetText(u"CB2Confirm"),
                                               Resources().GetText(u"Common", u"CaptionUninstall")))
    FContent->SetChecked(false);
  Store();
}

void TInstallerPageUninstallParams::Prepare() {
  TInstallerPage::Prepare();
  FFolder->SetCaption(zel::Format(GetText(u"LFolder"), zel::ExcludeTrailingBackslash(Installer->DestPath())));
  FBackups->SetChecked(Options().ReadBool(u"Common", u"RemoveBackups", false));
  FContent->SetChecked(Options().ReadBool(u"Common", u"RemoveContent", false));
}

void TInstallerPageUninstallParams::Store() {
  Options().WriteBool(u"Common", u"RemoveBackups", FBackups->Checked());
  Options().WriteBool(u"Common", u"RemoveContent", FContent->Checked());
}

}  // namespace kivo
