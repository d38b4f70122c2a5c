#pragma once
// The run log of unattended deployments: "/LOG=path" (or "/LOG" alone for a file in
// the temporary folder) makes the setup append what it does to a UTF-8 text file.
// Logging never fails a run: every operation swallows its own errors.
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
  // False when the file cannot be opened; the log then stays closed.
  bool Open(zel::StringView path) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept;
  zel::String Path() const;

  // Appends "yyyy-mm-dd hh:mm:ss.mmm  text" and CR LF, unbuffered. The lines of a
  // multi-line text after the first are indented to the column of the text.
  void Log(zel::StringView text) noexcept;

  // Reads the switch "LOG" from the command-line parameters and opens its file. Returns
  // the path used; empty when there is no such switch or the file cannot be opened.
  zel::String OpenFromCommandLine(zel::StringView params) noexcept;

  // The file name that "/LOG" without a value uses: "KIVO Setup yyyy-mm-dd hh-mm-ss.log"
  // in the temporary folder.
  static zel::String DefaultPath();

private:
  mutable std::mutex FLock;
  void* FFile = nullptr;  // a Win32 file handle; the header stays free of <windows.h>
  zel::String FPath;
};

// The process-wide run log.
TRunLog& RunLog();

}  // namespace kivo
