// The regular-expression object: pattern compilation, matching, group access
// and the property setters. Replacement and the list live in bindings/regex/.
#define PCRE2_CODE_UNIT_WIDTH 8
#include "bindings/PerlRegEx.h"

#include <pcre2.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "bindings/regex/Utf8Steps.h"

namespace bindings {

namespace {

constexpr uint32_t kBasePcreOptions = PCRE2_UTF;

constexpr struct {
  TPerlRegExOption option;
  uint32_t flag;
} kOptionFlags[] = {
    {preCaseLess, PCRE2_CASELESS},
    {preMultiLine, PCRE2_MULTILINE},
    {preSingleLine, PCRE2_DOTALL},
    {preExtended, PCRE2_EXTENDED},
    {preAnchored, PCRE2_ANCHORED},
    {preDollarEndOnly, PCRE2_DOLLAR_ENDONLY},
    {preExtra, 0},  // no PCRE2 counterpart
    {preUnGreedy, PCRE2_UNGREEDY},
    {preNoAutoCapture, PCRE2_NO_AUTO_CAPTURE},
};

constexpr struct {
  TPerlRegExSingleState state;
  uint32_t flag;
} kStateFlags[] = {
    {preNotBOL, PCRE2_NOTBOL},
    {preNotEOL, PCRE2_NOTEOL},
    {preNotEmpty, PCRE2_NOTEMPTY},
};

uint32_t PcreOptionsOf(TPerlRegExOptions options) {
  uint32_t flags = kBasePcreOptions;
  for (const auto& entry : kOptionFlags)
    if (options.Contains(entry.option)) flags |= entry.flag;
  return flags;
}

uint32_t MatchFlagsOf(TPerlRegExState state) {
  uint32_t flags = 0;
  for (const auto& entry : kStateFlags)
    if (state.Contains(entry.state)) flags |= entry.flag;
  return flags;
}

UnicodeString PcreMessage(int code) {
  PCRE2_UCHAR buffer[256];
  int length = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (length < 0) return u"error " + rtl::IntToStr(code);
  return rtl::Utf8ToUnicode(std::string_view(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length)));
}

int ClampToInt(size_t value) { return value > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value); }

}  // namespace

// --- Life cycle -----------------------------------------------------------------

rtl::TClass TPerlRegEx::StaticClass() {
  static const rtl::TMetaClass meta(
      u"TPerlRegEx", rtl::TObject::StaticClass(), &rtl::CreateInstance<TPerlRegEx>,
      {rtl::ReadWriteProperty(u"OnMatch", u"TNotifyEvent", &TPerlRegEx::OnMatch, &TPerlRegEx::SetOnMatch)});
  return &meta;
}

TPerlRegEx::TPerlRegEx() : FPcreOptions(PcreOptionsOf(FOptions)) {
  FCharTable = pcre2_maketables(nullptr);
  FCompileContext = pcre2_compile_context_create(nullptr);
  if (!FCharTable || !FCompileContext) {
    pcre2_maketables_free(nullptr, FCharTable);
    pcre2_compile_context_free(FCompileContext);
    throw std::bad_alloc();
  }
  pcre2_set_character_tables(FCompileContext, FCharTable);
  pcre2_set_newline(FCompileContext, PCRE2_NEWLINE_ANY);
}

TPerlRegEx::~TPerlRegEx() {
  for (TPerlRegExList* list : std::exchange(FLists, {})) list->Forget(this);
  DiscardPattern();
  pcre2_compile_context_free(FCompileContext);
  pcre2_maketables_free(nullptr, FCharTable);
}

void TPerlRegEx::DiscardPattern() {
  pcre2_match_data_free(FMatchData);
  pcre2_code_free(FPattern);
  pcre2_code_free(FLenientPattern);
  FMatchData = nullptr;
  FPattern = nullptr;
  FLenientPattern = nullptr;
  FStudied = false;
}

// --- Compiling ----------------------------------------------------------------------

