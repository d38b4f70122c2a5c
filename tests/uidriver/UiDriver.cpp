// uidriver: drives real windows for the end-to-end tests, from outside the program.
//
//   uidriver list
//       every visible top-level window: "class<TAB>title"
//   uidriver wait  WINDOW [--timeout ms]
//       waits until the window is there and prints its handle
//   uidriver texts WINDOW [--timeout ms] [--all]
//       the window's title, then each child control (visible ones unless --all) as
//       "class<TAB>id<TAB>text"; CR, LF and TAB in texts are written as \r, \n, \t
//   uidriver click WINDOW (--button CAPTION | --id N) [--timeout ms]
//       clicks a button of the window, found by caption ("&" ignored, any case) or id
//   uidriver close WINDOW [--timeout ms] [--wait]
//       posts WM_CLOSE; with --wait, waits until the window is gone or hidden
//   uidriver state WINDOW [--timeout ms]
//       the title, then every child control as "class<TAB>id<TAB>flags<TAB>text": flags
//       V visible, E enabled, C checked, F focused (or "-"); a progress bar's text is
//       "pos=N"
//   uidriver page WINDOW [--timeout ms]
//       the name of the wizard page shown (the visible child of class TInstallerPage)
//   uidriver type WINDOW --id N --text TEXT
//       sets the text of a control (an edit tells its parent as if typed)
//   uidriver select WINDOW --id N --text ITEM
//       chooses the item with that text in a combo box and tells its parent, as a
//       choice with the mouse does
//   uidriver link WINDOW --id N [--index I]
//       opens link I (from 0) of a link label: the control takes the focus, the
//       right arrow key moves to the link and Enter opens it
//   uidriver setting WINDOW --text NAME
//       sends WM_SETTINGCHANGE naming the setting, as the system does when it changes
//   uidriver key WINDOW --key enter|escape|tab|space | --mnemonic LETTER
//       posts the key (Alt+letter for --mnemonic) to the control with the focus
//
// WINDOW is "--class C" and/or "--title T" (both exact, the class in any case; the
// window must be visible). Output is UTF-8. Exit code 0 on success, 1 when the window
// or control did not turn up in time (default 10000 ms), 2 for a wrong command line.
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD DefaultTimeout = 10000;
constexpr DWORD PollInterval = 50;
// A window busy on a loaded machine answers late; a hung one must still not hang the driver.
constexpr UINT TextTimeout = 10000;

struct TOptions {
  std::wstring Command;
  std::wstring ClassName;
  std::wstring Title;
  std::wstring Button;
  int Id = -1;
  bool HasId = false;
  DWORD Timeout = DefaultTimeout;
  bool All = false;
  bool WaitGone = false;
  std::wstring Text;
  bool HasText = false;
  std::wstring Key;
  std::wstring Mnemonic;
  int Index = 0;
};

void Write(const std::wstring& text) {
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n : 0, '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  bytes += '\n';
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Error(const std::wstring& text) {
  const std::wstring line = L"uidriver: " + text + L"\n";
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n : 0, '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Escaped(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\r') out += L"\\r";
    else if (c == L'\n') out += L"\\n";
    else if (c == L'\t') out += L"\\t";
    else out += c;
  }
  return out;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256];
  const int n = ::GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, n > 0 ? n : 0);
}

// WM_GETTEXT itself: GetWindowText does not ask controls of other processes.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, TextTimeout, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             TextTimeout, &copied))
    return {};
  text.resize(copied < text.size() ? copied : text.size() - 1);
  return text;
}

