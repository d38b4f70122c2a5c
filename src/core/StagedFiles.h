#pragma once
// The product's new files written ahead, while earlier steps of the run wait (the close
// pass gives running programs two seconds to end): into a run folder of their own inside
// the destination, on the destination's volume, so that putting each in place later is a
// rename. The folder's journal marks it as one a killed run's successor simply deletes.
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "library/win/SafeTree.h"

namespace kivo {

class TInstallerScriptFile;

class TStagedFiles {
public:
  struct TItem {
    const TInstallerScriptFile* File;
    zel::String Relative;  // below the destination: "Plugins\\a.dll"
  };

  // Makes the folder in dest (which must exist) and starts writing, on a thread of its
  // own, the items that `list` gives there (it runs on that thread too: looking at every
  // target's path takes its time). The writing stops soon once `cancelled` is set (the
  // flag outlives this object, so another thread may set it at any time).
  using TItemList = std::function<std::vector<TItem>()>;
  TStagedFiles(const zel::String& dest, TItemList list, const std::atomic<bool>& cancelled);
  // Discard().
  ~TStagedFiles();
  TStagedFiles(const TStagedFiles&) = delete;
  TStagedFiles& operator=(const TStagedFiles&) = delete;

  // The folder's name in the destination.
  const zel::String& Name() const { return FName; }
  // Waits until every item is written, or the writing stopped: false then, and what was
  // written must not be used. Raises the first failure (EInstallerInstallError naming the
  // file's place in the destination, with the cause in the user's words).
  bool Wait();
  // Moves the staged copy of `relative` into place in dest (replacing what is there).
  // False when it cannot (a file in use there): the staged copy is then gone, and the
  // caller writes the file the ordinary way. ELinkedPathError where a link is met.
  bool MoveInto(zel::TFolderTree& dest, const zel::String& relative);
  // Stops the writing and deletes the folder with what is left in it.
  void Discard() noexcept;

private:
  void WriteAll() noexcept;
  // False when the writing stopped before the item was whole.
  bool WriteOne(const TItem& item);
  bool Stopped() const;

  zel::String FDest;  // with a trailing backslash
  zel::String FName;
  std::optional<zel::TSafeFolder> FRoot;   // the destination
  std::optional<zel::TFolderTree> FFiles;  // the folder's "new\"
  TItemList FList;
  std::atomic<bool> FStop{false};
  const std::atomic<bool>& FCancelled;
  bool FComplete = false;  // on the writing thread until it is joined
  std::exception_ptr FError;
  std::thread FThread;  // last: starts once every other field is ready
};

}  // namespace kivo
