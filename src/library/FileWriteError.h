#pragma once
// Why the last file write of this thread failed. A file stream's writer sees only
// "could not write" from the stream; the step that wrote the file asks here for the
// system's reason (a full disk is told apart from the rest) to say it in words.

namespace zel {

// The system's error code of this thread's last failed write to a file stream, 0 when none.
unsigned LastFileWriteError();

}  // namespace zel
