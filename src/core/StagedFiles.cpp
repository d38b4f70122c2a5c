#include "core/StagedFiles.h"

#include <windows.h>

#include <algorithm>

#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "package/InstallerScript.h"
#include "core/RunFolder.h"
#include "core/RunLog.h"
#include "library/win/OSError.h"
#include "core/ExtractHelper.h"
#include "package/win/InstallerResources.h"

namespace kivo {

using zel::String;
using zel::TSafeFolder;

namespace {

constexpr zel::StringView kNewFiles = u"new";
// Written in pieces: a member may be a mapped view of hundreds of megabytes.
constexpr size_t kWritePiece = 8 * 1024 * 1024;

}  // namespace

TStagedFiles::TStagedFiles(const String& dest, TItemList list, const std::atomic<bool>& cancelled)
    : FDest(zel::IncludeTrailingBackslash(dest)), FList(std::move(list)), FCancelled(cancelled) {
  FRoot.emplace(TSafeFolder::Open(FDest));
  // The destination's own security, inherited: a file put in place keeps what it was
  // given here, which is what it would have been given there.
  std::optional<TSafeFolder> folder(zel::CreateUniqueFolder(*FRoot, kRunFolderPrefix, nullptr));
  FName = zel::ExtractFileName(zel::ExcludeTrailingBackslash(folder->Path()));
  try {
    const zel::TFileHandle journal = folder->CreateNewFile(kRunJournalName, GENERIC_WRITE);
    WriteAndFlush(journal.Get(), std::string(kRunJournalFormat) + "\r\nstaged\r\n",
                  folder->Path() + String(kRunJournalName));
    FFiles.emplace(folder->CreateFolder(kNewFiles));
  } catch (...) {
    // No destructor runs for a half-made object: a folder without its journal would stay.
    folder.reset();
    try {
      zel::DeleteTree(*FRoot, FName);
    } catch (const zel::Exception&) {
      // what could not be made cannot be deleted either; the first failure is the one to tell
    }
    throw;
  }
  FThread = std::thread([this] { WriteAll(); });
}

TStagedFiles::~TStagedFiles() { Discard(); }

bool TStagedFiles::Stopped() const {
  return FStop.load(std::memory_order_relaxed) || FCancelled.load(std::memory_order_relaxed);
}

void TStagedFiles::WriteAll() noexcept {
  try {
    for (const TItem& item : FList())
      if (Stopped() || !WriteOne(item)) return;
    FComplete = true;
  } catch (...) {
    FError = std::current_exception();
  }
}

bool TStagedFiles::WriteOne(const TItem& item) {
  const String target = FDest + item.Relative;
  const TSetupPackageMemberView member = Installer->Resources().GetFileView(item.File->GetTextOrName());
  try {
    const TSafeFolder* folder = FFiles->Folder(zel::ExtractFilePath(item.Relative), true);
    const zel::TFileHandle file = folder->CreateNewFile(zel::ExtractFileName(item.Relative), GENERIC_WRITE);
    for (size_t done = 0; done < member.Size;) {
      if (Stopped()) return false;
      const size_t piece = std::min(kWritePiece, member.Size - done);
      zel::WriteAllOrRaise(file.Get(), member.Data + done, static_cast<unsigned long>(piece),
                           u"WriteFile \"" + folder->Path() + zel::ExtractFileName(item.Relative) + u"\"");
      done += piece;
    }
  } catch (const zel::EOSError& e) {
    RunLog().Log(u"Not written ahead (" + e.Message() + u"): " + target);
    throw EInstallerInstallError(WriteFailureText(target, e.ErrorCode()));
  }
  return true;
}

bool TStagedFiles::Wait() {
  if (FThread.joinable()) FThread.join();
  if (FError) std::rethrow_exception(FError);
  return FComplete;
}

bool TStagedFiles::MoveInto(zel::TFolderTree& dest, const String& relative) {
  const String folder = zel::ExtractFilePath(relative);
  const String name = zel::ExtractFileName(relative);
  const TSafeFolder* from = FFiles->Folder(folder);
  const TSafeFolder* to = dest.Folder(folder, true);
  if (!from || !to) zel::RaiseOSError(ERROR_PATH_NOT_FOUND, u"Put in place \"" + FDest + relative + u"\"");
  try {
    from->MoveTo(name, *to, name, true);
    return true;
  } catch (const zel::EOSError& e) {
    RunLog().Log(u"Not put in place (" + e.Message() + u"): " + FDest + relative);
    from->DeleteEntry(name);
    return false;
  }
}

void TStagedFiles::Discard() noexcept {
  FStop = true;
  if (FThread.joinable()) FThread.join();
  if (!FFiles) return;
  FFiles.reset();
  try {
    if (!zel::DeleteTree(*FRoot, FName)) RunLog().Log(u"Left for the next run to delete: " + FDest + FName + u"\\");
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Left for the next run to delete (" + e.Message() + u"): " + FDest + FName + u"\\");
  }
}

}  // namespace kivo
