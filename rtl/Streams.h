// Byte streams: the abstract TStream, streams over file descriptors and
// files, and streams over memory.
//
// Buffers are raw (pointer and count): the callers that take buffers from
// scripts limit the count to the script value's length before calling.
#pragma once

#include <vector>

#include "rtl/Objects.h"

namespace rtl {

// Seek origins.
constexpr int soFromBeginning = 0;
constexpr int soFromCurrent = 1;
constexpr int soFromEnd = 2;

// File modes: the access in the low two bits, the share mode above it
// (accepted and ignored: the system does not lock files), or fmCreate.
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0;
constexpr uint16_t fmOpenWrite = 1;
constexpr uint16_t fmOpenReadWrite = 2;
constexpr uint16_t fmShareCompat = 0;
constexpr uint16_t fmShareExclusive = 16;
constexpr uint16_t fmShareDenyWrite = 32;
constexpr uint16_t fmShareDenyRead = 48;
constexpr uint16_t fmShareDenyNone = 64;

class EStreamError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SInvalidSeekOrigin = u"Invalid stream seek origin (%d)";
  static constexpr std::u16string_view SInvalidPosition = u"Invalid stream position (%d)";
  static constexpr std::u16string_view SInvalidSize = u"Invalid stream size (%d)";
  static constexpr std::u16string_view SSeekError = u"Stream seek error. %s";
  static constexpr std::u16string_view SSetSizeError = u"Stream size cannot be changed. %s";
  static constexpr std::u16string_view SFixedSize = u"The size of this stream cannot be changed";
  static constexpr std::u16string_view SMemoryStreamError = u"Out of memory while expanding memory stream";
  static constexpr std::u16string_view SCantWriteResourceStream = u"Cannot write to a read-only resource stream";
};

class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  static constexpr std::u16string_view SReadError = u"Stream read error";
};

class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  static constexpr std::u16string_view SWriteError = u"Stream write error";
};

// A file that cannot be created.
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  static constexpr std::u16string_view SFCreateError = u"Cannot create file \"%s\". %s";
  static EFCreateError CannotCreate(const UnicodeString& fullPath, const UnicodeString& reason);
};

class EResNotFound : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SResNotFound =
      u"Resource %s not found: programs on this system carry no resources";
};

class TStream : public TObject {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // Up to `count` bytes (none for a negative count); the number moved.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // `origin` is soFromBeginning, soFromCurrent or soFromEnd; returns the
  // new position. A position before the start is refused.
  virtual int64_t Seek(int64_t offset, int origin) = 0;

  // Exactly `count` bytes, or "Stream read error" / "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies `count` bytes from the source's position; a count of 0 (or
  // less) copies the whole source from its start. Returns the count copied.
  int64_t CopyFrom(TStream& source, int64_t count);

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t value) { Seek(value, soFromBeginning); }
  virtual int64_t Size();
  // Streams whose size cannot be set raise.
  virtual void SetSize(int64_t value);

 protected:
  TStream() = default;
  [[noreturn]] static void RaiseInvalidOrigin(int origin);
};

// A stream over an open file descriptor, which it does not close.
class THandleStream : public TStream {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  explicit THandleStream(int AHandle) : FHandle(AHandle) {}

  int Handle() const { return FHandle; }

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  void SetSize(int64_t value) override;

 protected:
  int FHandle;
};

// A stream over a file it opens and closes. Raises "Cannot open file "%s".
// %s" or "Cannot create file "%s". %s" with the full path and the reason.
class TFileStream : public THandleStream {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  TFileStream(const UnicodeString& FileName, uint16_t Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const UnicodeString& FileName() const { return FFileName; }
  static constexpr std::u16string_view SInvalidFileMode = u"Invalid file mode (%d)";

 private:
  UnicodeString FFileName;
};

// A stream over a block of memory that a descendant provides.
class TCustomMemoryStream : public TStream {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return FSize; }

  const void* Memory() const { return FMemory; }
  // The whole contents, whatever the position.
  void SaveToStream(TStream& stream) const;
  void SaveToFile(const UnicodeString& fileName) const;

 protected:
  TCustomMemoryStream() = default;
  void SetPointer(uint8_t* memory, int64_t size);

  uint8_t* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

// A growable stream in memory. Writing past the end extends it; a gap left
// by seeking past the end reads as zeros.
class TMemoryStream : public TCustomMemoryStream {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Write(const void* buffer, int64_t count) override;
  // The position is kept, or moved to the new end when it lies beyond it.
  void SetSize(int64_t value) override;
  void Clear();
  // Replaces the contents by the whole source stream; the position goes to 0.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const UnicodeString& fileName);

 private:
  void Resize(int64_t size);
  std::vector<uint8_t> FBuffer;
};

// Program resources do not exist on this system: both constructors raise
// "Resource %s not found: ...".
class TResourceStream : public TCustomMemoryStream {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  TResourceStream(int Instance, const UnicodeString& ResName, const UnicodeString& ResType);
  static TResourceStream* CreateFromId(int Instance, int ResId, const UnicodeString& ResType);

  int64_t Write(const void* buffer, int64_t count) override;
};

}  // namespace rtl