void TPerlRegEx::Compile() {
  if (FRegEx.empty()) throw ERegularExpressionError(UnicodeString(SRegExRequired));
  DiscardPattern();
  DropStoredGroups();
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  FPattern = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(FRegEx.data()), FRegEx.size(), FPcreOptions, &error,
                           &errorOffset, FCompileContext);
  if (!FPattern)
    throw ERegularExpressionError(
        rtl::FormatText(SCompileError, {rtl::IntToStr(static_cast<int64_t>(errorOffset)), PcreMessage(error)}));
  // Sized for the pattern, so any number of groups fits.
  FMatchData = pcre2_match_data_create_from_pattern(FPattern, nullptr);
  if (!FMatchData) {
    DiscardPattern();
    throw std::bad_alloc();
  }
}

namespace {

// PCRE2 built without the JIT reports a bad option: matching works as it is.
void JitCompile(pcre2_code* pattern) {
  int result = pcre2_jit_compile(pattern, PCRE2_JIT_COMPLETE);
  if (result < 0 && result != PCRE2_ERROR_JIT_BADOPTION)
    throw ERegularExpressionError(rtl::FormatText(TPerlRegEx::SStudyError, {PcreMessage(result)}));
}

}  // namespace

void TPerlRegEx::Study() {
  if (!Compiled()) Compile();
  JitCompile(FPattern);
  if (FLenientPattern) JitCompile(FLenientPattern);
  FStudied = true;
}

pcre2_code* TPerlRegEx::LenientPattern() {
  if (!FLenientPattern) {
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    FLenientPattern = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(FRegEx.data()), FRegEx.size(),
                                    FPcreOptions | PCRE2_MATCH_INVALID_UTF, &error, &errorOffset, FCompileContext);
    if (!FLenientPattern)
      throw ERegularExpressionError(
          rtl::FormatText(SCompileError, {rtl::IntToStr(static_cast<int64_t>(errorOffset)), PcreMessage(error)}));
    if (FStudied) JitCompile(FLenientPattern);
  }
  return FLenientPattern;
}

int TPerlRegEx::CaptureCount() const {
  uint32_t count = 0;
  if (FPattern) pcre2_pattern_info(FPattern, PCRE2_INFO_CAPTURECOUNT, &count);
  return static_cast<int>(count);
}

int TPerlRegEx::GroupOfName(std::string_view name, bool needSetGroup) const {
  if (!FPattern) return -1;
  std::string zeroEnded(name);
  PCRE2_SPTR first = nullptr;
  PCRE2_SPTR last = nullptr;
  int entrySize = pcre2_substring_nametable_scan(FPattern, reinterpret_cast<PCRE2_SPTR>(zeroEnded.c_str()), &first,
                                                 &last);
  if (entrySize <= 0) return -1;
  // Each entry starts with the group number in two bytes, high byte first;
  // a repeated name (allowed by (?J)) has one entry per group.
  int firstNumber = -1;
  for (PCRE2_SPTR entry = first; entry <= last; entry += entrySize) {
    int number = (entry[0] << 8) | entry[1];
    if (firstNumber < 0) firstNumber = number;
    if (!needSetGroup) break;
    if (number < FOffsetCount && FOffsets[2 * number] > 0) return number;
  }
  return firstNumber;
}

int TPerlRegEx::NamedSubExpression(const UnicodeString& name) {
  if (!Compiled()) Compile();
  return GroupOfName(rtl::UnicodeToUtf8(name), false);
}

// --- Matching -------------------------------------------------------------------------

