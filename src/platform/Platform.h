#pragma once
// The few operating-system services the portable code needs. One implementation
// per platform: PlatformWindows.cpp (Win32) and PlatformPosix.cpp (Linux builds,
// where the tools, unit tests and fuzzers run).
#include <cstddef>
#include <cstdint>
#include <string>

namespace zel::platform {

// Case-insensitive, locale-aware comparison (<0, 0, >0); equal only when the
// lengths are equal too.
int CompareTextIgnoreCase(std::u16string_view a, std::u16string_view b);
std::u16string UpperCase(std::u16string_view text);
std::u16string LowerCase(std::u16string_view text);

// The system's ANSI code page (1252 on a western system).
unsigned AnsiCodePage();
// Decodes bytes in a code page (0 = ANSI). False when the bytes are not valid in it.
bool DecodeCodePage(const char* data, size_t size, unsigned codePage, std::u16string& out);
// Encodes text in a code page (0 = ANSI); characters it cannot hold become "?".
std::string EncodeCodePage(std::u16string_view text, unsigned codePage);

// The user's interface language (a Windows LANGID such as 1033).
unsigned UserDefaultUILanguage();

// The process command line, as the platform holds it (program path included).
std::u16string ProcessCommandLine();

// Files: an opaque handle; -1 is invalid.
using FileHandle = intptr_t;
constexpr FileHandle InvalidFile = -1;
enum class FileAccess { Read, Write, ReadWrite };
enum class FileDisposition { OpenExisting, CreateAlways, OpenAlways };
// Share flags as Windows understands them; ignored where the platform cannot lock.
enum FileShare : unsigned { ShareNone = 0, ShareRead = 1, ShareWrite = 2, ShareDelete = 4 };
// Returns InvalidFile and sets lastError on failure.
FileHandle FileOpen(std::u16string_view path, FileAccess access, FileDisposition disposition, unsigned share,
                    unsigned& lastError);
void FileClose(FileHandle handle) noexcept;
// Returns -1 on failure.
int64_t FileRead(FileHandle handle, void* buffer, size_t count);
int64_t FileWrite(FileHandle handle, const void* buffer, size_t count);
// origin: 0 begin, 1 current, 2 end. Returns the new position or -1.
int64_t FileSeek(FileHandle handle, int64_t offset, int origin);
bool FileTruncate(FileHandle handle);  // at the current position
// Clears the attributes that stop a file from being replaced (read-only, hidden,
// system on Windows; on Linux it adds the owner's write permission). False when the
// file does not exist or the change is refused.
bool ClearFileAttributes(std::u16string_view path);
// The form of a path that the platform's file calls accept at any length: on Windows
// paths of 248 characters or more (where folder creation stops without it) get the
// "\\?\" prefix ("\\?\UNC\" for UNC paths), made absolute first; elsewhere the path
// unchanged.
std::u16string ExtendedLengthPath(std::u16string_view path);
// The platform's text for an error code (no trailing line break).
std::u16string SystemErrorMessage(unsigned code);

}  // namespace zel::platform

// --- Lookup keys for case-insensitive names (the INI document's hash index).
namespace zel::platform {

// A key that is equal for two texts exactly when CompareTextIgnoreCase calls them equal,
// so that hashing it and comparing agree. Opaque: compare it, hash it, never show it.
std::u16string CaseInsensitiveKey(std::u16string_view text);

}  // namespace zel::platform

// --- Paths after links ------------------------------------------------------------------
namespace zel::platform {

// True when `path` lies inside `folder` (or is `folder` itself) once every symbolic link,
// junction and mount point on the way has been followed, so that a file written at `path`
// cannot land outside `folder`. Both may be relative (to the current folder) and need not
// exist: the deepest existing ancestor of each is resolved to its final path and the
// components below it are taken as written. An existing final component is resolved too.
// False, as unsafe, when any existing component cannot be resolved: a dangling link, a
// link loop, a device, a component that cannot be examined. Components are compared
// whole ("C:\KIVO2" is not inside "C:\KIVO"), ignoring case on Windows, exactly on POSIX.
// Checks the file system as it is at the moment of the call.
bool PathStaysInside(std::u16string_view folder, std::u16string_view path);

}  // namespace zel::platform

// --- Facts of an open file, times, flushing (the backup archive) ----------------------
namespace zel::platform {

// Times as Windows keeps them: 100-nanosecond ticks since 1601-01-01 00:00 UTC.
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kUnixEpochTicks = 116'444'736'000'000'000;  // 1970-01-01 00:00 UTC

struct FileInformation {
  uint64_t Size = 0;
  int64_t LastWriteTime = 0;
  int64_t LastAccessTime = 0;
  int64_t CreationTime = 0;  // where the file system keeps none: the last-write time
  // Windows attribute bits (read-only 0x01, hidden 0x02, system 0x04, archive 0x20, ...);
  // on POSIX: archive, plus read-only when the owner may not write.
  uint32_t Attributes = 0;
};
// False, with lastError set, when the facts cannot be read.
bool FileGetInformation(FileHandle handle, FileInformation& info, unsigned& lastError);

// A wall-clock time in the local time zone.
struct LocalDateTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
// A UTC time in ticks as local time, under the zone's rules (daylight saving) for that date.
bool UtcToLocalTime(int64_t utcTicks, LocalDateTime& local);

// Writes what the system still holds for the file through to the disk.
bool FileFlush(FileHandle handle);

// The calling thread's last OS error code (GetLastError, errno): read it right after the
// call that failed.
unsigned LastErrorCode();

}  // namespace zel::platform
