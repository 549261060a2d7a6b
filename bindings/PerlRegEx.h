// Perl-compatible regular expressions for scripts: TPerlRegEx applies one
// pattern to one subject (match, replace with a template, split), and
// TPerlRegExList searches several of them together for the earliest match.
// Matching is done by PCRE2 in UTF mode; all positions and lengths reported
// are 1-based byte positions and byte counts in the UTF-8 form of the
// subject, while texts cross the interface as script strings (UTF-16).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Objects.h"
#include "rtl/StringList.h"
#include "rtl/SysUtils.h"

// PCRE2's own handles, kept out of this header.
struct pcre2_real_code_8;
struct pcre2_real_compile_context_8;
struct pcre2_real_match_data_8;

namespace bindings {

using rtl::UnicodeString;

// A set of up to 32 enumeration members, bit i standing for ordinal i: the
// same layout scripts use for small sets, so values pass through unchanged.
template <class E>
class TSmallSet {
 public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  static constexpr TSmallSet FromBits(uint32_t bits) {
    TSmallSet s;
    s.FBits = bits;
    return s;
  }
  constexpr uint32_t Bits() const { return FBits; }
  constexpr bool Contains(E m) const { return (FBits >> static_cast<unsigned>(m)) & 1u; }
  constexpr void Include(E m) { FBits |= 1u << static_cast<unsigned>(m); }
  constexpr void Exclude(E m) { FBits &= ~(1u << static_cast<unsigned>(m)); }
  constexpr bool Empty() const { return FBits == 0; }
  friend constexpr bool operator==(TSmallSet, TSmallSet) = default;

 private:
  uint32_t FBits = 0;
};

// The script's option names in the script's order, so that a script's set
// is the object's set bit for bit. Each acts as its name says; preExtra has
// no PCRE2 counterpart and does nothing. preNoAutoCapture is reachable from
// host code only (scripts have no name for it).
enum TPerlRegExOption : uint8_t {
  preCaseLess,
  preMultiLine,
  preSingleLine,
  preExtended,
  preAnchored,
  preDollarEndOnly,
  preExtra,
  preUnGreedy,
  preNoAutoCapture,
};
using TPerlRegExOptions = TSmallSet<TPerlRegExOption>;

enum TPerlRegExSingleState : uint8_t { preNotBOL, preNotEOL, preNotEmpty };
using TPerlRegExState = TSmallSet<TPerlRegExSingleState>;

// Scripts see this constant; the offsets themselves are sized for the
// pattern, so patterns with more groups match too.
constexpr int MAX_SUBEXPRESSIONS = 99;

// Every failure of a regular-expression object.
class ERegularExpressionError : public rtl::Exception {
 public:
  using Exception::Exception;
};

class TPerlRegEx;
class TPerlRegExList;

// OnMatch (a TNotifyEvent) fires after every successful Match and
// MatchAgain; OnReplace fires in Replace with the computed text, which the
// handler may change. While a handler runs its object is in use (see
// rtl::TObject::InUse), so a script cannot free it under the operation.
using TPerlRegExReplaceEvent = std::function<void(rtl::TObject* Sender, UnicodeString& ReplaceWith)>;

class TPerlRegEx : public rtl::TObject {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  static constexpr std::u16string_view SRegExRequired = u"A regular expression specified in RegEx is required";
  static constexpr std::u16string_view SCompileError = u"Error in regular expression at offset %d: %s";
  static constexpr std::u16string_view SStudyError = u"Error studying the regex: %s";
  static constexpr std::u16string_view SMatchRequired = u"Successful match required";
  static constexpr std::u16string_view SIndexOutOfBounds = u"Index out of bounds (%d)";
  static constexpr std::u16string_view SStringsNil = u"Strings parameter cannot be nil";
  // A matcher failure (for example its backtracking limit) must not pass
  // for "no match": the rest of a job would run on wrong data.
  static constexpr std::u16string_view SMatchError = u"Error matching the regex: %s";

  TPerlRegEx();
  ~TPerlRegEx() override;
  TPerlRegEx(const TPerlRegEx&) = delete;
  TPerlRegEx& operator=(const TPerlRegEx&) = delete;

