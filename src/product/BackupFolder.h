#pragma once
// The installation's "!Backup\" folder. An archive is written there as "….zip.part" and
// gets its ".zip" name only once it has been read back; a ".zip.part" that is still there
// when a later run starts was left by a run that failed or was stopped. It is no backup
// (the old files it was made from were never deleted), it is not among the archives the
// keep-three rule counts, and it may be what fills the drive: the next run removes it.
#include <cstdint>
#include <vector>

#include "library/Strings.h"
#include "library/win/SafeFolder.h"

namespace kivo {

constexpr zel::StringView kPartialArchiveExt = u".zip.part";

// An undone run's archive that holds the only copy of files it deleted outside the
// program folder (a profile's) gets this ending in place of ".zip": the keep-three rule
// never counts it, so no later run rotates those files away.
constexpr zel::StringView kKeptArchiveEnding = u" (kept).zip";
zel::String KeptArchiveName(zel::StringView archive);
bool IsKeptArchive(zel::StringView name);

struct TStalePart {
  zel::String Name;
  uint64_t Size = 0;
};

// The partial archives directly in the backups folder: plain files whose name ends in
// ".zip.part" (letter case ignored); links and folders of that name are not ours.
std::vector<TStalePart> ListStaleParts(const zel::TSafeFolder& backups);

// Deletes them by handle and logs each. One that another program holds open (a setup that
// runs into the same folder at this moment) is left alone. Returns the bytes freed.
uint64_t RemoveStaleParts(const zel::TSafeFolder& backups);

}  // namespace kivo