void TPerlRegEx::Execute(const char* subject, size_t length, size_t offset, size_t base, bool validUtf8) {
  FOffsetCount = -1;
  // A character cut by the end of the visible part cannot match; leaving it
  // out keeps the text given to the matcher whole characters. (The byte at
  // `length` exists: callers pass std::string data, which ends in a NUL.)
  while (length > offset && regex::IsContinuationByte(subject[length])) --length;
  // PCRE2 would check the whole subject on every search; it is checked once
  // when it is set, and text with invalid bytes (from lone surrogates) goes
  // to a variant of the pattern that lets such bytes simply never match.
  pcre2_code* pattern = FPattern;
  uint32_t flags = MatchFlagsOf(FState);
  if (validUtf8)
    flags |= PCRE2_NO_UTF_CHECK;
  else
    pattern = LenientPattern();
  auto text = reinterpret_cast<PCRE2_SPTR>(subject);
  int result = pcre2_match(pattern, text, length, offset, flags, FMatchData, nullptr);
  // The JIT's own stack is small; the interpreter manages deeper patterns.
  if (result == PCRE2_ERROR_JIT_STACKLIMIT)
    result = pcre2_match(pattern, text, length, offset, flags | PCRE2_NO_JIT, FMatchData, nullptr);
  if (result == PCRE2_ERROR_NOMATCH) return;
  if (result <= 0) throw ERegularExpressionError(rtl::FormatText(SMatchError, {PcreMessage(result)}));
  const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(FMatchData);
  FOffsets.resize(2 * static_cast<size_t>(result));
  for (int i = 0; i < result; ++i) {
    PCRE2_SIZE groupStart = vector[2 * i];
    PCRE2_SIZE groupEnd = vector[2 * i + 1];
    if (groupStart == PCRE2_UNSET) {
      FOffsets[2 * i] = FOffsets[2 * i + 1] = 0;
    } else {
      // \K can put the start after the end; a group never has negative length.
      FOffsets[2 * i] = ClampToInt(base + groupStart + 1);
      FOffsets[2 * i + 1] = ClampToInt(base + std::max(groupStart, groupEnd) + 1);
    }
  }
  FOffsetCount = result;
}

void TPerlRegEx::AdvancePastMatch(const char* text, size_t base, size_t available) {
  FStart = FOffsets[1];
  // An empty match moves on by a whole character: a position inside one
  // would make the next search fail or match between its bytes.
  if (FOffsets[0] == FOffsets[1])
    FStart += static_cast<int>(regex::CharLengthAt(text, available, static_cast<size_t>(FStart - 1) - base));
}

bool TPerlRegEx::Search(size_t offset) {
  DropStoredGroups();
  if (!Compiled()) Compile();
  size_t length = std::min(static_cast<size_t>(std::max(FStop, 0)), FSubject.size());
  offset = regex::CharBoundaryFrom(FSubject.data(), length, offset);
  Execute(FSubject.data(), length, offset, 0, FSubjectValid);
  if (FOffsetCount > 0) {
    AdvancePastMatch(FSubject.data(), 0, FSubject.size());
    if (FOnMatch) {
      rtl::TObjectUse use(*this);
      FOnMatch(this);
    }
  }
  return FOffsetCount > 0;
}

bool TPerlRegEx::Match() { return Search(0); }

bool TPerlRegEx::MatchAgain() {
  if (FStop < FStart - 1) {
    DropStoredGroups();
    FOffsetCount = -1;
    return false;
  }
  return Search(static_cast<size_t>(FStart - 1));
}

// --- Groups ---------------------------------------------------------------------------

void TPerlRegEx::RequireMatch() const {
  if (FOffsetCount <= 0) throw ERegularExpressionError(UnicodeString(SMatchRequired));
}

void TPerlRegEx::CheckIndex(int index) const {
  if (index < 0 || index > FOffsetCount - 1)
    throw ERegularExpressionError(rtl::FormatText(SIndexOutOfBounds, {rtl::IntToStr(index)}));
}

std::string_view TPerlRegEx::GroupBytes(int index) const {
  if (index > FOffsetCount - 1) return {};
  if (!FStoredGroups.empty()) return FStoredGroups[static_cast<size_t>(index)];
  int first = FOffsets[2 * index];
  if (first <= 0) return {};
  // Positions may outlive the subject they came from only with stored
  // groups; clamping keeps every read inside the text all the same.
  size_t from = std::min(static_cast<size_t>(first - 1), FSubject.size());
  size_t to = std::min(static_cast<size_t>(FOffsets[2 * index + 1] - 1), FSubject.size());
  return std::string_view(FSubject).substr(from, to > from ? to - from : 0);
}

