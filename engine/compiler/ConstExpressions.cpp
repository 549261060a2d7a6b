// Constant expressions: the small grammar of constant declarations, array
// bounds and attribute arguments, folded while it is read.
#include <charconv>
#include <cmath>

#include "engine/compiler/CodeGen.h"

namespace ps {

namespace {

enum class ValueKind { Int, Real, Ansi, Wide, Other };

ValueKind KindOf(const TIfRVariant& v) {
  TPSType* t = ResolveTypeLink(v.FType);
  if (!t) return ValueKind::Other;
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
    case btS64:
    case btEnum: return ValueKind::Int;
    case btSingle:
    case btDouble:
    case btExtended:
    case btCurrency: return ValueKind::Real;
    case btString:
    case btPChar:
    case btChar: return ValueKind::Ansi;
    case btWideString:
    case btUnicodeString:
    case btWideChar: return ValueKind::Wide;
    default: return ValueKind::Other;
  }
}

bool IsNumeric(ValueKind k) { return k == ValueKind::Int || k == ValueKind::Real; }
bool IsText(ValueKind k) { return k == ValueKind::Ansi || k == ValueKind::Wide; }

long double AsReal(const TIfRVariant& v) {
  return KindOf(v) == ValueKind::Real ? v.FReal : static_cast<long double>(v.FInt);
}

std::u16string AsWide(const TIfRVariant& v) {
  TPSType* t = ResolveTypeLink(v.FType);
  if (t->FBaseType == btWideChar) return std::u16string(1, static_cast<char16_t>(v.FInt));
  if (KindOf(v) == ValueKind::Wide) return v.FWideString;
  return rtl::Utf8ToUnicode(v.FString);
}

// Keeps an integer within the width of its type, wrapping as the run time does.
int64_t WrapToType(TPSType* type, int64_t v) {
  switch (ResolveTypeLink(type)->FBaseType) {
    case btU8: return static_cast<uint8_t>(v);
    case btS8: return static_cast<int8_t>(v);
    case btU16: return static_cast<uint16_t>(v);
    case btS16: return static_cast<int16_t>(v);
    case btU32: return static_cast<uint32_t>(v);
    case btS32: return static_cast<int32_t>(v);
    default: return v;
  }
}

long double RoundToType(TPSType* type, long double v) {
  switch (ResolveTypeLink(type)->FBaseType) {
    case btSingle: return static_cast<float>(v);
    case btDouble: return static_cast<double>(v);
    default: return v;
  }
}

}  // namespace

bool TPSPascalCompiler::ReadConstant(TIfRVariant& out) { return ReadConstRelational(out); }

bool TPSPascalCompiler::ReadConstRelational(TIfRVariant& v) {
  TPSPascalParser& p = *FActiveParser;
  if (!ReadConstAdditive(v)) return false;
  while (true) {
    TPSPasToken op = p.CurrTokenID();
    if (op != CSTI_Equal && op != CSTI_NotEqual && op != CSTI_Greater && op != CSTI_GreaterEqual && op != CSTI_Less &&
        op != CSTI_LessEqual)
      return true;
    TPSSourcePos at = p.Position();
    p.Next();
    TIfRVariant right;
    if (!ReadConstAdditive(right) || !FoldBinary(v, right, op, at)) return false;
  }
}

bool TPSPascalCompiler::ReadConstAdditive(TIfRVariant& v) {
  TPSPascalParser& p = *FActiveParser;
  if (!ReadConstMultiplicative(v)) return false;
  while (true) {
    TPSPasToken op = p.CurrTokenID();
    if (op != CSTI_Plus && op != CSTI_Minus && op != CSTII_or && op != CSTII_xor) return true;
    TPSSourcePos at = p.Position();
    p.Next();
    TIfRVariant right;
    if (!ReadConstMultiplicative(right) || !FoldBinary(v, right, op, at)) return false;
  }
}