  // The text with a backslash before every regular-expression metacharacter
  // and NUL written as \0; the object is not used.
  static UnicodeString EscapeRegExChars(std::u16string_view s);

  void Compile();
  // Compiles if needed, then JIT-compiles where the JIT is available.
  void Study();
  // Searches from the start of the subject, whatever Start is.
  bool Match();
  // Searches from Start; an empty match moves Start one character on, so
  // repeated calls always make progress.
  bool MatchAgain();
  // Replaces the current match by the computed replacement; returns it.
  UnicodeString Replace();
  bool ReplaceAll();
  UnicodeString ComputeReplacement();
  // Keeps copies of the group texts so they survive a change of subject.
  void StoreSubExpressions();
  // The group number of the name, or a negative number when there is none.
  int NamedSubExpression(const UnicodeString& name);
  // Appends the pieces of the subject between matches; Limit > 1 caps the
  // number of pieces, 0 or less means no limit. Strings is not cleared.
  void Split(rtl::TStrings* strings, int limit);

  bool Compiled() const { return FPattern != nullptr; }
  bool FoundMatch() const { return FOffsetCount > 0; }
  bool Studied() const { return FStudied; }

  UnicodeString MatchedExpression() const { return SubExpressions(0); }
  int MatchedExpressionLength() const { return SubExpressionLengths(0); }
  int MatchedExpressionOffset() const { return SubExpressionOffsets(0); }
  // Groups of the current match, -1 without one.
  int SubExpressionCount() const { return FOffsetCount > 0 ? FOffsetCount - 1 : -1; }
  // Empty above the group count; raises below 0 or without a match.
  UnicodeString SubExpressions(int index) const;
  int SubExpressionLengths(int index) const;
  int SubExpressionOffsets(int index) const;

  int Start() const { return FStart; }
  void SetStart(int value);
  int Stop() const { return FStop; }
  void SetStop(int value);
  TPerlRegExState State() const { return FState; }
  void SetState(TPerlRegExState value) { FState = value; }
  UnicodeString Subject() const { return rtl::Utf8ToUnicode(FSubject); }
  void SetSubject(const UnicodeString& value) { SetSubjectBytes(rtl::UnicodeToUtf8(value)); }
  TPerlRegExOptions Options() const { return FOptions; }
  void SetOptions(TPerlRegExOptions value);
  UnicodeString RegEx() const { return rtl::Utf8ToUnicode(FRegEx); }
  void SetRegEx(const UnicodeString& value);
  UnicodeString Replacement() const { return rtl::Utf8ToUnicode(FReplacement); }
  void SetReplacement(const UnicodeString& value) { FReplacement = rtl::UnicodeToUtf8(value); }
  const rtl::TNotifyEvent& OnMatch() const { return FOnMatch; }
  void SetOnMatch(rtl::TNotifyEvent handler) { FOnMatch = std::move(handler); }
  const TPerlRegExReplaceEvent& OnReplace() const { return FOnReplace; }
  void SetOnReplace(TPerlRegExReplaceEvent handler) { FOnReplace = std::move(handler); }

  // The subject's UTF-8 bytes, for host code that works in byte positions.
  const std::string& SubjectBytes() const { return FSubject; }
  void SetSubjectBytes(std::string value);

 private:
  friend class TPerlRegExList;
  struct TSubjectSource;
  struct TWindowSource;

  void DiscardPattern();
  void DropMatch() { FOffsetCount = 0; }
  void DropStoredGroups() { FStoredGroups.clear(); }
  void RequireMatch() const;
  void CheckIndex(int index) const;
  std::string_view GroupBytes(int index) const;

  // Runs the matcher over `length` bytes at `subject` from `offset` and
  // records the groups as positions in the subject, `base` being the
  // subject position of the first byte given.
  void Execute(const char* subject, size_t length, size_t offset, size_t base, bool validUtf8);
  pcre2_real_code_8* LenientPattern();
  // Search from a 0-based offset of the subject: the common part of Match
  // and MatchAgain, with the empty-match rule and the OnMatch event.
  bool Search(size_t offset);
  // Moves Start past the match; `text` holds the subject from position
  // `base` on, `available` bytes of it.
  void AdvancePastMatch(const char* text, size_t base, size_t available);
  void ReplaceAllWithoutHandlers();

