#include "core/ApplicationRepository.h"

#include <windows.h>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/OSError.h"
#include "library/win/Registry.h"

namespace kivo {

using zel::String;
using zel::StringView;

namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

void WriteString(HKEY key, const wchar_t* name, const String& value) {
  // Stored with the terminating zero, as the system's own tools do.
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

void WriteNumber(HKEY key, const wchar_t* name, DWORD value) {
  ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The one rule for the entry's key, used by registration and unregistration alike: the
// product name as it is. A name that is blank, or that holds a backslash (which would
// name another key, up to the whole Uninstall key), has no entry.
bool EntryKeyPath(StringView name, String& path) {
  if (zel::Trim(name).empty() || name.find(u'\\') != StringView::npos) return false;
  path = String(TInstallerApplicationRepository::UninstallKey) + String(name);
  return true;
}

String Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t text[16];
  swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return zel::from_wcstr(text);
}

// Deletes a key with its subkeys, last subkey first. Subkey names of 64 characters or
// more do not fit the buffer; such a key then stays.
bool DeleteKeyTree(HKEY parent, const String& path) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(parent, zel::as_wcstr(path), 0, KEY_READ | KEY_WRITE | kView, &raw) != ERROR_SUCCESS)
    return false;
  zel::THandleKey key(raw);
  DWORD count = 0;
  ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
  for (DWORD i = count; i-- > 0;) {
    wchar_t name[64];
    DWORD length = 64;
    if (::RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      DeleteKeyTree(key.Get(), zel::from_wcstr(name, length));
  }
  key.Reset();
  return ::RegDeleteKeyExW(parent, zel::as_wcstr(path), kView, 0) == ERROR_SUCCESS;
}

// Every value of an open key, as it is.
std::vector<TSavedUninstallEntry::TValue> ReadValues(HKEY key) {
  std::vector<TSavedUninstallEntry::TValue> values;
  DWORD count = 0, nameMax = 0, dataMax = 0;
  ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameMax, &dataMax, nullptr,
                     nullptr);
  std::vector<wchar_t> valueName(nameMax + 1);
  for (DWORD i = 0; i < count; ++i) {
    TSavedUninstallEntry::TValue value;
    DWORD nameLength = nameMax + 1, type = 0, size = dataMax;
    value.Data.resize(dataMax);
    if (::RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, value.Data.data(), &size) !=
        ERROR_SUCCESS)
      continue;
    value.Name = zel::from_wcstr(valueName.data(), nameLength);
    value.Type = type;
    value.Data.resize(size);
    values.push_back(std::move(value));
  }
  return values;
}

// A value as WriteString and WriteNumber store it, for WriteKey.
TSavedUninstallEntry::TValue StringValue(const String& name, const String& value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(value.c_str());
  return {name, REG_SZ, std::vector<uint8_t>(bytes, bytes + (value.size() + 1) * sizeof(char16_t))};
}

TSavedUninstallEntry::TValue NumberValue(const String& name, DWORD value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  return {name, REG_DWORD, std::vector<uint8_t>(bytes, bytes + sizeof(value))};
}

// Makes the key (what was there goes first) and writes every value; the first failure's
// code, or ERROR_SUCCESS.
LONG WriteKey(const String& keyPath, const std::vector<TSavedUninstallEntry::TValue>& values) {
  DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
  HKEY raw = nullptr;
  const LONG created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(keyPath), 0, nullptr, 0,
                                         KEY_SET_VALUE | kView, nullptr, &raw, nullptr);
  if (created != ERROR_SUCCESS) return created;
  zel::THandleKey key(raw);
  LONG first = ERROR_SUCCESS;
  for (const TSavedUninstallEntry::TValue& value : values) {
    const LONG result = ::RegSetValueExW(key.Get(), zel::as_wcstr(value.Name), 0, value.Type, value.Data.data(),
                                         static_cast<DWORD>(value.Data.size()));
    if (first == ERROR_SUCCESS) first = result;
  }
  return first;
}

zel::THandleKey OpenForReading(const String& keyPath) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(keyPath), 0, KEY_READ | kView, &raw) != ERROR_SUCCESS)
    return {};
  return zel::THandleKey(raw);
}

// Deletes the key when it holds nothing: no subkey, no value.
void DeleteKeyIfEmpty(const String& keyPath) {
  DWORD subkeys = 1, values = 1;
  {
    const zel::THandleKey key = OpenForReading(keyPath);
    if (!key || ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return;
  }
  if (subkeys == 0 && values == 0) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(keyPath), kView, 0);
}

// The undo key of a run; a name that would lead to another key has none.
bool UndoKeyPath(StringView run, String& path) {
  if (zel::Trim(run).empty() || run.find(u'\\') != StringView::npos) return false;
  path = String(TInstallerApplicationRepository::UndoKey) + String(run);
  return true;
}

}  // namespace

String FolderOfCommand(StringView command) {
  String path(command);
  // A quoted path: take what stands between the quotes.
  if (!path.empty() && path[0] == u'"') {
    const size_t close = path.find(u'"', 1);
    path = path.substr(1, close == String::npos ? String::npos : close - 1);
  }
  return zel::ExtractFilePath(path);
}

