#include "package/win/PayloadFile.h"

#include <winternl.h>

#include <algorithm>

#include "library/win/VolumeRoom.h"
#include "library/win/FileSystem.h"
#include "library/win/OSError.h"
#include "library/win/SafeTree.h"

#ifndef FILE_DELETE_ON_CLOSE
#define FILE_DELETE_ON_CLOSE 0x00001000
#endif

namespace kivo {

using namespace zel;

namespace {

constexpr StringView kFolderPrefix = u"KIVO Setup ";
constexpr StringView kFileName = u"payload.tmp";

uint64_t Granularity() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536;
}

// "Common"/"E10" in English: the package opens before the user's language is known.
constexpr char16_t kNoRoom[] =
    u"There is not enough room on the disk %s to unpack the setup: it needs %s there for a while, but only %s is "
    u"free. Free some room on it and run the setup again.";

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

}  // namespace

EPayloadRoomError::EPayloadRoomError(String volume, uint64_t needed, uint64_t free)
    : Exception(Format(kNoRoom, volume, FormatBytes(needed), FormatBytes(free))),
      Volume(std::move(volume)),
      Needed(needed),
      Free(free) {}

TPayloadFile::TPayloadFile(StringView parent, size_t window)
    : FParent(parent.empty() ? LongTempFolder() : IncludeTrailingBackslash(String(parent))) {
  const uint64_t granularity = Granularity();
  FWindow =
      static_cast<size_t>(std::max<uint64_t>(granularity, (window + granularity - 1) / granularity * granularity));
  FFolder = CreatePrivateFolder(FParent, kFolderPrefix);
  FFolderName = ExtractFileName(ExcludeTrailingBackslash(FFolder.Path()));
  FFileName = FFolder.Path() + String(kFileName);
  // Temporary: the system keeps its pages in memory while there is room rather than
  // writing them out at once. Deleted on close, also when the process is killed.
  FFile =
      FFolder.CreateNewFile(kFileName, GENERIC_READ | GENERIC_WRITE, 0, FILE_ATTRIBUTE_TEMPORARY, FILE_DELETE_ON_CLOSE);
}

TPayloadFile::~TPayloadFile() {
  FCached.reset();
  FMapping.Reset();
  FFile.Reset();
  FFolder = TSafeFolder();
  // Best effort: a view still held elsewhere keeps the file, and with it the folder, a
  // little longer; the system's temporary folder clean-up takes an empty folder left here.
  try {
    TSafeFolder::Open(FParent).DeleteEntry(FFolderName);
  } catch (const Exception&) {}
}

void TPayloadFile::RaiseNoRoom(uint64_t needed) const {
  const TVolumeRoom room = RoomOn(FParent);
  throw EPayloadRoomError(room.Volume, needed, room.Free);
}

void TPayloadFile::Begin(uint64_t size) {
  FSize = size;
  FWritten = 0;
  const TVolumeRoom room = RoomOn(FParent);
  if (room.Free < size) throw EPayloadRoomError(room.Volume, size, room.Free);
  // Reserved up front where the file system can, so that a full disk shows now and not
  // after minutes of decoding.
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(FFile.Get(), FileAllocationInfo, &allocation, sizeof allocation) &&
      IsDiskFull(::GetLastError()))
    RaiseNoRoom(size);
}

void TPayloadFile::Write(const uint8_t* data, size_t size) {
  if (FMapping) throw EInvalidOperation(u"The payload has already been written");
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD done = 0;
    if (!::WriteFile(FFile.Get(), data, chunk, &done, nullptr)) {
      const DWORD error = ::GetLastError();
      if (IsDiskFull(error)) RaiseNoRoom(FSize);
      RaiseOSError(error, u" (WriteFile \"" + FFileName + u"\")");
    }
    if (done == 0) RaiseNoRoom(FSize);  // a file that takes nothing more: its disk is full
    data += done;
    size -= done;
    FWritten += done;
  }
  if (OnWrite) OnWrite(FWritten, FSize);
}

void TPayloadFile::Finish() {
  if (FWritten == 0) return;  // nothing to map: every view is empty
  FMapping.Reset(::CreateFileMappingW(FFile.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!FMapping) RaiseLastOSError(u"CreateFileMapping \"" + FFileName + u"\"");
  FSize = FWritten;
}

std::shared_ptr<const uint8_t> TPayloadFile::MapWindow(uint64_t start, size_t size) const {
  void* base =
      ::MapViewOfFile(FMapping.Get(), FILE_MAP_READ, static_cast<DWORD>(start >> 32), static_cast<DWORD>(start), size);
  if (!base) RaiseLastOSError(u"MapViewOfFile \"" + FFileName + u"\"");
  return std::shared_ptr<const uint8_t>(static_cast<const uint8_t*>(base),
                                        [](const uint8_t* p) { ::UnmapViewOfFile(p); });
}

TSetupPackageMemberView TPayloadFile::View(uint64_t offset, size_t size) const {
  static const uint8_t kEmpty = 0;
  if (size == 0) return {&kEmpty, 0, nullptr};
  if (!FMapping || offset > FSize || size > FSize - offset)
    throw EInvalidOperation(u"A view outside the payload was asked for");
  std::lock_guard<std::mutex> lock(FLock);
  if (FCached && offset >= FCachedStart && offset + size <= FCachedStart + FCachedSize)
    return {FCached.get() + (offset - FCachedStart), size, FCached};
  const uint64_t start = offset / FWindow * FWindow;
  if (offset + size <= start + FWindow) {
    // Small members come in table order: the window they share is mapped once.
    FCachedSize = static_cast<size_t>(std::min<uint64_t>(FWindow, FSize - start));
    FCached = MapWindow(start, FCachedSize);
    FCachedStart = start;
    return {FCached.get() + (offset - start), size, FCached};
  }
  // A large member is mapped on its own and goes when its view goes.
  const uint64_t granularity = Granularity();
  const uint64_t from = offset / granularity * granularity;
  const std::shared_ptr<const uint8_t> own = MapWindow(from, static_cast<size_t>(offset - from + size));
  return {own.get() + (offset - from), size, own};
}

}  // namespace kivo
