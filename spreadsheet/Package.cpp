#include "spreadsheet/Package.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

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

// State of one streamed part while libzip pulls its bytes.
struct TStreamState {
  TPartWriter* Writer;
  std::string Buffer;
  size_t Offset = 0;
  bool Done = false;
  std::exception_ptr Failure;
  zip_error_t Error;
};

zip_int64_t StreamCallback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* state = static_cast<TStreamState*>(user);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      return 0;
    case ZIP_SOURCE_READ: {
      try {
        while (state->Offset == state->Buffer.size() && !state->Done) {
          state->Buffer.clear();
          state->Offset = 0;
          if (!(*state->Writer)(state->Buffer)) state->Done = true;
        }
      } catch (...) {
        // Kept for the caller of zip_close; libzip only sees a read error.
        state->Failure = std::current_exception();
        zip_error_set(&state->Error, ZIP_ER_READ, 0);
        return -1;
      }
      size_t n = std::min<size_t>(length, state->Buffer.size() - state->Offset);
      std::memcpy(data, state->Buffer.data() + state->Offset, n);
      state->Offset += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->mtime = time(nullptr);
      st->valid |= ZIP_STAT_MTIME;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&state->Error, data, length);
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      zip_error_set(&state->Error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
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
    if (zip_stat_index(archive, index, 0, &st) != 0) throw Fail("cannot read part " + name + ": " + zip_strerror(archive));
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
  auto stream =
      std::make_shared<TEntryStream>(FZip, static_cast<zip_uint64_t>(e->SourceIndex), name, TPartLimits::Streamed);
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

void TPackage::Save() {
  char resolved[PATH_MAX];
  std::string target = realpath(FPath.c_str(), resolved) ? std::string(resolved) : FPath;
  struct stat original;
  bool haveMode = stat(target.c_str(), &original) == 0;
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + "/." + base + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) throw Fail("cannot create a temporary file in " + dir + ": " + rtl::UnicodeToUtf8(rtl::SysErrorMessage(errno)));
  close(fd);

  auto cleanup = [&] { unlink(temp.c_str()); };
  int error = 0;
  zip_t* out = zip_open(temp.c_str(), ZIP_TRUNCATE | ZIP_CREATE, &error);
  if (!out) {
    cleanup();
    throw Fail("cannot write " + temp + ": " + ZipErrorText(error));
  }
  std::vector<std::unique_ptr<TStreamState>> streams;
  try {
    for (auto& e : FEntries) {
      if (e.Removed) continue;
      zip_source_t* source;
      if (!e.Replaced) {
        // Compressed bytes as they are: unchanged parts stay byte-identical.
        source = zip_source_zip(out, FZip, static_cast<zip_uint64_t>(e.SourceIndex), ZIP_FL_COMPRESSED, 0, -1);
      } else if (e.Writer) {
        streams.push_back(std::make_unique<TStreamState>());
        TStreamState* state = streams.back().get();
        state->Writer = &e.Writer;
        zip_error_init(&state->Error);
        source = zip_source_function(out, StreamCallback, state);
      } else {
        source = zip_source_buffer(out, e.Content.data(), e.Content.size(), 0);
      }
      if (!source) throw Fail(std::string("cannot prepare ") + e.Name + ": " + zip_strerror(out));
      zip_int64_t index = zip_file_add(out, e.Name.c_str(), source, ZIP_FL_ENC_UTF_8);
      if (index < 0) {
        zip_source_free(source);
        throw Fail(std::string("cannot add ") + e.Name + ": " + zip_strerror(out));
      }
      if (e.Replaced) zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6);
    }
    if (zip_close(out) != 0) {
      for (auto& s : streams)
        if (s->Failure) std::rethrow_exception(s->Failure);
      throw Fail(std::string("cannot write the workbook: ") + zip_strerror(out));
    }
  } catch (...) {
    // Discard the half-written copy; the original file is untouched.
    zip_discard(out);
    cleanup();
    throw;
  }
  for (auto& s : streams) zip_error_fini(&s->Error);
  if (haveMode) {
    // Owner first (only a privileged process may change it; otherwise the
    // file stays the saving user's, as any editor leaves it), then the mode.
    if (original.st_uid != geteuid() || original.st_gid != getegid())
      if (chown(temp.c_str(), original.st_uid, original.st_gid) != 0 && errno != EPERM) {
        int code = errno;
        cleanup();
        throw Fail("cannot give " + temp + " the original's owner: " + rtl::UnicodeToUtf8(rtl::SysErrorMessage(code)));
      }
    chmod(temp.c_str(), original.st_mode & 07777);
  }
  // The new bytes reach the disk before they replace the old ones.
  int file = open(temp.c_str(), O_RDONLY);
  bool synced = file >= 0 && fsync(file) == 0;
  if (file >= 0) close(file);
  if (!synced) {
    int code = errno;
    cleanup();
    throw Fail("cannot write " + temp + ": " + rtl::UnicodeToUtf8(rtl::SysErrorMessage(code)));
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    int code = errno;
    cleanup();
    throw Fail("cannot replace " + target + ": " + rtl::UnicodeToUtf8(rtl::SysErrorMessage(code)));
  }
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