bool TInstallerApplicationRepository::GetInstallPath(StringView name, String& path) {
  path.clear();
  const zel::THandleKey key = OpenForReading(String(UninstallKey) + String(name));
  if (!key) return false;
  path = zel::ReadRegistryString(key.Get(), L"InstallPath");
  if (!path.empty()) path = zel::IncludeTrailingBackslash(path);
  if (!zel::DirectoryExists(path)) path = FolderOfCommand(zel::ReadRegistryString(key.Get(), L"UninstallString"));
  if (!zel::DirectoryExists(path)) path = FolderOfCommand(zel::ReadRegistryString(key.Get(), L"DisplayIcon"));
  return zel::DirectoryExists(path);
}

bool TInstallerApplicationRepository::Register(StringView name, StringView uninstallerPath, StringView version,
                                               StringView publisher, StringView homePage, uint32_t estimatedSizeKB) {
  String keyPath;
  if (!EntryKeyPath(name, keyPath)) return false;
  HKEY raw = nullptr;
  const REGSAM access =
      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | kView;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(keyPath), 0, access, &raw) != ERROR_SUCCESS &&
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(keyPath), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS)
    return false;
  zel::THandleKey key(raw);
  const String uninstaller(uninstallerPath);
  WriteNumber(key.Get(), L"NoModify", 1);
  WriteNumber(key.Get(), L"NoRepair", 1);
  WriteString(key.Get(), L"DisplayIcon", uninstaller);
  WriteString(key.Get(), L"DisplayName", String(name));
  WriteString(key.Get(), L"DisplayVersion", String(version));
  WriteString(key.Get(), L"InstallDate", Today());
  WriteString(key.Get(), L"InstallPath", zel::ExtractFilePath(uninstaller));
  WriteString(key.Get(), L"Publisher", String(publisher));
  // Quoted: an unquoted path with spaces lets the system try "C:\Program.exe" first.
  WriteString(key.Get(), L"UninstallString", u"\"" + uninstaller + u"\"");
  WriteString(key.Get(), L"URLInfoAbout", String(homePage));
  // For deployment tools: an unattended removal and the installed size.
  WriteString(key.Get(), L"QuietUninstallString", u"\"" + uninstaller + u"\" /AUTO /SILENT");
  WriteString(key.Get(), L"InstallLocation", zel::ExtractFilePath(uninstaller));
  if (estimatedSizeKB) WriteNumber(key.Get(), L"EstimatedSize", estimatedSizeKB);
  return true;
}

TSavedUninstallEntry TInstallerApplicationRepository::Save(StringView name) {
  TSavedUninstallEntry saved;
  saved.Name = String(name);
  String keyPath;
  if (!EntryKeyPath(name, keyPath)) return saved;
  const zel::THandleKey key = OpenForReading(keyPath);
  if (!key) return saved;
  saved.Existed = true;
  saved.Values = ReadValues(key.Get());
  return saved;
}

bool TInstallerApplicationRepository::Restore(const TSavedUninstallEntry& saved) {
  String keyPath;
  if (!EntryKeyPath(saved.Name, keyPath)) return false;
  if (!saved.Existed) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
    return true;
  }
  return WriteKey(keyPath, saved.Values) == ERROR_SUCCESS;
}

void TInstallerApplicationRepository::KeepForUndo(const TSavedUninstallEntry& saved, StringView run) {
  String keyPath;
  if (!UndoKeyPath(run, keyPath))
    zel::RaiseOSError(ERROR_INVALID_NAME, u"Keep for an undo under \"" + String(run) + u"\"");
  // The entry's own values in a subkey of their own: any name may be among them.
  LONG result = WriteKey(keyPath, {StringValue(u"Entry", saved.Name), NumberValue(u"Existed", saved.Existed ? 1 : 0)});
  if (result == ERROR_SUCCESS) result = WriteKey(keyPath + u"\\Values", saved.Values);
  if (result != ERROR_SUCCESS)
    zel::RaiseOSError(static_cast<DWORD>(result),
                      u"RegSetValueEx HKLM\\" + keyPath + u" (the uninstall entry kept for an undo)");
}

std::optional<TSavedUninstallEntry> TInstallerApplicationRepository::KeptForUndo(StringView run) {
  String keyPath;
  if (!UndoKeyPath(run, keyPath)) return std::nullopt;
  const zel::THandleKey key = OpenForReading(keyPath);
  const zel::THandleKey values = OpenForReading(keyPath + u"\\Values");
  if (!key || !values) return std::nullopt;
  TSavedUninstallEntry saved;
  saved.Name = zel::ReadRegistryString(key.Get(), L"Entry");
  DWORD existed = 0, size = sizeof existed;
  if (saved.Name.empty() || ::RegQueryValueExW(key.Get(), L"Existed", nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(&existed), &size) != ERROR_SUCCESS)
    return std::nullopt;
  saved.Existed = existed != 0;
  saved.Values = ReadValues(values.Get());
  return saved;
}

void TInstallerApplicationRepository::DropKeptForUndo(StringView run) {
  String keyPath;
  if (!UndoKeyPath(run, keyPath)) return;
  DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
  // No trace once no run is pending: the parents go when they are empty.
  String parent = zel::ExcludeTrailingBackslash(String(UndoKey));
  DeleteKeyIfEmpty(parent);
  DeleteKeyIfEmpty(parent.substr(0, parent.rfind(u'\\')));
}

bool TInstallerApplicationRepository::Unregister(StringView name) {
  String keyPath;
  return EntryKeyPath(name, keyPath) && DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
}

}  // namespace kivo
