#include "spreadsheet/Package.h"

#include <zip.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "spreadsheet/ParallelDeflate.h"
#include "spreadsheet/RemoveOnSignal.h"
#include "spreadsheet/WorkbookGuard.h"

namespace spreadsheet {

namespace {

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

EPackageError Fail(const std::string& reason) { return EPackageError(rtl::Utf8ToUnicode(reason)); }

// The deflate level of written parts, chosen by measurement on a large
// sheet: half the time of zlib's default for a tenth more bytes.
constexpr int kDeflateLevel = 4;

// State of one streamed part while libzip takes it: the part is compressed
// (on two cores) when libzip first asks about it, and handed over as data
// already deflated, so libzip only copies it.
struct TStreamState {
  TPartWriter* Writer;
  std::string SpillFolder;
  std::unique_ptr<TDeflatedPart> Deflated;
  uint64_t Offset = 0;
  // What libzip may still ask after it took the whole part, whose data is
  // let go then (up to a megabyte, or a spill file, for every part).
  uint64_t Size = 0, CompressedSize = 0;
  uint32_t Crc = 0;
  bool Taken = false;
  std::exception_ptr Failure;
  zip_error_t Error;

  bool Deflate() {
    if (Deflated) return true;
    if (Taken) {
      zip_error_set(&Error, ZIP_ER_READ, 0);  // read again after it was let go
      return false;
    }
    try {
      Deflated = std::make_unique<TDeflatedPart>(*Writer, kDeflateLevel, SpillFolder);
      Size = Deflated->Size();
      CompressedSize = Deflated->CompressedSize();
      Crc = Deflated->Crc();
      return true;
    } catch (...) {
      // Kept for the caller of zip_close; libzip only sees a read error.
      Failure = std::current_exception();
      zip_error_set(&Error, ZIP_ER_READ, 0);
      return false;
    }
  }
};

zip_int64_t StreamCallback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* state = static_cast<TStreamState*>(user);
  switch (command) {
    case ZIP_SOURCE_OPEN: state->Offset = 0; return state->Deflate() ? 0 : -1;
    case ZIP_SOURCE_READ: {
      if (!state->Deflate()) return -1;
      try {
        size_t n = state->Deflated->Read(state->Offset, static_cast<char*>(data), static_cast<size_t>(length));
        state->Offset += n;
        return static_cast<zip_int64_t>(n);
      } catch (...) {
        state->Failure = std::current_exception();
        zip_error_set(&state->Error, ZIP_ER_READ, 0);
        return -1;
      }
    }
    case ZIP_SOURCE_CLOSE:
      if (state->Deflated && state->Offset == state->CompressedSize) {
        state->Deflated.reset();
        state->Taken = true;
      }
      return 0;
    case ZIP_SOURCE_STAT: {
      if (!state->Taken && !state->Deflate()) return -1;
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->mtime = time(nullptr);
      st->size = state->Size;
      st->comp_size = state->CompressedSize;
      st->crc = state->Crc;
      st->comp_method = ZIP_CM_DEFLATE;
      st->valid |= ZIP_STAT_MTIME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&state->Error, data, length);
    case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default: zip_error_set(&state->Error, ZIP_ER_OPNOTSUPP, 0); return -1;
  }
}

std::string PartTooLarge(const std::string& name, const std::string& detail) {
  return "part " + name + " is too large (" + detail + ")";
}

// One original entry read in pieces and held to what its entry states: a
// stated size beyond the limits is refused before anything is inflated, and
// data that runs past the stated size, or stops short of it, is damage. So a
// part never costs more than the limits whatever its headers claim.
class TEntryStream {
 public:
  TEntryStream(zip* archive, zip_uint64_t index, const std::string& name, uint64_t limit) : FName(name) {
    zip_stat_t st;
    if (zip_stat_index(archive, index, 0, &st) != 0)
      throw Fail("cannot read part " + name + ": " + zip_strerror(archive));
    FStated = st.size;
    uint64_t compressed = std::max<uint64_t>(st.comp_size, 1);
    if (FStated > limit)
      throw Fail(PartTooLarge(name, std::to_string(FStated) + " bytes; the limit is " + std::to_string(limit)));
    if (FStated > TPartLimits::RatioFrom && FStated / compressed >= TPartLimits::Ratio)
      throw Fail(PartTooLarge(name, std::to_string(FStated) + " bytes from " + std::to_string(st.comp_size) +
                                        " compressed; the limit is " + std::to_string(TPartLimits::Ratio) + " times"));
    FFile = zip_fopen_index(archive, index, 0);
    if (!FFile) throw Fail("cannot read part " + name + ": " + zip_strerror(archive));
  }
  ~TEntryStream() { zip_fclose(FFile); }
  TEntryStream(const TEntryStream&) = delete;
  TEntryStream& operator=(const TEntryStream&) = delete;