bool TPSPascalCompiler::ReadConstMultiplicative(TIfRVariant& v) {
  TPSPascalParser& p = *FActiveParser;
  if (!ReadConstFactor(v)) return false;
  while (true) {
    TPSPasToken op = p.CurrTokenID();
    if (op != CSTI_Multiply && op != CSTI_Divide && op != CSTII_div && op != CSTII_mod && op != CSTII_and &&
        op != CSTII_shl && op != CSTII_shr)
      return true;
    TPSSourcePos at = p.Position();
    p.Next();
    TIfRVariant right;
    if (!ReadConstFactor(right) || !FoldBinary(v, right, op, at)) return false;
  }
}

bool TPSPascalCompiler::ReadConstFactor(TIfRVariant& v) {
  TPSPascalParser& p = *FActiveParser;
  TPSNestingLevel level(FConstNesting);
  if (level.Depth() > MaxExpressionNesting) {
    MakeError("", ecCustomError, SExpressionTooComplex);
    return false;
  }
  TPSSourcePos at = p.Position();
  switch (p.CurrTokenID()) {
    case CSTI_OpenRound:
      p.Next();
      if (!ReadConstRelational(v)) return false;
      if (!Expect(CSTI_CloseRound, ecCloseRoundExpected)) return false;
      return true;
    case CSTI_Minus: {
      p.Next();
      if (!ReadConstMultiplicative(v)) return false;
      ValueKind k = KindOf(v);
      if (k == ValueKind::Int && ResolveTypeLink(v.FType)->FBaseType != btEnum) {
        v.FInt = WrapToType(v.FType, -v.FInt);
      } else if (k == ValueKind::Real) {
        v.FReal = -v.FReal;
      } else {
        MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
        return false;
      }
      return true;
    }
    case CSTII_not: {
      p.Next();
      if (!ReadConstFactor(v)) return false;
      TPSType* t = ResolveTypeLink(v.FType);
      if (t == ResolveTypeLink(FDefaultBoolType)) {
        v.FInt = v.FInt ? 0 : 1;
      } else if (KindOf(v) == ValueKind::Int && t->FBaseType != btEnum) {
        v.FInt = WrapToType(v.FType, ~v.FInt);
      } else {
        MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
        return false;
      }
      return true;
    }
    case CSTI_Integer:
    case CSTI_HexInt: {
      const std::string& text = p.GetToken();
      bool hex = p.CurrTokenID() == CSTI_HexInt;
      uint64_t value = 0;
      const char* first = text.data() + (hex ? 1 : 0);
      const char* last = text.data() + text.size();
      if (first != last) {
        auto res = std::from_chars(first, last, value, hex ? 16 : 10);
        // Text that does not fit in 64 bits reads as 0.
        if (res.ec != std::errc()) value = 0;
      }
      v = TIfRVariant();
      v.FInt = static_cast<int64_t>(value);
      v.FType = value <= 2147483647u ? FStd.LongInt : value <= 4294967295u ? FStd.LongWord : FStd.Int64;
      p.Next();
      return true;
    }
    case CSTI_Real: {
      const std::string& text = p.GetToken();
      long double value = 0;
      std::from_chars(text.data(), text.data() + text.size(), value);
      v = TIfRVariant();
      v.FType = FStd.Extended;
      v.FReal = value;
      p.Next();
      return true;
    }
    case CSTI_String:
    case CSTI_Char: return ReadStringLiteral(v);
    case CSTI_Identifier: {
      TPSConstant* c = nullptr;
      int32_t index = IndexOfConstUpper(p.GetToken());
      if (index >= 0) c = FConstants[index].get();
      if (!c) {
        MakeError("", ecUnknownIdentifier, "");
        return false;
      }
      v = c->FValue;
      p.Next();
      return true;
    }
    default: MakeError("", ecSyntaxError, ""); return false;
  }
}

