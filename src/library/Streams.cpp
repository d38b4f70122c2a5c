#include "library/Streams.h"

#include <algorithm>
#include <cstring>

#include "library/FileWriteError.h"

namespace zel {

namespace {
constexpr size_t kCopyChunk = 1024 * 1024;

thread_local unsigned LastWriteError = 0;

// A failed write names its file and the system's reason when the stream is a file's;
// "Stream write error" alone tells nobody which file or why.
[[noreturn]] void RaiseWriteError(const TStream& stream) {
  if (const auto* file = dynamic_cast<const TFileStream*>(&stream)) {
    String text = u"Cannot write the file \"" + file->FileName() + u"\".";
    if (LastWriteError != 0) text += u" " + platform::SystemErrorMessage(LastWriteError);
    throw EWriteError(text);
  }
  throw EWriteError();
}
}  // namespace

unsigned LastFileWriteError() { return LastWriteError; }

int64_t TStream::Size() {
  const int64_t pos = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Begin);
  return size;
}

void TStream::ReadBuffer(void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const size_t n = Read(p, count);
    if (n == 0) throw EReadError();
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const size_t n = Write(p, count);
    if (n == 0) RaiseWriteError(*this);
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, kCopyChunk)));
  int64_t left = count;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, kCopyChunk));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

// --- TMemoryStream

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (FPosition >= FData.size()) return 0;
  const size_t n = std::min(count, FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (FPosition + count > FData.size()) {
    if (FPosition + count > FData.capacity())
      FData.reserve(std::max(FPosition + count, FData.capacity() + FData.capacity() / 2));
    FData.resize(FPosition + count);
  }
  std::memcpy(FData.data() + FPosition, buffer, count);
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = origin == SeekOrigin::Begin     ? 0
                 : origin == SeekOrigin::Current ? static_cast<int64_t>(FPosition)
                                                 : static_cast<int64_t>(FData.size());
  const int64_t target = base + offset;
  if (target < 0) throw EReadError(u"Invalid stream position");
  FPosition = static_cast<size_t>(target);
  return target;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EWriteError();
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > FData.size()) FPosition = FData.size();
}

// --- TReadOnlyMemoryStream

size_t TReadOnlyMemoryStream::Read(void* buffer, size_t count) {
  if (FPosition >= FSize) return 0;
  const size_t n = std::min(count, FSize - FPosition);
  std::memcpy(buffer, FData + FPosition, n);
  FPosition += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = origin == SeekOrigin::Begin     ? 0
                 : origin == SeekOrigin::Current ? static_cast<int64_t>(FPosition)
                                                 : static_cast<int64_t>(FSize);
  const int64_t target = base + offset;
  if (target < 0) throw EReadError(u"Invalid stream position");
  FPosition = static_cast<size_t>(target);
  return target;
}

// --- TSubStream

TSubStream::TSubStream(TStream& base, int64_t offset, int64_t size) : FBase(base), FOffset(offset), FSize(size) {
  if (offset < 0 || size < 0) throw EReadError(u"Invalid stream position");
}

size_t TSubStream::Read(void* buffer, size_t count) {
  if (FPosition >= FSize) return 0;
  const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), FSize - FPosition));
  FBase.SetPosition(FOffset + FPosition);
  const size_t got = FBase.Read(buffer, n);
  FPosition += static_cast<int64_t>(got);
  return got;
}

int64_t TSubStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? FPosition : FSize;
  const int64_t target = base + offset;
  if (target < 0) throw EReadError(u"Invalid stream position");
  FPosition = target;
  return target;
}

// --- TFileStream

TFileStream::TFileStream(StringView fileName, FileMode mode, unsigned share) : FFileName(fileName) {
  using namespace platform;
  FileAccess access = FileAccess::Read;
  FileDisposition disposition = FileDisposition::OpenExisting;
  switch (mode) {
    case FileMode::OpenRead: break;
    case FileMode::OpenWrite: access = FileAccess::Write; break;
    case FileMode::OpenReadWrite: access = FileAccess::ReadWrite; break;
    case FileMode::Create:
      access = FileAccess::ReadWrite;
      disposition = FileDisposition::CreateAlways;
      break;
  }
  unsigned error = 0;
  FHandle = FileOpen(fileName, access, disposition, share, error);
  if (FHandle == InvalidFile) {
    const String reason = SystemErrorMessage(error);
    if (mode == FileMode::Create) throw EFCreateError(Format(u"Cannot create file \"%s\". %s", fileName, reason));
    throw EFOpenError(Format(u"Cannot open file \"%s\". %s", fileName, reason));
  }
}

TFileStream::~TFileStream() { platform::FileClose(FHandle); }

