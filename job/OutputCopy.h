// A workbook filled as a copy: the template named with -x stays as it is
// and the job works on a copy beside the output file, which replaces the
// output in one rename once the workbook is saved, as a save in place does.
#pragma once

#include <string>

#include "rtl/SysUtils.h"

namespace job {

using rtl::UnicodeString;

class TOutputCopy {
 public:
  static constexpr std::u16string_view SWrongKind = u"Output file %s must be a %s workbook like its template";
  static constexpr std::u16string_view SCannotCreate = u"Cannot create file \"%s\". %s";
  static constexpr std::u16string_view SReadOnly = u"Output file %s is read-only";
  static constexpr std::u16string_view SOpenElsewhere = u"Output file %s is open in another program (lock file %s)";

  // Whether `output` names the template itself (or nothing but it): the
  // job then works in place.
  static bool SameFile(const UnicodeString& templateFile, const UnicodeString& output);

  // Checks the output's kind and folder and copies the template next to it;
  // raises SWrongKind, SCannotCreate or the template's "Cannot open file".
  TOutputCopy(const UnicodeString& templateFile, const UnicodeString& output);
  // Removes the copy unless it was committed.
  ~TOutputCopy();
  TOutputCopy(const TOutputCopy&) = delete;
  TOutputCopy& operator=(const TOutputCopy&) = delete;

  // The copy the job opens.
  const UnicodeString& Path() const { return FCopy; }
  // Renames the copy over the output; raises SCannotCreate.
  void Commit();
  // A failure's text with the copy's name turned into `name`: the user never
  // named the copy.
  UnicodeString Rename(const UnicodeString& message, const UnicodeString& name) const;

 private:
  UnicodeString FCopy;
  UnicodeString FOutput;  // absolute
  bool FCommitted = false;
  bool FRegistered = false;
};

}  // namespace job
