#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "rtl/Streams.h"

using namespace rtl;

namespace {

// Per process: test programs of several worktrees may run at once.
UnicodeString TempFile(const char* name) {
  return Utf8ToUnicode(std::string(::testing::TempDir()) + std::to_string(::getpid()) + "_" + name);
}

std::string ReadAll(TStream& stream) {
  stream.SetPosition(0);
  std::string bytes(static_cast<size_t>(stream.Size()), '\0');
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

}  // namespace

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream s;
  EXPECT_EQ(s.Write("hello", 5), 5);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Size(), 5);
  EXPECT_EQ(s.Seek(-2, soFromEnd), 3);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2);  // only what is there
  EXPECT_EQ(std::string(buf, 2), "lo");
  EXPECT_EQ(s.Read(buf, 8), 0);  // at the end
  EXPECT_EQ(s.Seek(1, soFromBeginning), 1);
  EXPECT_EQ(s.Seek(1, soFromCurrent), 2);
  s.Write("LL", 2);  // overwrites inside
  EXPECT_EQ(ReadAll(s), "heLLo");
  EXPECT_EQ(s.Read(buf, -1), 0);
  EXPECT_EQ(s.Write(buf, 0), 0);
  EXPECT_EQ(s.Write(buf, -5), 0);
}

TEST(MemoryStream, SeekingPastTheEndThenWritingFillsTheGapWithZeros) {
  TMemoryStream s;
  s.Write("a", 1);
  s.SetPosition(4);
  EXPECT_EQ(s.Size(), 1);  // seeking alone does not grow it
  char buf[4];
  EXPECT_EQ(s.Read(buf, 4), 0);
  s.Write("b", 1);
  EXPECT_EQ(ReadAll(s), std::string("a\0\0\0b", 5));
}

TEST(MemoryStream, BadPositionsSizesAndOriginsAreRefused) {
  TMemoryStream s;
  s.Write("abc", 3);
  try {
    s.Seek(-4, soFromEnd);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), u"Invalid stream position (-4)");
  }
  EXPECT_EQ(s.Position(), 3);  // unchanged by the refusal
  try {
    s.Seek(0, 3);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), u"Invalid stream seek origin (3)");
  }
  EXPECT_THROW(s.Seek(INT64_MAX, soFromCurrent), EStreamError);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
  s.SetPosition(INT64_MAX - 1);
  EXPECT_THROW(s.Write("xy", 2), EStreamError);  // would overflow the position
  EXPECT_EQ(s.Size(), 3);
}

TEST(MemoryStream, SetSizeKeepsOrClampsThePosition) {
  TMemoryStream s;
  s.Write("abcdef", 6);
  s.SetPosition(2);
  s.SetSize(4);
  EXPECT_EQ(s.Position(), 2);
  s.SetPosition(4);
  s.SetSize(1);
  EXPECT_EQ(s.Position(), 1);
  s.SetSize(3);
  EXPECT_EQ(ReadAll(s), std::string("a\0\0", 3));
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(Stream, ReadBufferAndWriteBufferInsistOnTheWholeCount) {
  TMemoryStream s;
  s.Write("abc", 3);
  s.SetPosition(1);
  char buf[4];
  try {
    s.ReadBuffer(buf, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), u"Stream read error");
  }
  s.SetPosition(0);
  s.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  s.ReadBuffer(buf, 0);  // nothing wanted, nothing missing
}

TEST(Stream, CopyFromCopiesACountOrTheWholeSource) {
  TMemoryStream source;
  std::string big(200000, 'x');
  big[150000] = 'y';
  source.Write(big.data(), static_cast<int64_t>(big.size()));
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 200000);  // 0: all, from the start
  EXPECT_EQ(ReadAll(target), big);
  source.SetPosition(149999);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(source, 2), 2);
  EXPECT_EQ(ReadAll(part), "xy");
  source.SetPosition(199999);
  EXPECT_THROW(part.CopyFrom(source, 5), EReadError);
}

