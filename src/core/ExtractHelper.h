#pragma once
// Writes the product's files to disk and copes with targets that are locked, for
// instance by a running copy of the product.
#include <windows.h>

#include <memory>

#include "library/Streams.h"

namespace kivo {

class TInstallerScriptFile;

// Puts the locked-file question (Abort, Retry, Ignore) to the user on the main thread and
// returns IDABORT, IDRETRY or IDIGNORE. The start-up sets the wizard's own box; the
// system's is the default (tests, and a start-up without the wizard's toolkit).
using TLockedFileQuestion = int (*)(HWND owner, zel::StringView text, zel::StringView caption);
extern TLockedFileQuestion AskLockedFileQuestion;

class TInstallerExtractHelper {
public:
  virtual ~TInstallerExtractHelper() = default;

  // Expands the entry's target, creates its folder and writes the member.
  void ExtractFile(const TInstallerScriptFile& entry);
  // Creates the folder with its missing parents; raises the "E3" error.
  void ForceFolder(zel::StringView folder);
  // True with a stream to write; false when the target is to be left as it is.
  bool CreateTargetStream(zel::StringView target, zel::TStream& source, std::unique_ptr<zel::TStream>& stream);
  // The "Common" text of key, formatted with one path argument.
  zel::String FormatText(zel::StringView key, zel::StringView argument);

protected:
  // Asks Abort/Retry/Ignore about a locked target on the main thread; returns IDABORT,
  // IDRETRY or IDIGNORE (anything else counts as Ignore).
  virtual int AskLockedFile(zel::StringView target);
};

// Why a file could not be written, in the user's words: "the disk D: is full" (keys "E8"),
// or the system's reason ("E9"); the file is named in both.
zel::String WriteFailureText(const zel::String& target, unsigned error);

}  // namespace kivo
