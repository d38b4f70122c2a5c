#pragma once
// A small stream hierarchy: memory, file and buffered file streams (and, on
// Windows, a read-only stream over a module resource: library/win/ResourceStream.h).
#include <cstdint>
#include <memory>
#include <vector>

#include "library/Exceptions.h"
#include "platform/Platform.h"

namespace zel {

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

class TStream {
public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads or writes up to count bytes; returns how many were transferred.
  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual size_t Write(const void* buffer, size_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize) = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }
  virtual int64_t Size();

  // Exactly count bytes or EReadError / EWriteError ("Stream read error" / "Stream write error").
  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count);
  // Copies count bytes from source's position (count 0: from its start to its end) in
  // 1 MiB chunks; returns the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);

  template <typename T>
  T ReadValue() {
    T value{};
    ReadBuffer(&value, sizeof(T));
    return value;
  }
  template <typename T>
  void WriteValue(const T& value) {
    WriteBuffer(&value, sizeof(T));
  }
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : FData(std::move(bytes)) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }

  const uint8_t* Memory() const { return FData.data(); }
  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  void Clear() {
    FData.clear();
    FPosition = 0;
  }
  void Reserve(size_t capacity) { FData.reserve(capacity); }

private:
  std::vector<uint8_t> FData;
  size_t FPosition = 0;
};

// A read-only view over bytes owned elsewhere (a resource, a buffer).
class TReadOnlyMemoryStream : public TStream {
public:
  TReadOnlyMemoryStream(const void* data, size_t size) : FData(static_cast<const uint8_t*>(data)), FSize(size) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t) override { throw EWriteError(); }
  int64_t Size() override { return static_cast<int64_t>(FSize); }

private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPosition = 0;
};

// A read-only window of size bytes at offset of another stream (which outlives it and
// is not used otherwise meanwhile): a resource's bytes read from its module's file.
class TSubStream : public TStream {
public:
  TSubStream(TStream& base, int64_t offset, int64_t size);
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t) override { throw EWriteError(); }
  int64_t Size() override { return FSize; }

private:
  TStream& FBase;
  int64_t FOffset;
  int64_t FSize;
  int64_t FPosition = 0;
};

enum class FileMode { OpenRead, OpenWrite, OpenReadWrite, Create };

class TFileStream : public TStream {
public:
  // Create replaces an existing file. share: platform::FileShare flags.
  // Raises EFCreateError / EFOpenError with the platform's reason.
  TFileStream(StringView fileName, FileMode mode, unsigned share = platform::ShareRead);
  ~TFileStream() override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  const String& FileName() const { return FFileName; }

private:
  String FFileName;
  platform::FileHandle FHandle = platform::InvalidFile;
};

// A file stream with a read/write buffer, for many small reads or writes. Reads and
// writes of at least the buffer's size bypass it.
class TBufferedFileStream : public TFileStream {
public:
  TBufferedFileStream(StringView fileName, FileMode mode, unsigned share = platform::ShareRead,
                      size_t bufferSize = 256 * 1024);
  ~TBufferedFileStream() override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  void Flush();

private:
  uint8_t* Buffer();

  std::unique_ptr<uint8_t[]> FBuffer;
  size_t FBufferSize;
  size_t FBufferPos = 0;  // cursor inside the buffer
  size_t FBufferLen = 0;  // valid bytes when reading
  bool FWriting = false;  // buffer holds unwritten bytes
  int64_t FFilePos = 0;   // file position of FBuffer[0]
};

}  // namespace zel