TEST(MemoryStream, LoadAndSaveWholeContentsWhateverThePosition) {
  UnicodeString path = TempFile("korva_memory.bin");
  TMemoryStream s;
  s.Write("\x00\x01\xFFtext", 7);
  s.SetPosition(3);
  s.SaveToFile(path);
  TMemoryStream loaded;
  loaded.Write("old contents", 12);
  loaded.LoadFromFile(path);
  EXPECT_EQ(loaded.Position(), 0);
  EXPECT_EQ(ReadAll(loaded), std::string("\x00\x01\xFFtext", 7));
  TMemoryStream copy;
  loaded.SaveToStream(copy);
  EXPECT_EQ(ReadAll(copy), ReadAll(loaded));
  copy.LoadFromStream(copy);  // itself: unchanged
  EXPECT_EQ(ReadAll(copy), ReadAll(loaded));
  std::remove(UnicodeToUtf8(path).c_str());
}

TEST(FileStream, ModesCreateOpenReadAndWrite) {
  UnicodeString path = TempFile("korva_file.bin");
  {
    TFileStream created(path, fmCreate);
    created.WriteBuffer("0123456789", 10);
    EXPECT_EQ(created.Size(), 10);
    EXPECT_EQ(created.FileName(), path);
    EXPECT_GE(created.Handle(), 0);
  }
  {
    TFileStream reader(path, fmOpenRead | fmShareDenyNone);  // share modes are accepted
    char buf[4];
    reader.Seek(-4, soFromEnd);
    reader.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(reader.Write("x", 1), 0);  // opened for reading only
    EXPECT_THROW(reader.WriteBuffer("x", 1), EWriteError);
  }
  {
    TFileStream writer(path, fmOpenWrite | fmShareExclusive);
    writer.WriteBuffer("ab", 2);  // overwrites, keeps the rest
    char c;
    EXPECT_EQ(writer.Read(&c, 1), 0);
  }
  {
    TFileStream both(path, fmOpenReadWrite);
    EXPECT_EQ(ReadAll(both), "ab23456789");
    both.SetSize(3);
    EXPECT_EQ(both.Position(), 3);
    both.Seek(0, soFromEnd);
    both.WriteBuffer("Z", 1);
    EXPECT_EQ(ReadAll(both), "ab2Z");
  }
  {
    TFileStream again(path, fmCreate | fmShareExclusive);  // fmCreate truncates
    EXPECT_EQ(again.Size(), 0);
  }
  std::remove(UnicodeToUtf8(path).c_str());
}

TEST(FileStream, FailuresNameTheFullPathAndTheReason) {
  UnicodeString missing = TempFile("korva_missing_file.bin");
  try {
    TFileStream s(missing, fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), u"Cannot open file \"" + missing + u"\". " + SysErrorMessage(ENOENT));
  }
  try {
    TFileStream s(u"/nonexistent-dir/new.bin", fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), u"Cannot create file \"/nonexistent-dir/new.bin\". " + SysErrorMessage(ENOENT));
  }
  // A directory is not a file, even though the system opens it for reading.
  UnicodeString dir = Utf8ToUnicode(::testing::TempDir());
  EXPECT_THROW(TFileStream(dir, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(missing, 3), EFOpenError);  // no such access mode
  EXPECT_THROW(TFileStream(u"", fmOpenRead), EFOpenError);
}

TEST(HandleStream, WorksOnADescriptorItDoesNotClose) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    THandleStream writer(fds[1]);
    THandleStream reader(fds[0]);
    EXPECT_EQ(writer.Handle(), fds[1]);
    writer.WriteBuffer("piped", 5);
    char buf[5];
    reader.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "piped");
    EXPECT_THROW(reader.Seek(0, soFromBeginning), EStreamError);  // pipes cannot seek
  }
  EXPECT_EQ(::close(fds[0]), 0);  // still open: the streams did not close them
  EXPECT_EQ(::close(fds[1]), 0);
  THandleStream closed(fds[0]);
  char c;
  EXPECT_EQ(closed.Read(&c, 1), 0);
  EXPECT_THROW(closed.ReadBuffer(&c, 1), EReadError);
}

TEST(ResourceStream, ConstructionSaysThereAreNoResources) {
  try {
    TResourceStream s(0, u"MYDATA", u"RCDATA");
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), u"Resource MYDATA not found: programs on this system carry no resources");
  }
  try {
    delete TResourceStream::CreateFromId(0, 12, u"RCDATA");
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), u"Resource #12 not found: programs on this system carry no resources");
  }
}