  // Appends the next piece to `out`; false when the entry is done.
  bool Next(std::string& out) {
    const uint64_t piece = 1 << 20;
    size_t at = out.size();
    // One byte beyond the stated size is enough to see data run past it.
    size_t want = static_cast<size_t>(std::min<uint64_t>(piece, FStated - FGot + 1));
    out.resize(at + want);
    zip_int64_t got = zip_fread(FFile, out.data() + at, want);
    if (got < 0) {
      out.resize(at);
      std::string reason = zip_file_strerror(FFile);
      throw Fail("cannot read part " + FName + ": " + (reason.empty() ? "the data is damaged" : reason));
    }
    out.resize(at + static_cast<size_t>(got));
    FGot += static_cast<uint64_t>(got);
    if (FGot > FStated)
      throw Fail("part " + FName + " is damaged (it holds more than the " + std::to_string(FStated) +
                 " bytes its entry states)");
    if (got == 0 && FGot < FStated)
      throw Fail("part " + FName + " is damaged (it holds " + std::to_string(FGot) + " bytes where its entry states " +
                 std::to_string(FStated) + ")");
    return got > 0;
  }

 private:
  zip_file_t* FFile = nullptr;
  std::string FName;
  uint64_t FStated = 0;
  uint64_t FGot = 0;
};

}  // namespace

TPackage::TPackage(const std::string& path) : FPath(path) {
  int error = 0;
  FZip = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!FZip) {
    if (error == ZIP_ER_NOENT || error == ZIP_ER_OPEN || error == ZIP_ER_READ)
      throw Fail(rtl::UnicodeToUtf8(rtl::SysErrorMessage(errno ? errno : ENOENT)));
    if (error == ZIP_ER_NOZIP) throw Fail("the file is not a zip package");
    throw Fail(ZipErrorText(error));
  }
  zip_int64_t count = zip_get_num_entries(FZip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(FZip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!name) continue;
    TEntry entry;
    entry.Name = name;
    entry.SourceIndex = i;
    FEntries.push_back(std::move(entry));
  }
}

TPackage::~TPackage() {
  if (FZip) zip_discard(FZip);
}

TPackage::TEntry* TPackage::Find(const std::string& name) {
  for (auto& e : FEntries)
    if (!e.Removed && e.Name == name) return &e;
  return nullptr;
}

const TPackage::TEntry* TPackage::Find(const std::string& name) const {
  return const_cast<TPackage*>(this)->Find(name);
}

bool TPackage::Has(const std::string& name) const { return Find(name) != nullptr; }

std::vector<std::string> TPackage::Names() const {
  std::vector<std::string> names;
  for (const auto& e : FEntries)
    if (!e.Removed) names.push_back(e.Name);
  return names;
}