  template <class TSource>
  void ExpandTemplate(std::string_view text, const TSource& source, std::string& out);
  int CaptureCount() const;
  // The group of that name that took part in the match (the first such when
  // names repeat), or -1 when the pattern has no group of that name.
  int GroupOfName(std::string_view name, bool needSetGroup) const;

  std::string FRegEx;
  std::string FReplacement;
  std::string FSubject;
  bool FSubjectValid = true;  // FSubject is valid UTF-8
  int FStart = 1;
  int FStop = 0;
  TPerlRegExOptions FOptions;
  TPerlRegExState FState{preNotEmpty};
  uint32_t FPcreOptions;
  bool FStudied = false;

  // Built once per object from the locale, as PCRE2 builds them.
  const uint8_t* FCharTable = nullptr;
  pcre2_real_compile_context_8* FCompileContext = nullptr;
  pcre2_real_code_8* FPattern = nullptr;
  // The same pattern letting invalid UTF-8 in the subject never match;
  // compiled only for subjects that hold such bytes.
  pcre2_real_code_8* FLenientPattern = nullptr;
  pcre2_real_match_data_8* FMatchData = nullptr;

  // Start and end (1-based) of each group of the current match; 0 and 0
  // for a group that did not take part.
  std::vector<int> FOffsets;
  int FOffsetCount = 0;
  // Copies of the group texts after StoreSubExpressions; empty otherwise.
  std::vector<std::string> FStoredGroups;

  rtl::TNotifyEvent FOnMatch;
  TPerlRegExReplaceEvent FOnReplace;

  // Lists that refer to this object (once per reference), so that freeing
  // it removes it from them instead of leaving them a dangling pointer.
  std::vector<TPerlRegExList*> FLists;
};

// An ordered list of regular expressions searched together; it does not own
// them, but an object that is freed leaves every list it is in.
class TPerlRegExList : public rtl::TObject {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  TPerlRegExList() = default;
  ~TPerlRegExList() override;
  TPerlRegExList(const TPerlRegExList&) = delete;
  TPerlRegExList& operator=(const TPerlRegExList&) = delete;

  static constexpr std::u16string_view SRegExNil = u"A regular expression object is required";

  // Add, Insert and writing RegEx give the object the list's subject, start
  // and stop.
  int Add(TPerlRegEx* regEx);
  void Clear();
  void Delete(int index);
  int IndexOf(const TPerlRegEx* regEx) const;
  void Insert(int index, TPerlRegEx* regEx);
  // Searches from the start of the subject.
  bool Match();
  // The earliest match of any member after the current one; ties go to the
  // member earlier in the list.
  bool MatchAgain();

  TPerlRegEx* RegEx(int index) const;
  void SetRegEx(int index, TPerlRegEx* regEx);
  int Count() const { return static_cast<int>(FList.size()); }
  UnicodeString Subject() const { return rtl::Utf8ToUnicode(FSubject); }
  void SetSubject(const UnicodeString& value);
  int Start() const { return FStart; }
  void SetStart(int value);
  int Stop() const { return FStop; }
  void SetStop(int value);
  TPerlRegEx* MatchedRegEx() const { return FMatchedRegEx; }

 private:
  friend class TPerlRegEx;
  void CheckIndex(int index, int count) const;
  void Attach(TPerlRegEx* regEx);
  void Detach(TPerlRegEx* regEx);
  void Forget(TPerlRegEx* regEx);

  std::vector<TPerlRegEx*> FList;  // not owned
  std::string FSubject;
  bool FSubjectValid = true;  // FSubject is valid UTF-8
  int FStart = 1;
  int FStop = 0;
  TPerlRegEx* FMatchedRegEx = nullptr;  // not owned
};

}  // namespace bindings
