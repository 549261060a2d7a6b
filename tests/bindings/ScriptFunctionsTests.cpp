// Every tag of an "array of const" element reaches Format as the argument
// kind its directives expect.
#include <gtest/gtest.h>

#include "bindings/ScriptFunctions.h"

using bindings::ScriptFormat;
using ps::TPSVarRec;

namespace {

TPSVarRec Tagged(TPSVarRec::TKind kind) {
  TPSVarRec r;
  r.Kind = kind;
  return r;
}

}  // namespace

TEST(ScriptFormat, EveryTagFormatsAsItsKind) {
  struct Case {
    TPSVarRec arg;
    const char16_t* format;
    const char16_t* expected;
  };
  TPSVarRec integer = Tagged(TPSVarRec::vtInteger);
  integer.Int = -42;
  TPSVarRec real = Tagged(TPSVarRec::vtExtended);
  real.Real = 2.5L;
  TPSVarRec big = Tagged(TPSVarRec::vtInt64);
  big.Int = 12345678901LL;
  TPSVarRec ch = Tagged(TPSVarRec::vtChar);
  ch.Int = 'A';
  TPSVarRec wide = Tagged(TPSVarRec::vtWideChar);
  wide.Int = 0x010D;
  TPSVarRec ansi = Tagged(TPSVarRec::vtAnsiString);
  ansi.Ansi =
      "\xC4\x8D"
      "a";
  TPSVarRec unicode = Tagged(TPSVarRec::vtUnicodeString);
  unicode.Unicode = u"uni";
  TPSVarRec varInt = Tagged(TPSVarRec::vtVariant);
  varInt.Var = rtl::Variant(int32_t(7));
  TPSVarRec varReal = Tagged(TPSVarRec::vtVariant);
  varReal.Var = rtl::Variant(1.25);
  TPSVarRec varText = Tagged(TPSVarRec::vtVariant);
  varText.Var = rtl::Variant::FromOleStr(u"txt");
  TPSVarRec varEmpty = Tagged(TPSVarRec::vtVariant);
  TPSVarRec nil = Tagged(TPSVarRec::vtPointer);
  Case cases[] = {
      {integer, u"%d", u"-42"},  {real, u"%.2f", u"2.50"},  {big, u"%d", u"12345678901"}, {ch, u"%s", u"A"},
      {wide, u"%s", u"\u010D"},  {ansi, u"%s", u"\u010Da"}, {unicode, u"%s", u"uni"},     {varInt, u"%d", u"7"},
      {varReal, u"%g", u"1.25"}, {varText, u"%s", u"txt"},  {varEmpty, u"[%s]", u"[]"},   {nil, u"%p", u"00000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScriptFormat(c.format, {c.arg}), c.expected) << rtl::UnicodeToUtf8(c.format);
}

TEST(ScriptFormat, AnIntegerForATextDirectiveIsRefused) {
  TPSVarRec integer = Tagged(TPSVarRec::vtInteger);
  EXPECT_THROW(ScriptFormat(u"%s", {integer}), rtl::EFormatError);
  EXPECT_THROW(ScriptFormat(u"%d %d", {integer}), rtl::EFormatError);
}
