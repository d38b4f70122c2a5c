#include "product/SetupHelper.h"

#include <windows.h>

#include "package/InstallerErrors.h"
#include "library/win/FileSystem.h"
#include "library/win/SafeTree.h"

namespace kivo {

using zel::String;
using zel::StringView;
using zel::TSafeFolder;

namespace {

// The folder that holds path's last element, and that element's name.
bool SplitParent(StringView path, String& parent, String& name) {
  const String trimmed = zel::ExcludeTrailingBackslash(String(path));
  parent = zel::ExtractFilePath(trimmed);
  name = zel::ExtractFileName(trimmed);
  return !parent.empty() && !name.empty();
}

}  // namespace

bool TSetupHelper::ForceFolder(StringView folder) {
  try {
    TSafeFolder::Create(folder);
    return true;
  } catch (const zel::Exception&) {
    return false;
  }
}

void TSetupHelper::CopyFolder(StringView source, StringView target, bool deleteSource) {
  if (zel::SameText(source, target)) return;
  // Profiles are shaped by their users: no link on either path is gone through.
  try {
    const TSafeFolder from = TSafeFolder::Open(source, TSafeFolder::TTrust::NoLinks);
    const TSafeFolder to = TSafeFolder::Create(target, TSafeFolder::TTrust::NoLinks);
    zel::CopyTree(from, to);
  } catch (const zel::ELinkedPathError&) {
    throw;
  } catch (const zel::Exception& e) {
    throw EInstallerInstallError(zel::Format(u"Cannot copy \"%s\" to \"%s\"", String(source), String(target)));
  }
  if (deleteSource) DeleteFolder(source, false);
}

void TSetupHelper::ExcludeFolder(TInstallerCleanupList& list, StringView folder) {
  for (size_t i = list.size(); i-- > 0;)
    if (zel::StartsWithText(list[i], folder)) list.erase(list.begin() + static_cast<ptrdiff_t>(i));
}

bool TSetupHelper::DeleteFolder(StringView folder, bool onlyIfEmpty) {
  // Clean-up: every failure below just leaves the rest in place.
  try {
    String parentPath, name;
    if (!SplitParent(folder, parentPath, name)) return false;
    std::optional<TSafeFolder> parent = TSafeFolder::OpenIfExists(parentPath);
    if (!parent) return false;
    if (onlyIfEmpty) return parent->DeleteEntry(name) == zel::TDeleteResult::Deleted;
    if (!zel::DirectoryExists(folder)) return false;
    return zel::DeleteTree(*parent, name);
  } catch (const zel::Exception&) {
    return false;
  }
}

void TSetupHelper::FindFiles(StringView folder, const std::function<void(const String&)>& found,
                             const std::function<bool(const String&)>& skip,
                             const std::function<void(const String&)>& linkFound) {
  const String base = zel::IncludeTrailingBackslash(String(folder));
  if (skip && skip(base)) return;
  std::optional<TSafeFolder> root;
  try {
    root = TSafeFolder::OpenIfExists(base);
  } catch (const zel::ELinkedPathError&) {
    if (linkFound) linkFound(base);
    return;
  }
  if (!root) return;
  zel::ForEachFile(
      *root,
      [&](const TSafeFolder&, const zel::TFolderEntry& entry, const String& relative) {
        if (!entry.IsLink()) found(base + relative);
        else if (linkFound) linkFound(base + relative);
      },
      skip ? [&](const String& relative) { return skip(base + relative); } : std::function<bool(const String&)>());
}

TSetupHelper::TRemoval TSetupHelper::RemoveFile(zel::TFolderTree& tree, StringView relative, String* movedTo) {
  const String name = zel::ExtractFileName(String(relative));
  const TSafeFolder* folder = nullptr;
  try {
    folder = tree.Folder(zel::ExtractFilePath(String(relative)));
  } catch (const zel::ELinkedPathError&) {
    return TRemoval::Link;
  } catch (const zel::Exception&) {
    return TRemoval::NotDeleted;
  }
  if (!folder) return TRemoval::Missing;
  try {
    switch (folder->DeleteEntry(name)) {
      case zel::TDeleteResult::Deleted: return TRemoval::Deleted;
      case zel::TDeleteResult::Missing: return TRemoval::Missing;
      case zel::TDeleteResult::Refused: return TRemoval::Link;
      case zel::TDeleteResult::InUse: break;
    }
  } catch (const zel::Exception&) {
    return TRemoval::NotDeleted;
  }
  // A running program or a loaded library: out of the way now, gone at the next restart.
  return zel::MoveAsideUntilRestart(*folder, name, movedTo) ? TRemoval::MovedAside : TRemoval::NotDeleted;
}

bool TSetupHelper::RemoveEmptyFolder(zel::TFolderTree& tree, StringView relative) {
  // Clean-up: a folder that is not empty, or cannot be opened, stays.
  try {
    const String trimmed = zel::ExcludeTrailingBackslash(String(relative));
    if (trimmed.empty()) return false;
    tree.Forget(relative);
    const TSafeFolder* parent = tree.Folder(zel::ExtractFilePath(trimmed));
    return parent && parent->DeleteEntry(zel::ExtractFileName(trimmed)) == zel::TDeleteResult::Deleted;
  } catch (const zel::Exception&) {
    return false;
  }
}

String TSetupHelper::RemovalText(TRemoval removal, const String& path, const String& movedTo) {
  switch (removal) {
    case TRemoval::Deleted: return u"Deleted: " + path;
    case TRemoval::Missing: return u"Not there: " + path;
    case TRemoval::MovedAside: return u"In use, moved aside until restart: " + path + u" -> " + movedTo;
    case TRemoval::Link: return u"Not deleted (a link, or a link on its path): " + path;
    case TRemoval::NotDeleted: break;
  }
  return u"Not deleted: " + path;
}

}  // namespace kivo