bool SameTextNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring WithoutAccelerator(const std::wstring& caption) {
  std::wstring out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&') {
      if (i + 1 < caption.size() && caption[i + 1] == L'&') out += caption[++i];  // "&&" is a literal "&"
      continue;
    }
    out += caption[i];
  }
  return out;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        if (::IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> windows;
  ::EnumChildWindows(
      parent,
      [](HWND window, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

HWND FindTopWindow(const TOptions& options) {
  for (HWND window : TopLevelWindows()) {
    if (!options.ClassName.empty() && !SameTextNoCase(ClassOf(window), options.ClassName)) continue;
    if (!options.Title.empty() && TextOf(window) != options.Title) continue;
    return window;
  }
  return nullptr;
}

// Polls until `find` gives a window or the time is up.
HWND WaitFor(DWORD timeout, const std::function<HWND()>& find) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (HWND window = find()) return window;
    if (::GetTickCount64() - start >= timeout) return nullptr;
    ::Sleep(PollInterval);
  }
}

HWND FindControl(HWND parent, const TOptions& options) {
  const std::wstring wanted = WithoutAccelerator(options.Button);
  HWND fallback = nullptr;
  for (HWND child : Descendants(parent)) {
    const bool match =
        options.HasId ? ::GetDlgCtrlID(child) == options.Id : SameTextNoCase(WithoutAccelerator(TextOf(child)), wanted);
    if (!match) continue;
    // A visible, enabled control first; a hidden one with the same caption only if alone.
    if (::IsWindowVisible(child) && ::IsWindowEnabled(child)) return child;
    if (!fallback) fallback = child;
  }
  return fallback;
}

std::wstring HandleText(HWND window) {
  wchar_t buffer[32];
  std::swprintf(buffer, 32, L"0x%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  return buffer;
}

std::wstring Describe(const TOptions& options) {
  std::wstring text;
  if (!options.ClassName.empty()) text += L"class \"" + options.ClassName + L"\"";
  if (!options.Title.empty()) text += (text.empty() ? L"" : L", ") + std::wstring(L"title \"") + options.Title + L"\"";
  return text;
}

void Click(HWND top, HWND control) {
  // Best effort: a dialog that is not active may ignore a click on Windows.
  ::SetForegroundWindow(top);
  if (SameTextNoCase(ClassOf(control), L"Button")) {
    ::PostMessageW(control, BM_CLICK, 0, 0);
    return;
  }
  // A control of its own class (the skinned toolkit's buttons): press and release the
  // mouse in its middle.
  RECT rect{};
  ::GetClientRect(control, &rect);
  const LPARAM point = MAKELPARAM((rect.right - rect.left) / 2, (rect.bottom - rect.top) / 2);
  ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
  ::PostMessageW(control, WM_LBUTTONUP, 0, point);
}

int Usage();

// The control with the keyboard focus in the window's thread, or null.
HWND FocusOf(HWND top) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

std::wstring StateLine(HWND child, HWND focus) {
  std::wstring flags;
  if (::IsWindowVisible(child)) flags += L'V';
  if (::IsWindowEnabled(child)) flags += L'E';
  const std::wstring className = ClassOf(child);
  if (SameTextNoCase(className, L"Button")) {
    DWORD_PTR check = 0;
    ::SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, TextTimeout, &check);
    if (check == BST_CHECKED) flags += L'C';
  }
  if (child == focus) flags += L'F';
  if (flags.empty()) flags = L"-";
  std::wstring text;
  if (SameTextNoCase(className, L"msctls_progress32")) {
    DWORD_PTR position = 0;
    ::SendMessageTimeoutW(child, WM_USER + 8 /* PBM_GETPOS */, 0, 0, SMTO_ABORTIFHUNG, TextTimeout, &position);
    text = L"pos=" + std::to_wstring(position);
  } else {
    text = Escaped(TextOf(child));
  }
  return className + L"\t" + std::to_wstring(::GetDlgCtrlID(child)) + L"\t" + flags + L"\t" + text;
}

HWND VisiblePage(HWND top) {
  for (HWND child : Descendants(top))
    if (::GetParent(child) == top && ::IsWindowVisible(child) && SameTextNoCase(ClassOf(child), L"TInstallerPage"))
      return child;
  return nullptr;
}

// Keys go through the target's message loop, as typed keys do, so that its dialog
// navigation (Tab, Enter, Esc, mnemonics) sees them.
int PostKey(HWND top, const TOptions& options) {
  HWND target = FocusOf(top);
  if (!target) target = top;
  if (!options.Mnemonic.empty()) {
    const wchar_t letter = options.Mnemonic[0];
    const UINT vk = static_cast<UINT>(std::towupper(letter));
    const LPARAM alt = 1 | (1 << 29);  // the context code: Alt is down
    ::PostMessageW(target, WM_SYSKEYDOWN, vk, alt);
    ::PostMessageW(target, WM_SYSCHAR, static_cast<WPARAM>(letter), alt);
    ::PostMessageW(target, WM_SYSKEYUP, vk, alt | (1u << 30) | (1u << 31));
    return 0;
  }
  UINT vk = 0;
  wchar_t character = 0;
  if (options.Key == L"enter") {
    vk = VK_RETURN;
    character = L'\r';
  } else if (options.Key == L"escape") {
    vk = VK_ESCAPE;
    character = 0x1B;
  } else if (options.Key == L"tab") {
    vk = VK_TAB;
    character = L'\t';
  } else if (options.Key == L"space") {
    vk = VK_SPACE;
    character = L' ';
  } else {
    return Usage();
  }
  ::PostMessageW(target, WM_KEYDOWN, vk, 1);
  ::PostMessageW(target, WM_CHAR, character, 1);
  ::PostMessageW(target, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31));
  return 0;
}