UnicodeString TPerlRegEx::SubExpressions(int index) const {
  RequireMatch();
  if (index < 0) CheckIndex(index);
  return rtl::Utf8ToUnicode(GroupBytes(index));
}

int TPerlRegEx::SubExpressionLengths(int index) const {
  RequireMatch();
  CheckIndex(index);
  return FOffsets[2 * index + 1] - FOffsets[2 * index];
}

int TPerlRegEx::SubExpressionOffsets(int index) const {
  RequireMatch();
  CheckIndex(index);
  return FOffsets[2 * index];
}

void TPerlRegEx::StoreSubExpressions() {
  if (FOffsetCount <= 0) return;
  std::vector<std::string> copies;
  for (int i = 0; i < FOffsetCount; ++i) copies.emplace_back(GroupBytes(i));
  FStoredGroups = std::move(copies);
}

// --- Properties -----------------------------------------------------------------------

void TPerlRegEx::SetSubjectBytes(std::string value) {
  FSubject = std::move(value);
  FSubjectValid = rtl::IsValidUtf8(FSubject);
  FStart = 1;
  FStop = ClampToInt(FSubject.size());
  if (FStoredGroups.empty()) DropMatch();
}

void TPerlRegEx::SetStart(int value) { FStart = std::max(value, 1); }

void TPerlRegEx::SetStop(int value) {
  // A negative length must never reach the matcher.
  FStop = std::clamp(value, 0, ClampToInt(FSubject.size()));
}

void TPerlRegEx::SetRegEx(const UnicodeString& value) {
  std::string bytes = rtl::UnicodeToUtf8(value);
  if (bytes == FRegEx) return;
  FRegEx = std::move(bytes);
  DiscardPattern();
  DropStoredGroups();
  DropMatch();
}

void TPerlRegEx::SetOptions(TPerlRegExOptions value) {
  if (value == FOptions) return;
  FOptions = value;
  FPcreOptions = PcreOptionsOf(value);
  DiscardPattern();
  DropStoredGroups();
  DropMatch();
}

// --- Split and escaping -------------------------------------------------------------

void TPerlRegEx::Split(rtl::TStrings* strings, int limit) {
  if (!strings) throw ERegularExpressionError(UnicodeString(SStringsNil));
  // An OnMatch handler must not free the list being filled.
  rtl::TObjectUse use(*strings);
  if (limit == 1 || !Match()) {
    strings->Add(Subject());
    return;
  }
  // Positions are read from the subject as it is now: an OnMatch handler
  // may have changed it, and a piece never reaches outside it.
  auto piece = [this](size_t from, size_t to) {
    from = std::min(from, FSubject.size());
    to = std::min(to, FSubject.size());
    return rtl::Utf8ToUnicode(std::string_view(FSubject).substr(from, to > from ? to - from : 0));
  };
  int counter = 1;
  size_t pieceStart = 0;
  do {
    strings->Add(piece(pieceStart, static_cast<size_t>(FOffsets[0] - 1)));
    ++counter;
    pieceStart = static_cast<size_t>(FOffsets[1] - 1);
    if (limit > 1 && counter >= limit) break;
  } while (MatchAgain());
  strings->Add(piece(pieceStart, FSubject.size()));
}

UnicodeString TPerlRegEx::EscapeRegExChars(std::u16string_view s) {
  static constexpr std::u16string_view kSpecial = u"$()*+.?[\\]^{|}";
  UnicodeString out;
  out.reserve(s.size());
  for (char16_t c : s) {
    if (c == 0) {
      out += u"\\0";
      continue;
    }
    if (kSpecial.find(c) != std::u16string_view::npos) out.push_back(u'\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace bindings
