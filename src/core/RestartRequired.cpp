#include "core/RestartRequired.h"

#include <atomic>

namespace kivo {

namespace {
std::atomic<bool> Required{false};
}  // namespace

void SetRestartRequired() { Required = true; }
bool RestartRequired() { return Required; }
void ClearRestartRequired() { Required = false; }

}  // namespace kivo