int SelectItem(HWND combo, const TOptions& options) {
  DWORD_PTR index = 0;
  if (!::SendMessageTimeoutW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(options.Text.c_str()), SMTO_ABORTIFHUNG, TextTimeout, &index) ||
      static_cast<LRESULT>(index) == CB_ERR) {
    Error(L"no item \"" + options.Text + L"\" in the combo box");
    return 1;
  }
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(combo, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, TextTimeout, &result);
  const WPARAM command = MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE);
  ::SendMessageTimeoutW(::GetParent(combo), WM_COMMAND, command, reinterpret_cast<LPARAM>(combo), SMTO_ABORTIFHUNG,
                        TextTimeout, &result);
  return 0;
}

// The control takes the real focus (through the target's input state, as a click would
// give it); the keys go straight to it, not through the target's message loop, where its
// dialog navigation would take Enter for the default button.
int OpenLink(HWND link, int index) {
  const DWORD target = ::GetWindowThreadProcessId(link, nullptr);
  const DWORD own = ::GetCurrentThreadId();
  const bool attached = ::AttachThreadInput(own, target, TRUE) != FALSE;
  ::SetFocus(link);
  if (attached) ::AttachThreadInput(own, target, FALSE);
  DWORD_PTR result = 0;
  auto key = [&](WPARAM vk) {
    ::SendMessageTimeoutW(link, WM_KEYDOWN, vk, 1, SMTO_ABORTIFHUNG, TextTimeout, &result);
    ::SendMessageTimeoutW(link, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31), SMTO_ABORTIFHUNG, TextTimeout, &result);
  };
  for (int i = 0; i < index; ++i) key(VK_RIGHT);
  key(VK_RETURN);
  return attached ? 0 : 1;
}

int Usage() {
  Error(
      L"usage: uidriver list | wait|texts|click|close|state|page|type|select|link|key|setting (--class C | --title T) "
      L"[--timeout ms] "
      L"[--button CAPTION | --id N] [--text T] [--key K | --mnemonic L] [--all] [--wait]");
  return 2;
}

bool ParseArguments(int argc, wchar_t** argv, TOptions& options) {
  if (argc < 2) return false;
  options.Command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::wstring name = argv[i];
    auto value = [&](std::wstring& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::wstring text;
    if (name == L"--class") {
      if (!value(options.ClassName)) return false;
    } else if (name == L"--title") {
      if (!value(options.Title)) return false;
    } else if (name == L"--button") {
      if (!value(options.Button)) return false;
    } else if (name == L"--id" || name == L"--timeout" || name == L"--index") {
      if (!value(text) || text.empty()) return false;
      wchar_t* end = nullptr;
      const long number = std::wcstol(text.c_str(), &end, 0);
      if (*end || number < 0) return false;
      if (name == L"--id") {
        options.Id = static_cast<int>(number);
        options.HasId = true;
      } else if (name == L"--index") {
        options.Index = static_cast<int>(number);
      } else {
        options.Timeout = static_cast<DWORD>(number);
      }
    } else if (name == L"--text") {
      if (!value(options.Text)) return false;
      options.HasText = true;
    } else if (name == L"--key") {
      if (!value(options.Key)) return false;
    } else if (name == L"--mnemonic") {
      if (!value(options.Mnemonic) || options.Mnemonic.size() != 1) return false;
    } else if (name == L"--all") {
      options.All = true;
    } else if (name == L"--wait") {
      options.WaitGone = true;
    } else {
      return false;
    }
  }
  return true;
}