std::string TPackage::Read(const std::string& name) const {
  const TEntry* e = Find(name);
  if (!e) throw Fail("the package has no part " + name);
  if (e->Replaced) {
    if (e->Writer) throw Fail("part " + name + " is only available while saving");
    return e->Content;
  }
  TEntryStream stream(FZip, static_cast<zip_uint64_t>(e->SourceIndex), name, TPartLimits::Whole);
  std::string content;
  while (stream.Next(content)) {
  }
  return content;
}

std::function<bool(std::string& out)> TPackage::Reader(const std::string& name) const {
  const TEntry* e = Find(name);
  if (!e) throw Fail("the package has no part " + name);
  if (e->Replaced) {
    auto content = std::make_shared<std::string>(Read(name));
    return [content](std::string& out) {
      if (content->empty()) return false;
      out += *content;
      content->clear();
      return true;
    };
  }
  auto stream = std::make_shared<TEntryStream>(FZip, static_cast<zip_uint64_t>(e->SourceIndex), name,
                                               TPartLimits::Streamed);
  return [stream](std::string& out) { return stream->Next(out); };
}

std::function<bool(std::string& out)> TPackage::OriginalReader(const std::string& name) const {
  const TEntry* e = Find(name);
  if (!e || e->SourceIndex < 0) throw Fail("the package has no part " + name);
  auto stream = std::make_shared<TEntryStream>(FZip, static_cast<zip_uint64_t>(e->SourceIndex), name,
                                               TPartLimits::Streamed);
  return [stream](std::string& out) { return stream->Next(out); };
}

void TPackage::Write(const std::string& name, std::string content) {
  TEntry* e = Find(name);
  if (!e) {
    FEntries.push_back(TEntry{name, -1, true, false, {}, {}});
    e = &FEntries.back();
  }
  e->Replaced = true;
  e->Writer = nullptr;
  e->Content = std::move(content);
  FChanged = true;
}

void TPackage::WriteStreamed(const std::string& name, TPartWriter writer) {
  Write(name, {});
  Find(name)->Writer = std::move(writer);
}

void TPackage::Remove(const std::string& name) {
  if (TEntry* e = Find(name)) {
    e->Removed = true;
    e->Content.clear();
    e->Writer = nullptr;
    FChanged = true;
  }
}

namespace {

// --- Saving -----------------------------------------------------------------------------

std::string ErrorText(int code) { return rtl::UnicodeToUtf8(rtl::SysErrorMessage(code)); }

// The one temporary file of a save, ".NAME.XXXXXX" beside the workbook:
// removed when the save fails or a signal ends the process during it.
class TTemporary {
 public:
  TTemporary(const std::string& dir, const std::string& base) : FPath(dir + "/." + base + ".XXXXXX") {
    TSignalsHeld held;  // made and registered with no signal in between
    FFd = mkstemp(FPath.data());
    if (FFd < 0) throw Fail("cannot create a temporary file in " + dir + ": " + ErrorText(errno));
    FRemoveOnSignal = std::make_unique<TRemoveOnSignal>(FPath);
  }
  ~TTemporary() {
    if (!FRenamed) unlink(FPath.c_str());
    FRemoveOnSignal.reset();
    close(FFd);
  }
  TTemporary(const TTemporary&) = delete;
  TTemporary& operator=(const TTemporary&) = delete;

  const std::string& Path() const { return FPath; }
  int Descriptor() const { return FFd; }
  // The file is the workbook now; nothing is left to remove.
  void Renamed() {
    FRenamed = true;
    FRemoveOnSignal.reset();
  }