bool TPSPascalCompiler::ReadStringLiteral(TIfRVariant& v) {
  TPSPascalParser& p = *FActiveParser;
  struct Piece {
    bool code;
    uint32_t value;
    std::string text;
  };
  std::vector<Piece> pieces;
  bool wide = FUtf8Decode, lastWasString = false;
  while (p.CurrTokenID() == CSTI_String || p.CurrTokenID() == CSTI_Char) {
    const std::string& token = p.GetToken();
    if (p.CurrTokenID() == CSTI_String) {
      if (lastWasString) {
        MakeError("", ecSyntaxError, "");
        return false;
      }
      std::string text;
      for (size_t i = 1; i + 1 < token.size(); ++i) {
        text.push_back(token[i]);
        if (token[i] == '\'') ++i;  // a doubled quote stands for one
      }
      pieces.push_back({false, 0, std::move(text)});
      lastWasString = true;
    } else {
      bool hex = token.size() > 1 && token[1] == '$';
      uint32_t code = 0;
      const char* first = token.data() + (hex ? 2 : 1);
      auto res = std::from_chars(first, token.data() + token.size(), code, hex ? 16 : 10);
      if (res.ec != std::errc() || code > 0x10FFFF) code = 0;
      if (code > 255) wide = true;
      pieces.push_back({true, code, {}});
      lastWasString = false;
    }
    p.Next();
  }
  v = TIfRVariant();
  if (wide) {
    std::u16string text;
    for (auto& piece : pieces) {
      if (piece.code)
        rtl::AppendCodePoint(text, piece.value);
      else
        text += rtl::Utf8ToUnicode(piece.text);
    }
    if (text.size() == 1) {
      v.FType = FStd.WideChar;
      v.FInt = text[0];
    } else {
      v.FType = FStd.UnicodeString;
    }
    v.FWideString = std::move(text);
  } else {
    std::string text;
    for (auto& piece : pieces) {
      if (piece.code)
        text.push_back(static_cast<char>(piece.value));
      else
        text += piece.text;
    }
    if (text.size() == 1) {
      v.FType = FStd.Char;
      v.FInt = static_cast<uint8_t>(text[0]);
    } else {
      v.FType = FStd.AnsiString;
    }
    v.FString = std::move(text);
  }
  return true;
}

