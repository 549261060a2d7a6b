#include "bindings/uPSI_PerlRegEx.h"

#include <algorithm>
#include <cstring>

#include "bindings/PerlRegEx.h"

namespace ps {

// Option and state sets travel as the set's bytes: the script's members are
// numbered as the object's own, so bit i is member i.
template <class E>
struct TPSValueTraits<bindings::TSmallSet<E>> {
  static size_t Bytes(const TPSTypeRec* t) { return std::min<size_t>(t->FRealSize, sizeof(uint32_t)); }
  static bindings::TSmallSet<E> Get(const uint8_t* p, const TPSTypeRec* t) {
    Deref(p, t);
    if (t->FBaseType != btSet) RaiseTypeMismatch();
    uint32_t bits = 0;
    std::memcpy(&bits, p, Bytes(t));
    return bindings::TSmallSet<E>::FromBits(bits);
  }
  static void Set(uint8_t* p, const TPSTypeRec* t, bindings::TSmallSet<E> v) {
    const uint8_t* cp = p;
    Deref(cp, t);
    if (t->FBaseType != btSet) RaiseTypeMismatch();
    uint32_t bits = v.Bits();
    std::memcpy(const_cast<uint8_t*>(cp), &bits, Bytes(t));
  }
};

}  // namespace ps

