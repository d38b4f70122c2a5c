#include "ui/toolkit/Skin.h"

namespace zel {

namespace {
// Constant-initialized, so a skin given during another file's start-up is not overwritten.
TSkinColors CurrentSkin;
}  // namespace

const TSkinColors& Skin() { return CurrentSkin; }

void SetSkin(const TSkinColors& skin) { CurrentSkin = skin; }

}  // namespace zel