 private:
  std::string FPath;
  int FFd = -1;
  bool FRenamed = false;
  std::unique_ptr<TRemoveOnSignal> FRemoveOnSignal;
};

// Temporaries of saves that a power cut or SIGKILL ended: ".NAME.XXXXXX",
// and ".NAME.XXXXXX.YYYYYY" of the zip library's own file in older versions.
bool IsTemporaryOf(std::string_view name, std::string_view base) {
  auto randomPart = [](std::string_view text) {
    if (text.size() != 6) return false;
    for (char c : text)
      if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
  };
  if (name.size() < base.size() + 2 || name[0] != '.' || name.substr(1, base.size()) != base ||
      name[base.size() + 1] != '.')
    return false;
  std::string_view rest = name.substr(base.size() + 2);
  if (rest.size() == 6) return randomPart(rest);
  return rest.size() == 13 && rest[6] == '.' && randomPart(rest.substr(0, 6)) && randomPart(rest.substr(7));
}

// Only old ones go: a save in progress elsewhere (a job that does not lock)
// writes its temporary continuously.
constexpr time_t kStaleTemporaryAge = 60 * 60;

void RemoveStaleTemporaries(const std::string& dir, const std::string& base) {
  DIR* folder = opendir(dir.c_str());
  if (!folder) return;  // the save itself reports what is wrong with the folder
  time_t now = time(nullptr);
  while (const dirent* entry = readdir(folder)) {
    if (!IsTemporaryOf(entry->d_name, base)) continue;
    struct stat st;
    if (fstatat(dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    // One that cannot be removed (another user's, in a sticky folder) is left.
    if (now - st.st_mtime >= kStaleTemporaryAge) unlinkat(dirfd(folder), entry->d_name, 0);
  }
  closedir(folder);
}

// The archive's destination: the temporary file, written through its
// descriptor. Given a file name instead, the zip library would write a
// temporary file of its own beside it and rename that over it.
struct TTargetState {
  explicit TTargetState(int fd) : Fd(fd) { zip_error_init(&Error); }
  ~TTargetState() { zip_error_fini(&Error); }
  int Fd;
  zip_error_t Error;
};

zip_int64_t TargetCallback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* state = static_cast<TTargetState*>(user);
  auto failed = [&](int zipError, int systemError) {
    zip_error_set(&state->Error, zipError, systemError);
    return zip_int64_t{-1};
  };
  switch (command) {
    case ZIP_SOURCE_STAT:
      // An archive that does not exist yet: it is made from nothing.
      return failed(ZIP_ER_READ, ENOENT);
    case ZIP_SOURCE_BEGIN_WRITE:
      if (ftruncate(state->Fd, 0) != 0 || lseek(state->Fd, 0, SEEK_SET) != 0) return failed(ZIP_ER_WRITE, errno);
      return 0;
    case ZIP_SOURCE_WRITE: {
      const char* bytes = static_cast<const char*>(data);
      zip_uint64_t done = 0;
      while (done < length) {
        ssize_t n = write(state->Fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return failed(ZIP_ER_WRITE, n < 0 ? errno : ENOSPC);
        done += static_cast<zip_uint64_t>(n);
      }
      return static_cast<zip_int64_t>(done);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
      auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &state->Error);
      if (!args) return -1;
      if (lseek(state->Fd, args->offset, args->whence) < 0) return failed(ZIP_ER_SEEK, errno);
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
      off_t at = lseek(state->Fd, 0, SEEK_CUR);
      if (at < 0) return failed(ZIP_ER_TELL, errno);
      return at;
    }
    case ZIP_SOURCE_COMMIT_WRITE:    // made durable and put in place by Save
    case ZIP_SOURCE_ROLLBACK_WRITE:  // removed by Save
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&state->Error, data, length);
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_WRITABLE;
    default:
      // Reading: the destination is never read back through this source.
      return failed(ZIP_ER_OPNOTSUPP, 0);
  }
}

}  // namespace

