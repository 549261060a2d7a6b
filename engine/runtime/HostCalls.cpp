#include "engine/runtime/HostCalls.h"

namespace ps {

// Tags an element of an "array of const" by its script type.
TPSVarRec ToVarRec(const uint8_t* p, const TPSTypeRec* t) {
  TPSVarRec r;
  if (!t) return r;
  Deref(p, t);
  switch (t->FBaseType) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32:
      r.Kind = TPSVarRec::vtInteger;
      r.Int = PSGetInt64(p, t);
      break;
    case btSingle: case btDouble: case btExtended:
      r.Kind = TPSVarRec::vtExtended;
      r.Real = PSGetReal(p, t);
      break;
    case btS64: r.Kind = TPSVarRec::vtInt64; r.Int = Load<int64_t>(p); break;
    case btChar: r.Kind = TPSVarRec::vtChar; r.Int = *p; break;
    case btWideChar: r.Kind = TPSVarRec::vtWideChar; r.Int = Load<uint16_t>(p); break;
    case btString: r.Kind = TPSVarRec::vtAnsiString; r.Ansi = PSAnsiView(p); break;
    case btPChar: r.Kind = TPSVarRec::vtPChar; r.Ansi = PSAnsiView(p); break;
    case btWideString: r.Kind = TPSVarRec::vtWideString; r.Unicode = PSUnicodeView(p); break;
    case btUnicodeString: r.Kind = TPSVarRec::vtUnicodeString; r.Unicode = PSUnicodeView(p); break;
    case btVariant: r.Kind = TPSVarRec::vtVariant; r.Var = TPSValueTraits<rtl::Variant>::Get(p, t); break;
    case btClass: r.Kind = TPSVarRec::vtObject; r.Pointer = Load<void*>(p); break;
    case btInterface: r.Kind = TPSVarRec::vtInterface; r.Pointer = Load<void*>(p); break;
    default:
      // Currency, sets, records and arrays have no tag of their own.
      r.Kind = TPSVarRec::vtInteger;
      r.Int = 0;
      break;
  }
  return r;
}

}  // namespace ps
