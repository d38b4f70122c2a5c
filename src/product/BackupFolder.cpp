#include "product/BackupFolder.h"

#include "core/RunLog.h"

namespace kivo {

using zel::String;

String KeptArchiveName(zel::StringView archive) {
  const zel::StringView ext = u".zip";
  const zel::StringView stem =
      zel::EndsWithText(archive, ext) ? archive.substr(0, archive.size() - ext.size()) : archive;
  return String(stem) + String(kKeptArchiveEnding);
}

bool IsKeptArchive(zel::StringView name) { return zel::EndsWithText(name, kKeptArchiveEnding); }

std::vector<TStalePart> ListStaleParts(const zel::TSafeFolder& backups) {
  std::vector<TStalePart> parts;
  for (const zel::TFolderEntry& entry : backups.List())
    if (!entry.IsFolder() && !entry.IsLink() && entry.Name.size() > kPartialArchiveExt.size() &&
        zel::EndsWithText(entry.Name, kPartialArchiveExt))
      parts.push_back({entry.Name, entry.Size});
  return parts;
}

uint64_t RemoveStaleParts(const zel::TSafeFolder& backups) {
  uint64_t freed = 0;
  for (const TStalePart& part : ListStaleParts(backups)) {
    const String path = backups.Path() + part.Name;
    switch (backups.DeleteEntry(part.Name)) {
      case zel::TDeleteResult::Deleted:
        freed += part.Size;
        RunLog().Log(u"Deleted (an unfinished backup of an earlier run): " + path);
        break;
      case zel::TDeleteResult::Missing: break;
      case zel::TDeleteResult::Refused: RunLog().Log(u"Not deleted (a link): " + path); break;
      case zel::TDeleteResult::InUse: RunLog().Log(u"Not deleted (in use): " + path); break;
    }
  }
  return freed;
}

}  // namespace kivo
