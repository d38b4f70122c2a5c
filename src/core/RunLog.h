#pragma once
// The run log of unattended deployments: "/LOG=path" (or "/LOG" alone for a file in
// the temporary folder) makes the setup append what it does to a UTF-8 text file.
// Logging never fails a run: every operation swallows its own errors.
#include <memory>
#include <mutex>

#include "library/Strings.h"

namespace kivo {

class TRunLog {
public:
  TRunLog() = default;
  ~TRunLog();
  TRunLog(const TRunLog&) = delete;
  TRunLog& operator=(const TRunLog&) = delete;

  // Opens (creating if needed) the file for appending; an open log is closed first.
  // False when the file cannot be opened, or when what is there is no plain file at
  // that place (a symbolic link or junction, a folder, a file with other names:
  // Refused() then names it); the log then stays closed.
  bool Open(zel::StringView path) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept;
  zel::String Path() const;

  // Appends "yyyy-mm-dd hh:mm:ss.mmm  text" and CR LF, unbuffered. The lines of a
  // multi-line text after the first are indented to the column of the text.
  void Log(zel::StringView text) noexcept;

  // Reads the switch "LOG" from the command-line parameters and opens its file. Returns
  // the path used; empty when there is no such switch or the file cannot be opened.
  // "/LOG" alone creates a new file under DefaultPath(), or, when that name is taken,
  // "… (2).log" and on: an existing file or link there is never opened.
  zel::String OpenFromCommandLine(zel::StringView params) noexcept;
  // The last path that was opened and refused as no plain file; empty when none.
  zel::String Refused() const { return FRefused; }

  // The file name that "/LOG" without a value uses: "KIVO Setup yyyy-mm-dd hh-mm-ss.log"
  // in the temporary folder; raises EOSError when the system has none.
  static zel::String DefaultPath();

private:
  bool OpenFile(zel::StringView path, bool createNew) noexcept;
  // True when the open file is a plain file with one name, at `path` itself.
  static bool IsPlainFileAt(void* file, zel::StringView path);

  // Closes a Win32 file handle; the header stays free of <windows.h>.
  struct TCloseFile {
    void operator()(void* file) const noexcept;
  };

  mutable std::mutex FLock;
  std::unique_ptr<void, TCloseFile> FFile;
  zel::String FPath;
  zel::String FRefused;
};

// The process-wide run log.
TRunLog& RunLog();

}  // namespace kivo
