#include "bindings/ScriptFunctions.h"

namespace bindings {

using rtl::TFormatArg;

namespace {

TFormatArg FromVariant(const rtl::Variant& value) {
  const rtl::Variant& v = value.Deref();
  switch (v.BaseType()) {
    case rtl::varEmpty:
    case rtl::varNull: return TFormatArg::FromString(UnicodeString());
    case rtl::varSmallInt:
    case rtl::varInteger:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord: return TFormatArg::FromInteger(v.AsInteger());
    case rtl::varLongWord:
    case rtl::varInt64: return TFormatArg::FromInt64(v.AsInt64());
    case rtl::varBoolean: return TFormatArg::FromBoolean(v.AsBoolean());
    case rtl::varCurrency: return TFormatArg::FromCurrency(v.AsCurrency());
    case rtl::varSingle:
    case rtl::varDouble:
    case rtl::varDate: return TFormatArg::FromExtended(v.AsDouble());
    default: return TFormatArg::FromString(v.AsUnicodeString());
  }
}

}  // namespace

std::vector<TFormatArg> FormatArgsOf(const ps::TPSArrayOfConst& args) {
  std::vector<TFormatArg> out;
  out.reserve(args.size());
  for (const ps::TPSVarRec& a : args) {
    switch (a.Kind) {
      case ps::TPSVarRec::vtInteger: out.push_back(TFormatArg::FromInteger(static_cast<int32_t>(a.Int))); break;
      case ps::TPSVarRec::vtExtended: out.push_back(TFormatArg::FromExtended(a.Real)); break;
      case ps::TPSVarRec::vtInt64: out.push_back(TFormatArg::FromInt64(a.Int)); break;
      case ps::TPSVarRec::vtChar: {
        TFormatArg c = TFormatArg::FromChar(static_cast<char16_t>(a.Int));
        c.Kind = TFormatArg::Char;
        out.push_back(c);
        break;
      }
      case ps::TPSVarRec::vtWideChar: out.push_back(TFormatArg::FromChar(static_cast<char16_t>(a.Int))); break;
      case ps::TPSVarRec::vtAnsiString:
      case ps::TPSVarRec::vtPChar: out.push_back(TFormatArg::FromString(rtl::Utf8ToUnicode(a.Ansi))); break;
      case ps::TPSVarRec::vtWideString:
      case ps::TPSVarRec::vtUnicodeString: out.push_back(TFormatArg::FromString(a.Unicode)); break;
      case ps::TPSVarRec::vtVariant: out.push_back(FromVariant(a.Var)); break;
      case ps::TPSVarRec::vtObject: {
        TFormatArg o = TFormatArg::FromPointer(reinterpret_cast<uintptr_t>(a.Pointer));
        o.Kind = TFormatArg::Object;
        out.push_back(o);
        break;
      }
      case ps::TPSVarRec::vtInterface:
      case ps::TPSVarRec::vtPointer:
        out.push_back(TFormatArg::FromPointer(reinterpret_cast<uintptr_t>(a.Pointer)));
        break;
    }
  }
  return out;
}

UnicodeString ScriptFormat(const UnicodeString& Format, const ps::TPSArrayOfConst& Args) {
  return rtl::Format(Format, FormatArgsOf(Args));
}

UnicodeString ScriptFormatFloat(const UnicodeString& Format, long double Value) {
  return rtl::FormatFloat(Format, Value);
}

}  // namespace bindings