bool TPSPascalCompiler::FoldBinary(TIfRVariant& left, const TIfRVariant& right, TPSPasToken op, TPSSourcePos at) {
  auto fail = [&](TPSPascalCompilerErrorType e) {
    MakeError("", e, "")->SetCustomPos(at);
    return false;
  };
  ValueKind lk = KindOf(left), rk = KindOf(right);
  bool bothInt = lk == ValueKind::Int && rk == ValueKind::Int;
  TPSType* lt = ResolveTypeLink(left.FType);
  TPSType* rt = ResolveTypeLink(right.FType);
  bool lEnum = lt && lt->FBaseType == btEnum, rEnum = rt && rt->FBaseType == btEnum;

  if (op == CSTI_Equal || op == CSTI_NotEqual || op == CSTI_Greater || op == CSTI_GreaterEqual || op == CSTI_Less ||
      op == CSTI_LessEqual) {
    int cmp;
    if (bothInt && (lEnum == rEnum) && (!lEnum || lt == rt)) {
      cmp = left.FInt < right.FInt ? -1 : left.FInt > right.FInt ? 1 : 0;
    } else if (IsNumeric(lk) && IsNumeric(rk) && !lEnum && !rEnum) {
      long double a = AsReal(left), b = AsReal(right);
      cmp = a < b ? -1 : a > b ? 1 : 0;
    } else if (IsText(lk) && IsText(rk)) {
      if (lk == ValueKind::Wide || rk == ValueKind::Wide)
        cmp = AsWide(left).compare(AsWide(right));
      else
        cmp = left.FString.compare(right.FString);
    } else {
      return fail(ecTypeMismatch);
    }
    bool result = op == CSTI_Equal          ? cmp == 0
                  : op == CSTI_NotEqual     ? cmp != 0
                  : op == CSTI_Greater      ? cmp > 0
                  : op == CSTI_GreaterEqual ? cmp >= 0
                  : op == CSTI_Less         ? cmp < 0
                                            : cmp <= 0;
    left = TIfRVariant();
    left.FType = FDefaultBoolType;
    left.FInt = result ? 1 : 0;
    return true;
  }

  if (op == CSTII_and || op == CSTII_or || op == CSTII_xor) {
    bool booleans = lEnum && lt == rt && lt == ResolveTypeLink(FDefaultBoolType);
    if (!bothInt || (lEnum || rEnum) != booleans) return fail(ecTypeMismatch);
    left.FInt = op == CSTII_and  ? (left.FInt & right.FInt)
                : op == CSTII_or ? (left.FInt | right.FInt)
                                 : (left.FInt ^ right.FInt);
    if (!booleans) left.FType = TPSCodeGen::ArithmeticIntType(*this, left.FType, right.FType, true);
    left.FInt = WrapToType(left.FType, left.FInt);
    return true;
  }

  if (op == CSTI_Plus && IsText(lk) && IsText(rk)) {
    if (lk == ValueKind::Wide || rk == ValueKind::Wide) {
      std::u16string text = AsWide(left) + AsWide(right);
      left = TIfRVariant();
      left.FType = FindTypeUpper("WIDESTRING");
      left.FWideString = std::move(text);
    } else {
      std::string text = left.FString + right.FString;
      left = TIfRVariant();
      left.FType = FStd.AnsiString;
      left.FString = std::move(text);
    }
    return true;
  }

  if (!IsNumeric(lk) || !IsNumeric(rk) || lEnum || rEnum) return fail(ecTypeMismatch);
  if (bothInt) {
    int64_t a = left.FInt, b = right.FInt, r = 0;
    switch (op) {
      case CSTI_Plus: r = static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); break;
      case CSTI_Minus: r = static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); break;
      case CSTI_Multiply: r = static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)); break;
      case CSTI_Divide:
      case CSTII_div:
      case CSTII_mod:
        if (b == 0) return fail(ecDivideByZero);
        if (a == INT64_MIN && b == -1) return fail(ecMathError);
        r = op == CSTII_mod ? a % b : a / b;
        break;
      case CSTII_shl: r = static_cast<int64_t>(static_cast<uint64_t>(a) << (b & 63)); break;
      case CSTII_shr: r = static_cast<int64_t>(static_cast<uint64_t>(WrapToType(left.FType, a)) >> (b & 63)); break;
      default: return fail(ecTypeMismatch);
    }
    if (op != CSTII_shl && op != CSTII_shr)
      left.FType = TPSCodeGen::ArithmeticIntType(*this, left.FType, right.FType, true);
    left.FInt = WrapToType(left.FType, r);
    return true;
  }
  if (op == CSTII_mod || op == CSTII_shl || op == CSTII_shr) return fail(ecTypeMismatch);
  long double a = AsReal(left), b = AsReal(right), r = 0;
  switch (op) {
    case CSTI_Plus: r = a + b; break;
    case CSTI_Minus: r = a - b; break;
    case CSTI_Multiply: r = a * b; break;
    case CSTI_Divide:
    case CSTII_div:
      if (b == 0) return fail(ecDivideByZero);
      r = a / b;
      break;
    default: return fail(ecTypeMismatch);
  }
  if (!std::isfinite(r)) return fail(ecMathError);
  TPSType* resultType = lk == ValueKind::Real ? left.FType : right.FType;
  left = TIfRVariant();
  left.FType = resultType;
  left.FReal = RoundToType(resultType, r);
  return true;
}

bool TPSPascalCompiler::ConvertConstant(TIfRVariant& v, TPSType* target) {
  TPSType* t = ResolveTypeLink(target);
  ValueKind from = KindOf(v);
  TIfRVariant out;
  out.FType = target;
  switch (t->FBaseType) {
    case btSingle:
    case btDouble:
    case btExtended:
    case btCurrency: out.FReal = RoundToType(target, AsReal(v)); break;
    case btString:
    case btPChar: out.FString = from == ValueKind::Wide ? rtl::UnicodeToUtf8(AsWide(v)) : v.FString; break;
    case btWideString:
    case btUnicodeString: out.FWideString = AsWide(v); break;
    case btChar:
    case btWideChar:
      out.FInt = v.FInt;
      if (t->FBaseType == btChar) out.FString = std::string(1, static_cast<char>(v.FInt));
      break;
    default:
      if (from == ValueKind::Int) {
        out.FInt = WrapToType(target, v.FInt);
      } else {
        out = v;
        out.FType = target;
      }
      break;
  }
  v = std::move(out);
  return true;
}

}  // namespace ps
