#pragma once
// Whether anybody can see and answer a window of this process.
namespace zel {

// False when the process runs on a window station that is not visible (a service, a
// deployment tool running as SYSTEM): a message box there waits for an answer that
// never comes.
bool HasVisibleDesktop() noexcept;

}  // namespace zel