size_t TFileStream::Read(void* buffer, size_t count) {
  const int64_t n = platform::FileRead(FHandle, buffer, count);
  return n < 0 ? 0 : static_cast<size_t>(n);
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  const int64_t n = platform::FileWrite(FHandle, buffer, count);
  LastWriteError = n < 0 ? platform::LastErrorCode() : 0;
  return n < 0 ? 0 : static_cast<size_t>(n);
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t pos = platform::FileSeek(FHandle, offset, static_cast<int>(origin));
  if (pos < 0) throw EReadError(u"Invalid stream position");
  return pos;
}

void TFileStream::SetSize(int64_t newSize) {
  TFileStream::Seek(newSize, SeekOrigin::Begin);
  if (!platform::FileTruncate(FHandle)) throw EWriteError();
}

// --- TBufferedFileStream

TBufferedFileStream::TBufferedFileStream(StringView fileName, FileMode mode, unsigned share, size_t bufferSize)
    : TFileStream(fileName, mode, share), FBufferSize(std::max<size_t>(bufferSize, 4096)) {
  FFilePos = TFileStream::Seek(0, SeekOrigin::Current);
}

TBufferedFileStream::~TBufferedFileStream() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report; callers that care call Flush first.
  }
}

uint8_t* TBufferedFileStream::Buffer() {
  // Made on first use and not cleared: a stream that only sees large blocks (a member
  // written in one piece) never needs one, and the bytes are always written before read.
  if (!FBuffer) FBuffer.reset(new uint8_t[FBufferSize]);
  return FBuffer.get();
}

void TBufferedFileStream::Flush() {
  if (FWriting && FBufferPos > 0) {
    TFileStream::Seek(FFilePos, SeekOrigin::Begin);
    size_t done = 0;
    while (done < FBufferPos) {
      const size_t n = TFileStream::Write(FBuffer.get() + done, FBufferPos - done);
      if (n == 0) RaiseWriteError(*this);
      done += n;
    }
    FFilePos += static_cast<int64_t>(FBufferPos);
  } else if (!FWriting) {
    FFilePos += static_cast<int64_t>(FBufferPos);
  }
  FWriting = false;
  FBufferPos = 0;
  FBufferLen = 0;
}

size_t TBufferedFileStream::Read(void* buffer, size_t count) {
  if (FWriting) Flush();
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (FBufferPos == FBufferLen) {
      FFilePos += static_cast<int64_t>(FBufferLen);
      FBufferPos = FBufferLen = 0;
      const size_t want = count - done;
      if (want >= FBufferSize) {  // large reads bypass the buffer
        TFileStream::Seek(FFilePos, SeekOrigin::Begin);
        const size_t n = TFileStream::Read(out + done, want);
        FFilePos += static_cast<int64_t>(n);
        return done + n;
      }
      TFileStream::Seek(FFilePos, SeekOrigin::Begin);
      FBufferLen = TFileStream::Read(Buffer(), FBufferSize);
      if (FBufferLen == 0) break;
    }
    const size_t n = std::min(count - done, FBufferLen - FBufferPos);
    std::memcpy(out + done, FBuffer.get() + FBufferPos, n);
    FBufferPos += n;
    done += n;
  }
  return done;
}

size_t TBufferedFileStream::Write(const void* buffer, size_t count) {
  if (!FWriting) {
    FFilePos += static_cast<int64_t>(FBufferPos);
    FBufferPos = FBufferLen = 0;
    FWriting = true;
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  // A block at least as large as the buffer goes to the file in one write after what is
  // buffered: copying it through the buffer would only cut it into more, smaller writes.
  if (count >= FBufferSize) {
    Flush();
    TFileStream::Seek(FFilePos, SeekOrigin::Begin);
    const size_t n = TFileStream::Write(in, count);
    FFilePos += static_cast<int64_t>(n);
    return n;
  }
  size_t done = 0;
  while (done < count) {
    if (FBufferPos == FBufferSize) Flush(), FWriting = true;
    const size_t n = std::min(count - done, FBufferSize - FBufferPos);
    std::memcpy(Buffer() + FBufferPos, in + done, n);
    FBufferPos += n;
    done += n;
  }
  return done;
}

int64_t TBufferedFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t logical = FFilePos + static_cast<int64_t>(FBufferPos);
  if (origin == SeekOrigin::Current && offset == 0) return logical;
  Flush();
  int64_t target;
  if (origin == SeekOrigin::Begin) target = offset;
  else if (origin == SeekOrigin::Current) target = logical + offset;
  else target = TFileStream::Seek(0, SeekOrigin::End) + offset;
  if (target < 0) throw EReadError(u"Invalid stream position");
  FFilePos = TFileStream::Seek(target, SeekOrigin::Begin);
  return FFilePos;
}

void TBufferedFileStream::SetSize(int64_t newSize) {
  Flush();
  TFileStream::SetSize(newSize);
  FFilePos = TFileStream::Seek(0, SeekOrigin::Current);
}

}  // namespace zel