int Run(const TOptions& options) {
  if (options.Command == L"list") {
    for (HWND window : TopLevelWindows()) Write(ClassOf(window) + L"\t" + Escaped(TextOf(window)));
    return 0;
  }
  const bool known = options.Command == L"wait" || options.Command == L"texts" || options.Command == L"click" ||
                     options.Command == L"close" || options.Command == L"state" || options.Command == L"page" ||
                     options.Command == L"type" || options.Command == L"key" || options.Command == L"setting" ||
                     options.Command == L"select" || options.Command == L"link";
  if (!known || (options.ClassName.empty() && options.Title.empty())) return Usage();
  if (options.Command == L"click" && options.Button.empty() && !options.HasId) return Usage();
  if (options.Command == L"type" && (!options.HasId || !options.HasText)) return Usage();
  if (options.Command == L"setting" && !options.HasText) return Usage();
  if ((options.Command == L"select" || options.Command == L"link") && !options.HasId) return Usage();
  if (options.Command == L"select" && !options.HasText) return Usage();
  if (options.Command == L"key" && options.Key.empty() == options.Mnemonic.empty()) return Usage();

  const HWND top = WaitFor(options.Timeout, [&] { return FindTopWindow(options); });
  if (!top) {
    Error(L"no window with " + Describe(options));
    return 1;
  }
  if (options.Command == L"wait") {
    Write(HandleText(top));
    return 0;
  }
  if (options.Command == L"texts") {
    Write(Escaped(TextOf(top)));
    for (HWND child : Descendants(top)) {
      if (!options.All && !::IsWindowVisible(child)) continue;
      Write(ClassOf(child) + L"\t" + std::to_wstring(::GetDlgCtrlID(child)) + L"\t" + Escaped(TextOf(child)));
    }
    return 0;
  }
  if (options.Command == L"state") {
    Write(Escaped(TextOf(top)));
    const HWND focus = FocusOf(top);
    for (HWND child : Descendants(top)) Write(StateLine(child, focus));
    return 0;
  }
  if (options.Command == L"page") {
    const HWND page = WaitFor(options.Timeout, [&] { return VisiblePage(top); });
    if (!page) {
      Error(L"no wizard page is shown in the window with " + Describe(options));
      return 1;
    }
    Write(Escaped(TextOf(page)));
    return 0;
  }
  if (options.Command == L"type") {
    const HWND control = WaitFor(options.Timeout, [&] { return FindControl(top, options); });
    if (!control) {
      Error(L"no such control in the window with " + Describe(options));
      return 1;
    }
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(options.Text.c_str()), SMTO_ABORTIFHUNG,
                          TextTimeout, &result);
    return 0;
  }
  if (options.Command == L"key") return PostKey(top, options);
  if (options.Command == L"select" || options.Command == L"link") {
    const HWND control = WaitFor(options.Timeout, [&] { return FindControl(top, options); });
    if (!control) {
      Error(L"no such control in the window with " + Describe(options));
      return 1;
    }
    return options.Command == L"select" ? SelectItem(control, options) : OpenLink(control, options.Index);
  }
  if (options.Command == L"setting") {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(top, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(options.Text.c_str()), SMTO_ABORTIFHUNG,
                          TextTimeout, &result);
    // Painted with whatever the message changed before the caller looks at the screen.
    ::RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return 0;
  }
  if (options.Command == L"click") {
    const HWND control = WaitFor(options.Timeout, [&] { return FindControl(top, options); });
    if (!control) {
      Error(L"no such control in the window with " + Describe(options));
      return 1;
    }
    Click(top, control);
    return 0;
  }
  // close
  ::PostMessageW(top, WM_CLOSE, 0, 0);
  if (!options.WaitGone) return 0;
  const ULONGLONG start = ::GetTickCount64();
  // A dialog that has ended is hidden at once but destroyed a little later.
  while (::IsWindow(top) && ::IsWindowVisible(top)) {
    if (::GetTickCount64() - start >= options.Timeout) {
      Error(L"the window with " + Describe(options) + L" is still there");
      return 1;
    }
    ::Sleep(PollInterval);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  TOptions options;
  if (!ParseArguments(argc, argv, options)) return Usage();
  return Run(options);
}
