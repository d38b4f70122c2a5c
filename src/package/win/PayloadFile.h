#pragma once
// A package payload held in a temporary file instead of memory: written as it decodes,
// read through mapped views. Its pages belong to the file, so the system can drop them
// and read them again without a page file, and a product of several gigabytes installs
// on a machine with less memory than that.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "library/Exceptions.h"
#include "library/win/Handles.h"
#include "library/win/SafeFolder.h"
#include "package/SetupPackage.h"

namespace kivo {

// The temporary folder's volume has too little room for the payload. Raised while the
// package opens, before the setup has changed anything; the message is the English one
// until the caller words it in the user's language (Volume, Needed and Free).
class EPayloadRoomError : public zel::Exception {
public:
  EPayloadRoomError(zel::String volume, uint64_t needed, uint64_t free);
  zel::String Volume;
  uint64_t Needed = 0;
  uint64_t Free = 0;
};

class TPayloadFile : public TSetupPackageStore {
public:
  // Views are mapped in windows of this many bytes (a multiple of 64 KiB); a member that
  // crosses a window's end gets a mapping of its own.
  static constexpr size_t kDefaultWindow = 8u << 20;

  // The file goes into a new private folder under parent (the temporary folder when
  // empty): a new, unpredictable name, created new, deleted when closed.
  explicit TPayloadFile(zel::StringView parent = {}, size_t window = kDefaultWindow);
  ~TPayloadFile() override;
  TPayloadFile(const TPayloadFile&) = delete;
  TPayloadFile& operator=(const TPayloadFile&) = delete;

  void Begin(uint64_t size) override;
  void Write(const uint8_t* data, size_t size) override;
  void Finish() override;
  TSetupPackageMemberView View(uint64_t offset, size_t size) const override;

  // Called after every write with the bytes written so far and the size announced; may
  // raise to stop the decode.
  std::function<void(uint64_t written, uint64_t size)> OnWrite;

  // Where the file lies (for the log and the tests).
  const zel::String& FileName() const { return FFileName; }

private:
  std::shared_ptr<const uint8_t> MapWindow(uint64_t start, size_t size) const;
  [[noreturn]] void RaiseNoRoom(uint64_t needed) const;

  zel::String FParent;
  zel::String FFolderName;
  zel::String FFileName;
  zel::TSafeFolder FFolder;
  zel::TFileHandle FFile;
  zel::THandle FMapping;
  uint64_t FSize = 0;
  uint64_t FWritten = 0;
  size_t FWindow;
  // The window the last small member came from: members that follow share it.
  mutable std::mutex FLock;
  mutable std::shared_ptr<const uint8_t> FCached;
  mutable uint64_t FCachedStart = 0;
  mutable size_t FCachedSize = 0;
};

}  // namespace kivo
