#include "rtl/VariantOps.h"

#include <cmath>
#include <limits>

#include "rtl/Automation.h"

namespace rtl {

namespace {

enum class TDomain { Null, Text, Boolean, Integer, Currency, Real, Date, Invalid };

bool IsIntegerType(TVarType t) {
  switch (t) {
    case varEmpty:
    case varSmallInt:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return true;
    default: return false;
  }
}

TDomain DomainOf(const Variant& v) {
  TVarType t = v.VType();
  if (IsIntegerType(t)) return TDomain::Integer;
  switch (t) {
    case varNull: return TDomain::Null;
    case varOleStr:
    case varUString:
    case varString: return TDomain::Text;
    case varBoolean: return TDomain::Boolean;
    case varCurrency: return TDomain::Currency;
    case varSingle:
    case varDouble: return TDomain::Real;
    case varDate: return TDomain::Date;
    default: return TDomain::Invalid;
  }
}

[[noreturn]] void CastFail(const Variant& v, TVarType to) {
  throw EVariantTypeCastError::CouldNotConvert(v.VType(), to);
}

Variant IntegerResult(int64_t v) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
    return Variant(static_cast<int32_t>(v));
  return Variant(v);
}

double CheckedReal(double a, double b, TVarOp op) {
  double r;
  switch (op) {
    case TVarOp::Add: r = a + b; break;
    case TVarOp::Subtract: r = a - b; break;
    case TVarOp::Multiply: r = a * b; break;
    default:
      if (b == 0) {
        if (a == 0 || std::isnan(a)) throw EInvalidOp();
        throw EZeroDivide();
      }
      r = a / b;
      break;
  }
  if (std::isnan(r) && !std::isnan(a) && !std::isnan(b)) throw EInvalidOp();
  if (std::isinf(r) && std::isfinite(a) && std::isfinite(b)) throw EOverflow();
  return r;
}

int64_t IntegerOp(int64_t a, int64_t b, TVarOp op) {
  auto ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  switch (op) {
    case TVarOp::Add: return static_cast<int64_t>(ua + ub);
    case TVarOp::Subtract: return static_cast<int64_t>(ua - ub);
    case TVarOp::Multiply: return static_cast<int64_t>(ua * ub);
    case TVarOp::IntDivide:
    case TVarOp::Modulus:
      if (b == 0) throw EDivByZero();
      if (b == -1) return op == TVarOp::IntDivide ? static_cast<int64_t>(0u - ua) : 0;
      return op == TVarOp::IntDivide ? a / b : a % b;
    case TVarOp::Shl: return static_cast<int64_t>(ua << (ub & 63));
    case TVarOp::Shr: return static_cast<int64_t>(ua >> (ub & 63));
    case TVarOp::And: return a & b;
    case TVarOp::Or: return a | b;
    default: return a ^ b;
  }
}

// Text beside a number is read as a number: an integer when it is one.
TDomain NumericDomainOfText(const Variant& v, Variant& number) {
  try {
    number = Variant(v.AsInt64());
    double d = v.AsDouble();
    if (static_cast<double>(number.VInt64()) == d) return TDomain::Integer;
  } catch (const EVariantError&) {
  }
  number = Variant(v.AsDouble());
  return TDomain::Real;
}

}  // namespace

Variant VarBinaryOp(const Variant& leftIn, const Variant& rightIn, TVarOp op) {
  const Variant& left = leftIn.Deref();
  const Variant& right = rightIn.Deref();
  TDomain dl = DomainOf(left), dr = DomainOf(right);
  if (dl == TDomain::Invalid) CastFail(left, varDouble);
  if (dr == TDomain::Invalid) CastFail(right, varDouble);
  if (dl == TDomain::Null || dr == TDomain::Null) return Variant::Null();

  if (dl == TDomain::Text && dr == TDomain::Text && op == TVarOp::Add) {
    UnicodeString text = left.AsUnicodeString() + right.AsUnicodeString();
    return left.VType() == varString && right.VType() == varString ? Variant::FromString(UnicodeToUtf8(text))
                                                                   : Variant::FromUString(text);
  }
  // Empty beside text adds as "".
  if (op == TVarOp::Add && ((dl == TDomain::Text && right.IsEmpty()) || (dr == TDomain::Text && left.IsEmpty())))
    return Variant::FromUString(left.AsUnicodeString() + right.AsUnicodeString());

  Variant ln = left, rn = right;
  if (dl == TDomain::Text) dl = NumericDomainOfText(left, ln);
  if (dr == TDomain::Text) dr = NumericDomainOfText(right, rn);

  const bool logical = op == TVarOp::And || op == TVarOp::Or || op == TVarOp::Xor;
  if (logical && dl == TDomain::Boolean && dr == TDomain::Boolean) {
    bool a = ln.VBoolean(), b = rn.VBoolean();
    return Variant(op == TVarOp::And ? (a && b) : op == TVarOp::Or ? (a || b) : (a != b));
  }
  const bool ordinalOnly = op == TVarOp::IntDivide || op == TVarOp::Modulus || op == TVarOp::Shl || op == TVarOp::Shr ||
                           logical;
  if (ordinalOnly) return IntegerResult(IntegerOp(ln.AsInt64(), rn.AsInt64(), op));

  auto isInt = [](TDomain d) { return d == TDomain::Integer || d == TDomain::Boolean; };
  if (op == TVarOp::Divide) {
    return Variant(CheckedReal(ln.AsDouble(), rn.AsDouble(), op));
  }
  if (isInt(dl) && isInt(dr)) return IntegerResult(IntegerOp(ln.AsInt64(), rn.AsInt64(), op));
  if ((dl == TDomain::Currency || isInt(dl)) && (dr == TDomain::Currency || isInt(dr))) {
    int64_t a = ln.AsCurrency(), b = rn.AsCurrency(), r;
    if (op == TVarOp::Multiply) {
      double product = CheckedReal(static_cast<double>(a) / 10000.0, static_cast<double>(b), op);
      if (std::fabs(product) >= 9.2e18) throw EOverflow();
      return Variant::FromCurrency(static_cast<int64_t>(std::nearbyint(product)));
    }
    bool overflow = op == TVarOp::Add ? __builtin_add_overflow(a, b, &r) : __builtin_sub_overflow(a, b, &r);
    if (overflow) throw EOverflow();
    return Variant::FromCurrency(r);
  }
  double r = CheckedReal(ln.AsDouble(), rn.AsDouble(), op);
  bool dateResult = (op == TVarOp::Add && (dl == TDomain::Date) != (dr == TDomain::Date)) ||
                    (op == TVarOp::Subtract && dl == TDomain::Date && dr != TDomain::Date);
  return dateResult ? Variant::FromDate(r) : Variant(r);
}

