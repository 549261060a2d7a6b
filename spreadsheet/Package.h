// The zip package of a workbook: reading entries, replacing, adding and
// removing them, and saving safely. Entries nobody replaced are copied in
// their compressed form, byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rtl/SysUtils.h"

struct zip;

namespace spreadsheet {

class TWorkbookGuard;

// Produces the bytes of a part piece by piece while the package is written,
// so that large worksheets are never held whole in memory. Each call
// appends the next piece to `out` and returns false when nothing remains.
using TPartWriter = std::function<bool(std::string& out)>;

// How much reading a part may inflate. Application-made parts are at most a
// few megabytes and inflate some tens of times their compressed size; these
// limits leave a wide margin above that while keeping a crafted package from
// taking the machine's memory or time.
struct TPartLimits {
  // A part held whole and parsed into a tree (workbook, styles, relationships).
  static constexpr uint64_t Whole = uint64_t(256) << 20;
  // A part read piece by piece (worksheets, shared strings).
  static constexpr uint64_t Streamed = uint64_t(2) << 30;
  // Inflated bytes per compressed byte, counted for parts above RatioFrom.
  static constexpr uint64_t Ratio = 500;
  static constexpr uint64_t RatioFrom = uint64_t(16) << 20;
  // One element of a streamed part (a row, a shared string), held whole.
  static constexpr uint64_t Element = uint64_t(32) << 20;
};

// A package that cannot be read or written; the message is the reason.
class EPackageError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TPackage {
 public:
  // Opens the zip file; raises spreadsheet::EPackageError with the reason.
  explicit TPackage(const std::string& path);
  ~TPackage();
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  const std::string& Path() const { return FPath; }
  bool Has(const std::string& name) const;
  // Current content (replacement or original), at most TPartLimits::Whole
  // bytes. Raises when absent, too large or damaged.
  std::string Read(const std::string& name) const;
  // The content piece by piece (about a megabyte each), for parts too large
  // to hold whole; at most TPartLimits::Streamed bytes. Raises
  // EPackageError when the part is absent, too large or damaged, at once
  // when its entry says so, else at the piece that shows it.
  std::function<bool(std::string& out)> Reader(const std::string& name) const;
  // The part as the package file holds it, even after it was replaced (for
  // a replacement that streams a changed copy of the original).
  std::function<bool(std::string& out)> OriginalReader(const std::string& name) const;
  // Names in package order.
  std::vector<std::string> Names() const;

  void Write(const std::string& name, std::string content);
  void WriteStreamed(const std::string& name, TPartWriter writer);
  void Remove(const std::string& name);
  bool Changed() const { return FChanged; }

  // Writes the package to a temporary file beside the target (beside the
  // target of a symbolic link), gives it the original's permissions and
  // renames it over the target. The original stays untouched on failure,
  // and so does a file that is no longer the one `guard` saw opened.
  void Save(TWorkbookGuard* guard = nullptr);

 private:
  struct TEntry {
    std::string Name;
    int64_t SourceIndex = -1;  // in the original zip; -1 for a new part
    bool Replaced = false;
    bool Removed = false;
    std::string Content;
    TPartWriter Writer;
  };
  TEntry* Find(const std::string& name);
  const TEntry* Find(const std::string& name) const;

  std::string FPath;
  zip* FZip = nullptr;
  std::vector<TEntry> FEntries;
  bool FChanged = false;
};

}  // namespace spreadsheet
