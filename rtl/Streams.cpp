#include "rtl/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace rtl {

namespace {

// Adds without overflowing; false when the sum does not fit.
bool CheckedAdd(int64_t a, int64_t b, int64_t& sum) { return !__builtin_add_overflow(a, b, &sum); }

}  // namespace

EFCreateError EFCreateError::CannotCreate(const UnicodeString& fullPath, const UnicodeString& reason) {
  return EFCreateError(FormatText(SFCreateError, {fullPath, reason}));
}

// --- TStream ------------------------------------------------------------------

TClass TStream::StaticClass() {
  static const TMetaClass meta(u"TStream", TObject::StaticClass(), nullptr,
                               {ReadWriteProperty(u"Position", u"LongInt", &TStream::Position, &TStream::SetPosition),
                                ReadWriteProperty(u"Size", u"LongInt", &TStream::Size, &TStream::SetSize)});
  return &meta;
}

void TStream::RaiseInvalidOrigin(int origin) {
  throw EStreamError(FormatText(EStreamError::SInvalidSeekOrigin, {IntToStr(origin)}));
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError(UnicodeString(EReadError::SReadError));
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError(UnicodeString(EWriteError::SWriteError));
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count <= 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t ChunkSize = 64 * 1024;
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(count, ChunkSize)));
  for (int64_t left = count; left > 0;) {
    int64_t n = std::min(left, ChunkSize);
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

int64_t TStream::Size() {
  int64_t position = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t value) { throw EStreamError(UnicodeString(EStreamError::SFixedSize)); }

// --- THandleStream ------------------------------------------------------------

TClass THandleStream::StaticClass() {
  static const TMetaClass meta(u"THandleStream", TStream::StaticClass(), nullptr,
                               {ReadOnlyProperty(u"Handle", u"Integer", &THandleStream::Handle)});
  return &meta;
}

int64_t THandleStream::Read(void* buffer, int64_t count) {
  // Pipes and terminals deliver in pieces; keep reading until the count, the
  // end or an error.
  int64_t done = 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::read(FHandle, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::write(FHandle, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, int origin) {
  int whence;
  switch (origin) {
    case soFromBeginning: whence = SEEK_SET; break;
    case soFromCurrent: whence = SEEK_CUR; break;
    case soFromEnd: whence = SEEK_END; break;
    default: RaiseInvalidOrigin(origin);
  }
  off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (result < 0) {
    if (errno == EINVAL) throw EStreamError(FormatText(EStreamError::SInvalidPosition, {IntToStr(offset)}));
    throw EStreamError(FormatText(EStreamError::SSeekError, {SysErrorMessage(errno)}));
  }
  return result;
}

void THandleStream::SetSize(int64_t value) {
  if (value < 0) throw EStreamError(FormatText(EStreamError::SInvalidSize, {IntToStr(value)}));
  if (::ftruncate(FHandle, static_cast<off_t>(value)) != 0)
    throw EStreamError(FormatText(EStreamError::SSetSizeError, {SysErrorMessage(errno)}));
  if (Position() > value) Seek(0, soFromEnd);
}

// --- TFileStream --------------------------------------------------------------

TClass TFileStream::StaticClass() {
  static const TMetaClass meta(u"TFileStream", THandleStream::StaticClass(), nullptr);
  return &meta;
}

TFileStream::TFileStream(const UnicodeString& FileName, uint16_t Mode) : THandleStream(-1), FFileName(FileName) {
  std::string path = UnicodeToUtf8(FileName);
  bool create = (Mode & 0xFF00) == 0xFF00;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 3) {
      case fmOpenRead: flags |= O_RDONLY; break;
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: throw EFOpenError::CannotOpen(ExpandFileName(FileName), FormatText(SInvalidFileMode, {IntToStr(Mode)}));
    }
  }
  FHandle = path.empty() ? -1 : ::open(path.c_str(), flags, 0666);
  int error = path.empty() ? ENOENT : errno;
  // A directory opens for reading but reads nothing; refuse it as a file.
  struct stat info;
  if (FHandle >= 0 && ::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    error = EISDIR;
  }
  if (FHandle < 0) {
    UnicodeString fullPath = ExpandFileName(FileName);
    if (create) throw EFCreateError::CannotCreate(fullPath, SysErrorMessage(error));
    throw EFOpenError::CannotOpen(fullPath, SysErrorMessage(error));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

// --- TCustomMemoryStream ------------------------------------------------------

TClass TCustomMemoryStream::StaticClass() {
  static const TMetaClass meta(u"TCustomMemoryStream", TStream::StaticClass(), nullptr);
  return &meta;
}

void TCustomMemoryStream::SetPointer(uint8_t* memory, int64_t size) {
  FMemory = memory;
  FSize = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition >= FSize) return 0;
  int64_t n = std::min(count, FSize - FPosition);
  // memmove: a stream may be loaded from itself.
  std::memmove(buffer, FMemory + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, int origin) {
  int64_t base;
  switch (origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = FPosition; break;
    case soFromEnd: base = FSize; break;
    default: RaiseInvalidOrigin(origin);
  }
  int64_t position;
  if (!CheckedAdd(base, offset, position) || position < 0)
    throw EStreamError(FormatText(EStreamError::SInvalidPosition, {IntToStr(offset)}));
  FPosition = position;
  return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) const { stream.WriteBuffer(FMemory, FSize); }

void TCustomMemoryStream::SaveToFile(const UnicodeString& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

// --- TMemoryStream --------------------------------------------------------------

TClass TMemoryStream::StaticClass() {
  static const TMetaClass meta(u"TMemoryStream", TCustomMemoryStream::StaticClass(), &CreateInstance<TMemoryStream>);
  return &meta;
}

void TMemoryStream::Resize(int64_t size) {
  try {
    FBuffer.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    throw EStreamError(UnicodeString(EStreamError::SMemoryStreamError));
  } catch (const std::length_error&) {
    throw EStreamError(UnicodeString(EStreamError::SMemoryStreamError));
  }
  SetPointer(FBuffer.data(), size);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end;
  if (!CheckedAdd(FPosition, count, end)) throw EStreamError(UnicodeString(EStreamError::SMemoryStreamError));
  if (end > FSize) Resize(end);
  std::memmove(FMemory + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

void TMemoryStream::SetSize(int64_t value) {
  if (value < 0) throw EStreamError(FormatText(EStreamError::SInvalidSize, {IntToStr(value)}));
  Resize(value);
  if (FPosition > value) FPosition = value;
}

void TMemoryStream::Clear() {
  FBuffer = std::vector<uint8_t>();
  SetPointer(nullptr, 0);
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t count = stream.Size();
  if (&stream == this) {
    FPosition = 0;
    return;
  }
  SetSize(count);
  stream.ReadBuffer(FMemory, count);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const UnicodeString& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

// --- TResourceStream ------------------------------------------------------------

TClass TResourceStream::StaticClass() {
  static const TMetaClass meta(u"TResourceStream", TCustomMemoryStream::StaticClass(), nullptr);
  return &meta;
}

TResourceStream::TResourceStream(int Instance, const UnicodeString& ResName, const UnicodeString& ResType) {
  throw EResNotFound(FormatText(EResNotFound::SResNotFound, {ResName}));
}

TResourceStream* TResourceStream::CreateFromId(int Instance, int ResId, const UnicodeString& ResType) {
  throw EResNotFound(FormatText(EResNotFound::SResNotFound, {u"#" + IntToStr(ResId)}));
}

int64_t TResourceStream::Write(const void* buffer, int64_t count) {
  throw EStreamError(UnicodeString(EStreamError::SCantWriteResourceStream));
}

}  // namespace rtl