void TPackage::Save(TWorkbookGuard* guard) {
  char resolved[PATH_MAX];
  std::string target = realpath(FPath.c_str(), resolved) ? std::string(resolved) : FPath;
  struct stat original;
  bool haveMode = stat(target.c_str(), &original) == 0;
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  RemoveStaleTemporaries(dir, base);
  TTemporary temp(dir, base);

  TTargetState destination(temp.Descriptor());
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(TargetCallback, &destination, &error);
  zip_t* out = source ? zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
  if (!out) {
    std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    if (source) zip_source_free(source);
    throw Fail("cannot write " + temp.Path() + ": " + reason);
  }
  zip_error_fini(&error);
  std::vector<std::unique_ptr<TStreamState>> streams;
  try {
    for (auto& e : FEntries) {
      if (e.Removed) continue;
      zip_source_t* part;
      if (!e.Replaced) {
        // Compressed bytes as they are: unchanged parts stay byte-identical.
        part = zip_source_zip(out, FZip, static_cast<zip_uint64_t>(e.SourceIndex), ZIP_FL_COMPRESSED, 0, -1);
      } else if (e.Writer) {
        streams.push_back(std::make_unique<TStreamState>());
        TStreamState* state = streams.back().get();
        state->Writer = &e.Writer;
        state->SpillFolder = dir;
        zip_error_init(&state->Error);
        part = zip_source_function(out, StreamCallback, state);
      } else {
        part = zip_source_buffer(out, e.Content.data(), e.Content.size(), 0);
      }
      if (!part) throw Fail(std::string("cannot prepare ") + e.Name + ": " + zip_strerror(out));
      zip_int64_t index = zip_file_add(out, e.Name.c_str(), part, ZIP_FL_ENC_UTF_8);
      if (index < 0) {
        zip_source_free(part);
        throw Fail(std::string("cannot add ") + e.Name + ": " + zip_strerror(out));
      }
      if (e.Replaced) zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, kDeflateLevel);
    }
    if (zip_close(out) != 0) {
      for (auto& s : streams)
        if (s->Failure) std::rethrow_exception(s->Failure);
      throw Fail(std::string("cannot write the workbook: ") + zip_strerror(out));
    }
  } catch (...) {
    // Discard the half-written copy (TTemporary removes it); the original
    // file is untouched.
    zip_discard(out);
    for (auto& s : streams) zip_error_fini(&s->Error);
    throw;
  }
  for (auto& s : streams) zip_error_fini(&s->Error);
  int fd = temp.Descriptor();
  if (haveMode) {
    // Owner first (only a privileged process may change it; otherwise the
    // file stays the saving user's, as any editor leaves it), then the mode.
    if (original.st_uid != geteuid() || original.st_gid != getegid())
      if (fchown(fd, original.st_uid, original.st_gid) != 0 && errno != EPERM)
        throw Fail("cannot give " + temp.Path() + " the original's owner: " + ErrorText(errno));
    fchmod(fd, original.st_mode & 07777);
  }
  // The new bytes reach the disk before they replace the old ones.
  struct stat written;
  if (fsync(fd) != 0 || fstat(fd, &written) != 0) throw Fail("cannot write " + temp.Path() + ": " + ErrorText(errno));
  // Another program may have replaced or changed the file while this one
  // had it open; its work is not overwritten.
  if (guard) guard->CheckUnchanged(target);
  if (rename(temp.Path().c_str(), target.c_str()) != 0)
    throw Fail("cannot replace " + target + ": " + ErrorText(errno));
  temp.Renamed();
  if (guard) guard->Saved(TFileIdentity::Of(written));
  int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    fsync(folder);  // the rename itself; a failure here leaves a complete file either way
    close(folder);
  }
  // Continue from the file just written, so that a later save copies from it.
  zip_discard(FZip);
  FZip = nullptr;
  FEntries.clear();
  FChanged = false;
  int reopenError = 0;
  FZip = zip_open(FPath.c_str(), ZIP_RDONLY, &reopenError);
  if (!FZip) throw Fail("cannot reopen the saved workbook: " + ZipErrorText(reopenError));
  zip_int64_t count = zip_get_num_entries(FZip, 0);
  for (zip_int64_t i = 0; i < count; ++i)
    if (const char* name = zip_get_name(FZip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS))
      FEntries.push_back(TEntry{name, i, false, false, {}, {}});
}

}  // namespace spreadsheet
