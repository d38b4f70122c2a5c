#pragma once
// Move-only owners for Win32 handles, so no handle is ever closed by hand.
#include <windows.h>

#include <string>
#include <utility>

namespace zel {

// The "no handle" value; a policy, since INVALID_HANDLE_VALUE is no constant expression.
template <typename T>
struct TNullHandle {
  static T Value() noexcept { return T{}; }
};
struct TInvalidHandleValue {
  static HANDLE Value() noexcept { return INVALID_HANDLE_VALUE; }
};

template <typename T, auto Close, typename InvalidPolicy = TNullHandle<T>>
class TUniqueHandle {
public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(T h) noexcept : FHandle(h) {}
  TUniqueHandle(TUniqueHandle&& o) noexcept : FHandle(o.Release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& o) noexcept {
    Reset(o.Release());
    return *this;
  }
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  ~TUniqueHandle() { Reset(); }
  T Get() const noexcept { return FHandle; }
  T Release() noexcept { return std::exchange(FHandle, InvalidPolicy::Value()); }
  void Reset(T h = InvalidPolicy::Value()) noexcept {
    if (FHandle != InvalidPolicy::Value()) Close(FHandle);
    FHandle = h;
  }
  explicit operator bool() const noexcept { return FHandle != InvalidPolicy::Value(); }

private:
  T FHandle = InvalidPolicy::Value();
};

namespace detail {
inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseRegKey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void CloseModule(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void CloseWindow(HWND h) noexcept { ::DestroyWindow(h); }
inline void CloseFind(HANDLE h) noexcept { ::FindClose(h); }
inline void CloseGdiObject(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void CloseIcon(HICON h) noexcept { ::DestroyIcon(h); }
inline void FreeLocal(HLOCAL h) noexcept { ::LocalFree(h); }
inline void DeleteMemoryDC(HDC h) noexcept { ::DeleteDC(h); }
}  // namespace detail

using THandle = TUniqueHandle<HANDLE, detail::CloseKernelHandle>;  // null is invalid
using TFileHandle = TUniqueHandle<HANDLE, detail::CloseKernelHandle, TInvalidHandleValue>;
using THandleKey = TUniqueHandle<HKEY, detail::CloseRegKey>;
using TModuleHandle = TUniqueHandle<HMODULE, detail::CloseModule>;
using TWindowHandle = TUniqueHandle<HWND, detail::CloseWindow>;
using TFindHandle = TUniqueHandle<HANDLE, detail::CloseFind, TInvalidHandleValue>;
using TGdiObject = TUniqueHandle<HGDIOBJ, detail::CloseGdiObject>;
using TIconHandle = TUniqueHandle<HICON, detail::CloseIcon>;
// What the system allocated for the caller with LocalAlloc (SIDs, security descriptors, texts).
using TLocalMemory = TUniqueHandle<HLOCAL, detail::FreeLocal>;
// A device context made with CreateCompatibleDC.
using TMemoryDC = TUniqueHandle<HDC, detail::DeleteMemoryDC>;

// Strings to the API: char16_t and wchar_t are both UTF-16 code units on Windows.
inline const wchar_t* as_wcstr(const std::u16string& s) noexcept { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline wchar_t* as_wcstr(std::u16string& s) noexcept { return reinterpret_cast<wchar_t*>(s.data()); }
inline std::u16string from_wcstr(const wchar_t* s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
inline std::u16string from_wcstr(const wchar_t* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

}  // namespace zel
