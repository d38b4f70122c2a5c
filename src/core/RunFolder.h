#pragma once
// The private folders a run keeps inside the destination, "~KIVO Setup <hex digits>\": the
// previous installation's files kept aside, or the new files written ahead. Each holds a
// journal that says what it is, so that the next run can finish or undo a run that was
// killed. Every other walk of the destination leaves these folders alone.
#include <string>

#include "library/Strings.h"

namespace kivo {

constexpr zel::StringView kRunFolderPrefix = u"~KIVO Setup ";
constexpr zel::StringView kRunJournalName = u"journal.txt";
// The journal's first line; a folder whose journal begins otherwise is not this setup's.
constexpr char kRunJournalFormat[] = "KIVO Setup journal 1";

// Writes all of text to the open file and flushes it to the disk; raises naming path.
void WriteAndFlush(void* file, const std::string& text, const zel::String& path);

}  // namespace kivo
