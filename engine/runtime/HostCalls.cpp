#include "engine/runtime/HostCalls.h"

namespace ps {

TPSProcSignature ReadSignature(TPSExec& exec, int procNo) {
  auto* proc = dynamic_cast<TPSInternalProcRec*>(exec.GetProcNo(procNo));
  if (!proc) throw rtl::Exception(rtl::UnicodeString(SUnknownProcedure));
  TPSProcSignature sig;
  const std::string& decl = proc->FExportDecl;
  size_t pos = 0;
  bool first = true;
  while (pos < decl.size()) {
    size_t end = decl.find(' ', pos);
    if (end == std::string::npos) end = decl.size();
    std::string word = decl.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    bool byRef = false;
    if (!first) {
      if (word[0] != '@' && word[0] != '!') throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
      byRef = word[0] == '!';
      word.erase(0, 1);
    }
    int64_t no = 0;
    bool negative = !word.empty() && word[0] == '-';
    size_t digits = negative ? 1 : 0;
    if (word.size() == digits || word.size() > 10) throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
    for (size_t k = digits; k < word.size(); ++k) {
      if (word[k] < '0' || word[k] > '9') throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
      no = no * 10 + (word[k] - '0');
    }
    TPSTypeRec* type = negative ? nullptr : exec.GetTypeNo(static_cast<int>(no));
    if (!negative && !type) throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
    if (first) {
      if (negative && no != 1) throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
      sig.Result = type;
      first = false;
    } else {
      if (!type) throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
      sig.Params.push_back(type);
      sig.ByRef.push_back(byRef);
    }
  }
  if (first) throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
  return sig;
}

// Tags an element of an "array of const" by its script type.
TPSVarRec ToVarRec(const uint8_t* p, const TPSTypeRec* t) {
  TPSVarRec r;
  if (!t) return r;
  Deref(p, t);
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
      r.Kind = TPSVarRec::vtInteger;
      r.Int = PSGetInt64(p, t);
      break;
    case btSingle:
    case btDouble:
    case btExtended:
      r.Kind = TPSVarRec::vtExtended;
      r.Real = PSGetReal(p, t);
      break;
    case btS64:
      r.Kind = TPSVarRec::vtInt64;
      r.Int = Load<int64_t>(p);
      break;
    case btChar:
      r.Kind = TPSVarRec::vtChar;
      r.Int = *p;
      break;
    case btWideChar:
      r.Kind = TPSVarRec::vtWideChar;
      r.Int = Load<uint16_t>(p);
      break;
    case btString:
      r.Kind = TPSVarRec::vtAnsiString;
      r.Ansi = PSAnsiView(p);
      break;
    case btPChar:
      r.Kind = TPSVarRec::vtPChar;
      r.Ansi = PSAnsiView(p);
      break;
    case btWideString:
      r.Kind = TPSVarRec::vtWideString;
      r.Unicode = PSUnicodeView(p);
      break;
    case btUnicodeString:
      r.Kind = TPSVarRec::vtUnicodeString;
      r.Unicode = PSUnicodeView(p);
      break;
    case btVariant:
      r.Kind = TPSVarRec::vtVariant;
      r.Var = TPSValueTraits<rtl::Variant>::Get(p, t);
      break;
    case btClass:
      r.Kind = TPSVarRec::vtObject;
      r.Pointer = Load<void*>(p);
      break;
    case btInterface:
      r.Kind = TPSVarRec::vtInterface;
      r.Pointer = Load<void*>(p);
      break;
    default:
      // Currency, sets, records and arrays have no tag of their own.
      r.Kind = TPSVarRec::vtInteger;
      r.Int = 0;
      break;
  }
  return r;
}

}  // namespace ps