namespace bindings {

using ps::TPSCompileTimeClass;
using ps::TPSMemberCall;
using rtl::UnicodeString;

void SIRegister_PerlRegEx(ps::TPSPascalCompiler* CL) {
  CL->AddTypeS("TPerlRegExOption",
               "( preCaseLess, preMultiLine, preSingleLine, preExtended, preAnchored, preDollarEndOnly, preExtra, "
               "preUnGreedy )");
  CL->AddTypeS("TPerlRegExOptions", "set of TPerlRegExOption");
  CL->AddTypeS("TPerlRegExSingleState", "( preNotBOL, preNotEOL, preNotEmpty )");
  CL->AddTypeS("TPerlRegExState", "set of TPerlRegExSingleState");
  CL->AddConstantN("MAX_SUBEXPRESSIONS", "LongInt")->SetInt(MAX_SUBEXPRESSIONS);
  CL->AddTypeS("TPerlRegExReplaceEvent", "Procedure ( Sender : TObject; var ReplaceWith : string)");

  TPSCompileTimeClass* object = CL->FindClass("TOBJECT");
  TPSCompileTimeClass* re = CL->AddClassN(object, "TPerlRegEx");
  re->RegisterMethod("Function EscapeRegExChars( const S : string) : string");
  re->RegisterMethod("Procedure Compile");
  re->RegisterMethod("Procedure Study");
  re->RegisterMethod("Function Match : Boolean");
  re->RegisterMethod("Function MatchAgain : Boolean");
  re->RegisterMethod("Function Replace : string");
  re->RegisterMethod("Function ReplaceAll : Boolean");
  re->RegisterMethod("Function ComputeReplacement : string");
  re->RegisterMethod("Procedure StoreSubExpressions");
  re->RegisterMethod("Function NamedSubExpression( const SEName : string) : Integer");
  re->RegisterMethod("Procedure Split( Strings : TStrings; Limit : Integer)");
  re->RegisterProperty("Compiled", "Boolean", ps::iptR);
  re->RegisterProperty("FoundMatch", "Boolean", ps::iptR);
  re->RegisterProperty("Studied", "Boolean", ps::iptR);
  re->RegisterProperty("MatchedExpression", "string", ps::iptR);
  re->RegisterProperty("MatchedExpressionLength", "Integer", ps::iptR);
  re->RegisterProperty("MatchedExpressionOffset", "Integer", ps::iptR);
  re->RegisterProperty("Start", "Integer", ps::iptRW);
  re->RegisterProperty("Stop", "Integer", ps::iptRW);
  re->RegisterProperty("State", "TPerlRegExState", ps::iptRW);
  re->RegisterProperty("SubExpressionCount", "Integer", ps::iptR);
  re->RegisterProperty("SubExpressions", "string Integer", ps::iptR);
  re->RegisterProperty("SubExpressionLengths", "Integer Integer", ps::iptR);
  re->RegisterProperty("SubExpressionOffsets", "Integer Integer", ps::iptR);
  re->RegisterProperty("Subject", "string", ps::iptRW);
  re->RegisterProperty("Options", "TPerlRegExOptions", ps::iptRW);
  re->RegisterProperty("RegEx", "string", ps::iptRW);
  re->RegisterProperty("Replacement", "string", ps::iptRW);
  re->RegisterProperty("OnMatch", "TNotifyEvent", ps::iptRW);
  re->RegisterProperty("OnReplace", "TPerlRegExReplaceEvent", ps::iptRW);

  TPSCompileTimeClass* list = CL->AddClassN(object, "TPerlRegExList");
  list->RegisterMethod("Constructor Create");
  list->RegisterMethod("Function Add( ARegEx : TPerlRegEx) : Integer");
  list->RegisterMethod("Procedure Clear");
  list->RegisterMethod("Procedure Delete( Index : Integer)");
  list->RegisterMethod("Function IndexOf( ARegEx : TPerlRegEx) : Integer");
  list->RegisterMethod("Procedure Insert( Index : Integer; ARegEx : TPerlRegEx)");
  list->RegisterMethod("Function Match : Boolean");
  list->RegisterMethod("Function MatchAgain : Boolean");
  list->RegisterProperty("RegEx", "TPerlRegEx Integer", ps::iptRW);
  list->RegisterProperty("Count", "Integer", ps::iptR);
  list->RegisterProperty("Subject", "string", ps::iptRW);
  list->RegisterProperty("Start", "Integer", ps::iptRW);
  list->RegisterProperty("Stop", "Integer", ps::iptRW);
  list->RegisterProperty("MatchedRegEx", "TPerlRegEx", ps::iptR);
}

namespace {

// A script procedure as the OnReplace handler; it runs nested on the
// executor that assigned it.
struct TScriptReplaceHandler {
  ps::TPSExec* Exec;
  uint32_t ProcNo;
  void operator()(rtl::TObject* Sender, UnicodeString& ReplaceWith) const {
    ps::CallScriptProc<void>(*Exec, static_cast<int>(ProcNo), Sender, ReplaceWith);
  }
};

void ReadOnReplace(TPSMemberCall& c) {
  TPerlRegEx* re = ps::ObjectAs<TPerlRegEx>(c.Self);
  const uint8_t* p = c.Stack.EntryValue(c.ResultIndex);
  const ps::TPSTypeRec* t = c.Stack.EntryType(c.ResultIndex);
  ps::Deref(p, t);
  if (t->FBaseType != ps::btProcPtr) ps::RaiseTypeMismatch();
  // Only a handler this executor made can be handed back as a procedure.
  ps::TPSProcPtrValue v{0, 0, nullptr, nullptr};
  if (const auto* script = re->OnReplace().target<TScriptReplaceHandler>(); script && script->Exec == &c.Exec)
    v.ProcNo = script->ProcNo;
  ps::Store(const_cast<uint8_t*>(p), v);
}

void WriteOnReplace(TPSMemberCall& c) {
  TPerlRegEx* re = ps::ObjectAs<TPerlRegEx>(c.Self);
  if (c.SelfIndex < 1) ps::detail::RaiseNotEnoughParameters();
  const uint8_t* p = c.Stack.EntryValue(c.SelfIndex - 1);
  const ps::TPSTypeRec* t = c.Stack.EntryType(c.SelfIndex - 1);
  ps::Deref(p, t);
  if (t->FBaseType != ps::btProcPtr) ps::RaiseTypeMismatch();
  auto v = ps::Load<ps::TPSProcPtrValue>(p);
  if (v.ProcNo == 0 || v.ProcNo == UINT32_MAX || v.ProcNo >= static_cast<uint32_t>(c.Exec.GetProcCount())) {
    re->SetOnReplace(nullptr);
    return;
  }
  re->SetOnReplace(TScriptReplaceHandler{&c.Exec, v.ProcNo});
}

}  // namespace

void RIRegister_PerlRegEx(ps::TPSRuntimeClassImporter& CL) {
  // Scripts create regular expressions with the Create inherited from
  // TObject, which makes the class's default instance.
  auto& re = CL.Add<TPerlRegEx>();
  re.Method("EscapeRegExChars", [](TPerlRegEx*, const UnicodeString& S) { return TPerlRegEx::EscapeRegExChars(S); });
  re.Method("Compile", &TPerlRegEx::Compile);
  re.Method("Study", &TPerlRegEx::Study);
  re.Method("Match", &TPerlRegEx::Match);
  re.Method("MatchAgain", &TPerlRegEx::MatchAgain);
  re.Method("Replace", &TPerlRegEx::Replace);
  re.Method("ReplaceAll", &TPerlRegEx::ReplaceAll);
  re.Method("ComputeReplacement", &TPerlRegEx::ComputeReplacement);
  re.Method("StoreSubExpressions", &TPerlRegEx::StoreSubExpressions);
  re.Method("NamedSubExpression",
            [](TPerlRegEx* r, const UnicodeString& SEName) { return r->NamedSubExpression(SEName); });
  re.Method("Split", [](TPerlRegEx* r, rtl::TStrings* Strings, int32_t Limit) { r->Split(Strings, Limit); });
  re.ReadProperty("Compiled", &TPerlRegEx::Compiled);
  re.ReadProperty("FoundMatch", &TPerlRegEx::FoundMatch);
  re.ReadProperty("Studied", &TPerlRegEx::Studied);
  re.ReadProperty("MatchedExpression", &TPerlRegEx::MatchedExpression);
  re.ReadProperty("MatchedExpressionLength", &TPerlRegEx::MatchedExpressionLength);
  re.ReadProperty("MatchedExpressionOffset", &TPerlRegEx::MatchedExpressionOffset);
  re.Property("Start", &TPerlRegEx::Start, &TPerlRegEx::SetStart);
  re.Property("Stop", &TPerlRegEx::Stop, &TPerlRegEx::SetStop);
  re.Property("State", &TPerlRegEx::State, &TPerlRegEx::SetState);
  re.ReadProperty("SubExpressionCount", &TPerlRegEx::SubExpressionCount);
  re.ReadProperty("SubExpressions", [](TPerlRegEx* r, int32_t i) { return r->SubExpressions(i); });
  re.ReadProperty("SubExpressionLengths", [](TPerlRegEx* r, int32_t i) { return r->SubExpressionLengths(i); });
  re.ReadProperty("SubExpressionOffsets", [](TPerlRegEx* r, int32_t i) { return r->SubExpressionOffsets(i); });
  re.Property("Subject", &TPerlRegEx::Subject, &TPerlRegEx::SetSubject);
  re.Property("Options", &TPerlRegEx::Options, &TPerlRegEx::SetOptions);
  re.Property("RegEx", &TPerlRegEx::RegEx, &TPerlRegEx::SetRegEx);
  re.Property("Replacement", &TPerlRegEx::Replacement, &TPerlRegEx::SetReplacement);
  re.EventProperty("OnMatch", &TPerlRegEx::OnMatch, &TPerlRegEx::SetOnMatch);
  re.RegisterEventPropertyHelper(&ReadOnReplace, &WriteOnReplace, "OnReplace");

  auto& list = CL.Add<TPerlRegExList>();
  list.Constructor<>();
  list.Method("Add", [](TPerlRegExList* l, TPerlRegEx* ARegEx) { return l->Add(ARegEx); });
  list.Method("Clear", &TPerlRegExList::Clear);
  list.Method("Delete", [](TPerlRegExList* l, int32_t Index) { l->Delete(Index); });
  list.Method("IndexOf", [](TPerlRegExList* l, TPerlRegEx* ARegEx) { return l->IndexOf(ARegEx); });
  list.Method("Insert", [](TPerlRegExList* l, int32_t Index, TPerlRegEx* ARegEx) { l->Insert(Index, ARegEx); });
  list.Method("Match", &TPerlRegExList::Match);
  list.Method("MatchAgain", &TPerlRegExList::MatchAgain);
  list.Property(
      "RegEx", [](TPerlRegExList* l, int32_t i) { return l->RegEx(i); },
      [](TPerlRegExList* l, int32_t i, TPerlRegEx* ARegEx) { l->SetRegEx(i, ARegEx); });
  list.ReadProperty("Count", &TPerlRegExList::Count);
  list.Property("Subject", &TPerlRegExList::Subject, &TPerlRegExList::SetSubject);
  list.Property("Start", &TPerlRegExList::Start, &TPerlRegExList::SetStart);
  list.Property("Stop", &TPerlRegExList::Stop, &TPerlRegExList::SetStop);
  list.ReadProperty("MatchedRegEx", &TPerlRegExList::MatchedRegEx);
}

rtl::TClass TPSImport_PerlRegEx::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_PerlRegEx", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_PerlRegEx::CompileImport1(ps::TPSScript* CompExec) { SIRegister_PerlRegEx(CompExec->Comp()); }

void TPSImport_PerlRegEx::ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) {
  RIRegister_PerlRegEx(ri);
}

}  // namespace bindings
