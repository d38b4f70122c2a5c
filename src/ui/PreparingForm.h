#pragma once
// The small window that shows how far the product package has decoded when the user has
// chosen a language before it was done: a line of text in that language and a progress
// bar. Closing it (the close box or Esc) cancels the setup.
namespace kivo {

class TInstallerResources;

// Waits for the product package's decode, with the window shown while it runs. False
// when the user closed the window (the decode has then been asked to stop).
bool WaitWithPreparingWindow(TInstallerResources& resources);

}  // namespace kivo