Variant VarDivide(const Variant& left, const Variant& right) {
  const Variant& l = left.Deref();
  const Variant& r = right.Deref();
  if (IsIntegerType(l.VType()) && IsIntegerType(r.VType())) return VarBinaryOp(l, r, TVarOp::IntDivide);
  return VarBinaryOp(l, r, TVarOp::Divide);
}

int VarCompareValue(const Variant& leftIn, const Variant& rightIn) {
  const Variant& left = leftIn.Deref();
  const Variant& right = rightIn.Deref();
  TDomain dl = DomainOf(left), dr = DomainOf(right);
  if (dl == TDomain::Null || dr == TDomain::Null) return dl == dr ? 0 : (dl == TDomain::Null ? -1 : 1);
  if (dl == TDomain::Invalid) CastFail(left, varDouble);
  if (dr == TDomain::Invalid) CastFail(right, varDouble);
  auto sign = [](auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); };
  bool textLeft = dl == TDomain::Text || (left.IsEmpty() && dr == TDomain::Text);
  bool textRight = dr == TDomain::Text || (right.IsEmpty() && dl == TDomain::Text);
  if (textLeft && textRight) {
    UnicodeString a = left.AsUnicodeString(), b = right.AsUnicodeString();
    int c = std::u16string_view(a).compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  Variant ln = left, rn = right;
  if (dl == TDomain::Text) dl = NumericDomainOfText(left, ln);
  if (dr == TDomain::Text) dr = NumericDomainOfText(right, rn);
  if (dl == TDomain::Boolean && dr == TDomain::Boolean) return sign(int(ln.VBoolean()), int(rn.VBoolean()));
  auto isInt = [](TDomain d) { return d == TDomain::Integer || d == TDomain::Boolean; };
  if (isInt(dl) && isInt(dr)) return sign(ln.AsInt64(), rn.AsInt64());
  if ((dl == TDomain::Currency || isInt(dl)) && (dr == TDomain::Currency || isInt(dr)))
    return sign(ln.AsCurrency(), rn.AsCurrency());
  return sign(ln.AsDouble(), rn.AsDouble());
}

bool VarSameValue(const Variant& leftIn, const Variant& rightIn) {
  const Variant& left = leftIn.Deref();
  const Variant& right = rightIn.Deref();
  bool li = left.VType() == varDispatch || left.VType() == varUnknown;
  bool ri = right.VType() == varDispatch || right.VType() == varUnknown;
  if (li || ri) return li && ri && left.VUnknown() == right.VUnknown();
  try {
    return VarCompareValue(left, right) == 0;
  } catch (const EVariantError&) {
    return false;  // no common order: not the same value
  }
}

Variant VarNegate(const Variant& valueIn) {
  const Variant& v = valueIn.Deref();
  switch (DomainOf(v)) {
    case TDomain::Null: return Variant::Null();
    case TDomain::Integer:
    case TDomain::Boolean: return IntegerResult(static_cast<int64_t>(0u - static_cast<uint64_t>(v.AsInt64())));
    case TDomain::Currency:
      return Variant::FromCurrency(static_cast<int64_t>(0u - static_cast<uint64_t>(v.VCurrency())));
    case TDomain::Date: return Variant::FromDate(-v.VDate());
    case TDomain::Real: return v.VType() == varSingle ? Variant::FromSingle(-v.VSingle()) : Variant(-v.VDouble());
    case TDomain::Text: {
      Variant n;
      if (NumericDomainOfText(v, n) == TDomain::Integer)
        return IntegerResult(static_cast<int64_t>(0u - static_cast<uint64_t>(n.VInt64())));
      return Variant(-n.VDouble());
    }
    default: CastFail(v, varDouble);
  }
}

Variant VarNot(const Variant& valueIn) {
  const Variant& v = valueIn.Deref();
  switch (DomainOf(v)) {
    case TDomain::Null: return Variant::Null();
    case TDomain::Boolean: return Variant(!v.VBoolean());
    case TDomain::Integer: return IntegerResult(~v.AsInt64());
    case TDomain::Text: {
      UnicodeString text = Trim(v.AsUnicodeString());
      if (AnsiSameText(text, u"True") || AnsiSameText(text, u"False")) return Variant(!v.AsBoolean());
      return IntegerResult(~v.AsInt64());
    }
    default: CastFail(v, varInteger);
  }
}

}  // namespace rtl
