#pragma once
// What the product pages show and do, as functions of the installer's state, apart from
// the windows so that they are tested natively: the setup page's boxes and radios, the
// destination a browsed folder or a change of installation kind leads to, the folder the
// user typed, and sizes for people.
#include <cstdint>

#include "library/Strings.h"

namespace kivo {

// The setup page's inputs: the installer's flags and what the destination holds.
struct TSetupPageInput {
  bool Update = false;
  bool Portable = false;
  bool NoBackup = false;
  bool CanUpdate = false;          // the destination holds an installation this setup updates
  bool InstalledPortable = false;  // that installation's own kind
  bool ProgramFilesPath = false;   // the destination lies under a program-files folder
};

// What the setup page shows for them.
struct TSetupPageView {
  bool UpdateChecked = false;  // "CB1"
  bool UpdateVisible = false;
  bool BackupChecked = false;  // "CB4"
  bool BackupVisible = false;
  bool PortableChosen = false;  // "CB3" ticked, else "CB2"
  bool KindEnabled = false;     // both radio buttons
  bool UpdateWarning = false;   // "W1"
  bool operator==(const TSetupPageView&) const = default;
};
TSetupPageView SetupPageView(const TSetupPageInput& input);

// The destination for a folder the user picked in the folder browser: the folder itself
// when its last name already is the product's name (any case) or it holds an
// installation, else the product's folder inside it; with a trailing backslash. Empty
// for an empty folder.
zel::String BrowsedDestination(zel::StringView folder, zel::StringView productName, bool holdsInstallation = false);

// What is wrong with a folder as the user typed it, before anything would rewrite it:
// a path that does not start at a drive ("X:\") or a share ("\\server\share\"), or a
// character that no file name may hold (Invalid then holds it).
struct TTypedFolderProblem {
  enum class TKind { None, Relative, InvalidCharacter } Kind = TKind::None;
  zel::String Invalid;
  bool operator==(const TTypedFolderProblem&) const = default;
};
TTypedFolderProblem TypedFolderProblem(zel::StringView path);

// "850 KB", "52.3 MB", "1.5 GB": a byte count for people, with the given unit names
// (kilo-, mega-, gigabytes) and decimal separator; one decimal below 100 units.
zel::String FormatByteSize(uint64_t bytes, const zel::String (&units)[3], char16_t decimalSeparator = u'.');

// Where the destination moves when the user chooses portable (portable true) or standard:
// a portable copy leaves the program-files folder for portablePath, and a standard one
// leaves portablePath (any case) for defaultPath. Empty when the destination stays.
zel::String DestinationForKind(bool portable, zel::StringView dest, bool programFilesPath, zel::StringView portablePath,
                               zel::StringView defaultPath);

}  // namespace kivo
