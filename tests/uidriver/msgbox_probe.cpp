// A message box for trying the UI driver: "msgbox_probe [caption [okcancel]]" shows an
// Abort/Retry/Ignore box (or OK/Cancel) with a two-line text and exits with the id of
// the button pressed (1 OK, 2 Cancel or closed, 3 Abort, 4 Retry, 5 Ignore).
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* caption = argc > 1 ? argv[1] : L"Setup";
  const UINT buttons = argc > 2 && ::lstrcmpiW(argv[2], L"okcancel") == 0 ? MB_OKCANCEL : MB_ABORTRETRYIGNORE;
  return ::MessageBoxW(nullptr, L"Cannot open \"C:\\Program Files\\KIVO\\KIVO.exe\".\r\nÜberprüfen Sie: доступ",
                       caption, buttons | MB_ICONERROR);
}
