#pragma once
// The "$" variables of the installation script and the language texts, and the cleaning
// of the expanded text into a path. Portable: the Windows resources object supplies the
// values (package/win/InstallerResources.h); the package tool and the tests use it as is.
#include <functional>

#include "library/Strings.h"

namespace kivo {

// The value of each variable, asked for only when a text uses it (a product without a
// name fails only the texts that name it). An empty function stands for an empty value.
struct TPathVariables {
  using TValue = std::function<zel::String()>;
  // Folders, each with a trailing backslash.
  TValue Dest;
  TValue Temp;
  TValue Desktop;
  TValue StartMenu;
  TValue Programs;
  // Product texts.
  TValue Link;
  TValue Name;
  TValue Version;
};

// "\n" becomes CR LF (in texts: `lineBreaks`; a path keeps it, "$DEST\notes" is a folder
// "notes"), then $DEST, $TEMP, $LINK, $NAME, $VERSION, $DESKTOP, $STARTMENU and
// $PROGRAMS are replaced in that order, case-sensitively. The text of $LINK, $NAME and
// $VERSION goes through the later steps; a folder's value is a file-system path and is
// never expanded again (a destination "C:\$NAME\" stays as it is).
zel::String ExpandPathVariables(zel::StringView text, const TPathVariables& values, bool lineBreaks = true);

// One element cleaned: '"' becomes "'", the characters \ / < > * : ? | are removed, then
// leading spaces; the element is cut to 260 characters and then loses trailing spaces and
// dots (never its first character), so that what is left is what Windows would store.
zel::String CleanPathElement(zel::StringView element);
// The root ("C:", "\\server", "\\?\C:", "\\?\UNC\server") kept as written, every element
// after it cleaned, empty elements dropped, a trailing backslash kept where the text had
// one. A relative path stays relative; cleaning a clean path changes nothing.
zel::String CleanPath(zel::StringView text);

}  // namespace kivo
