#pragma once
// Symbolic links for tests of code that must not follow them: under Wine a link is a Unix
// symlink made with ln inside the prefix (Wine makes no links of its own); on Windows,
// CreateSymbolicLinkW.
#include "library/Strings.h"

namespace kivo::test {

bool RunsUnderWine();
// Starts a Unix program under Wine (such as L"Z:\\bin\\ln"); does not wait for it.
bool StartUnix(const wchar_t* program, zel::String command);
// A link at `link` to the folder or file `target`; false when the system makes none.
bool MakeLink(const zel::String& link, const zel::String& target, bool folder);
// Removes a tree that may hold links (which ScratchDir cannot remove) under Wine; a
// missing folder, or Windows, leaves nothing to do.
void RemoveLinkedTree(const zel::String& folder);
// Sets a file's or folder's DACL, with its protection, from SDDL ("D:P(A;;FA;;;BA)...");
// the owner stays. Wine stores and returns it (it enforces none).
bool SetFileDacl(const zel::String& path, const wchar_t* sddl);

}  // namespace kivo::test
