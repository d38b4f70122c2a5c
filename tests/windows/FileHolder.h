#pragma once
// file_holder.exe (tests/helpers) holding a file open the way a running program holds
// its own files, with a chosen share mode: "none", "read" or "readdelete".
#include "HelperProcess.h"
#include "TestSupport.h"

namespace kivo::test {

// Holds the file from construction until Release or destruction; the marker files go to
// the folder markers.
class TFileHolder {
public:
  TFileHolder(const zel::String& file, const char16_t* share, const zel::String& markers)
      : FReady(markers + u"\\" + zel::ExtractFileName(file) + u".ready"),
        FRelease(markers + u"\\" + zel::ExtractFileName(file) + u".release") {
    ::DeleteFileW(zel::as_wcstr(FReady));
    ::DeleteFileW(zel::as_wcstr(FRelease));
    FProcess = StartProcess(Quoted(HelperPath(u"file_holder.exe")) + u" " + Quoted(file) + u" " + share + u" " +
                            Quoted(FReady) + u" " + Quoted(FRelease) + u" 60000");
    for (int i = 0; i < 6000 && FProcess && !FileExists(FReady); ++i) {
      if (::WaitForSingleObject(FProcess.Get(), 10) == WAIT_OBJECT_0) break;
    }
  }
  ~TFileHolder() {
    Release();
    if (FProcess && ::WaitForSingleObject(FProcess.Get(), 0) != WAIT_OBJECT_0) ::TerminateProcess(FProcess.Get(), 9);
  }
  bool Holding() const {
    return FProcess && FileExists(FReady) && ::WaitForSingleObject(FProcess.Get(), 0) != WAIT_OBJECT_0;
  }
  // Lets the file go and waits until the holder has ended.
  void Release() {
    if (!FProcess) return;
    WriteAll(FRelease, {});
    ::WaitForSingleObject(FProcess.Get(), 10000);
  }

private:
  zel::String FReady, FRelease;
  zel::THandle FProcess;
};

}  // namespace kivo::test
