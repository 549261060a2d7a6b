// The zip package of a workbook: reading entries, replacing, adding and
// removing them, and saving safely. Entries nobody replaced are copied in
// their compressed form, byte for byte.
#pragma once

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
  // Current content (replacement or original). Raises when absent.
  std::string Read(const std::string& name) const;
  // The content piece by piece (about a megabyte each), for parts too large
  // to hold whole. Raises EPackageError when the part is absent or unreadable.
  std::function<bool(std::string& out)> Reader(const std::string& name) const;
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
