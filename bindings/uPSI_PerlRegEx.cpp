#include "bindings/uPSI_PerlRegEx.h"

#include <algorithm>
#include <cstring>

#include "bindings/PerlRegEx.h"
#include "engine/runtime/LibraryRows.h"

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

std::span<const ps::TPSClassRow> PerlRegExClassRows() {
  static const std::vector<ps::TPSClassRow> rows = [] {
    std::vector<ps::TPSClassRow> r;
    // Scripts create regular expressions with the Create inherited from
    // TObject, which makes the class's default instance.
    r.push_back(ps::TPSClassRows<TPerlRegEx>("TObject", "TPerlRegEx")
                    .Method("Function EscapeRegExChars( const S : string) : string",
                            [](TPerlRegEx*, const UnicodeString& S) { return TPerlRegEx::EscapeRegExChars(S); })
                    .Method("Procedure Compile", &TPerlRegEx::Compile)
                    .Method("Procedure Study", &TPerlRegEx::Study)
                    .Method("Function Match : Boolean", &TPerlRegEx::Match)
                    .Method("Function MatchAgain : Boolean", &TPerlRegEx::MatchAgain)
                    .Method("Function Replace : string", &TPerlRegEx::Replace)
                    .Method("Function ReplaceAll : Boolean", &TPerlRegEx::ReplaceAll)
                    .Method("Function ComputeReplacement : string", &TPerlRegEx::ComputeReplacement)
                    .Method("Procedure StoreSubExpressions", &TPerlRegEx::StoreSubExpressions)
                    .Method("Function NamedSubExpression( const SEName : string) : Integer",
                            [](TPerlRegEx* r, const UnicodeString& SEName) { return r->NamedSubExpression(SEName); })
                    .Method("Procedure Split( Strings : TStrings; Limit : Integer)",
                            [](TPerlRegEx* r, rtl::TStrings* Strings, int32_t Limit) { r->Split(Strings, Limit); })
                    .ReadProperty("Compiled", "Boolean", &TPerlRegEx::Compiled)
                    .ReadProperty("FoundMatch", "Boolean", &TPerlRegEx::FoundMatch)
                    .ReadProperty("Studied", "Boolean", &TPerlRegEx::Studied)
                    .ReadProperty("MatchedExpression", "string", &TPerlRegEx::MatchedExpression)
                    .ReadProperty("MatchedExpressionLength", "Integer", &TPerlRegEx::MatchedExpressionLength)
                    .ReadProperty("MatchedExpressionOffset", "Integer", &TPerlRegEx::MatchedExpressionOffset)
                    .Property("Start", "Integer", &TPerlRegEx::Start, &TPerlRegEx::SetStart)
                    .Property("Stop", "Integer", &TPerlRegEx::Stop, &TPerlRegEx::SetStop)
                    .Property("State", "TPerlRegExState", &TPerlRegEx::State, &TPerlRegEx::SetState)
                    .ReadProperty("SubExpressionCount", "Integer", &TPerlRegEx::SubExpressionCount)
                    .ReadProperty("SubExpressions", "string Integer",
                                  [](TPerlRegEx* r, int32_t i) { return r->SubExpressions(i); })
                    .ReadProperty("SubExpressionLengths", "Integer Integer",
                                  [](TPerlRegEx* r, int32_t i) { return r->SubExpressionLengths(i); })
                    .ReadProperty("SubExpressionOffsets", "Integer Integer",
                                  [](TPerlRegEx* r, int32_t i) { return r->SubExpressionOffsets(i); })
                    .Property("Subject", "string", &TPerlRegEx::Subject, &TPerlRegEx::SetSubject)
                    .Property("Options", "TPerlRegExOptions", &TPerlRegEx::Options, &TPerlRegEx::SetOptions)
                    .Property("RegEx", "string", &TPerlRegEx::RegEx, &TPerlRegEx::SetRegEx)
                    .Property("Replacement", "string", &TPerlRegEx::Replacement, &TPerlRegEx::SetReplacement)
                    .Published("OnMatch")
                    .RawEventProperty("OnReplace", "TPerlRegExReplaceEvent", &ReadOnReplace, &WriteOnReplace));
    r.push_back(
        ps::TPSClassRows<TPerlRegExList>("TObject", "TPerlRegExList")
            .Constructor<>("Constructor Create")
            .Method("Function Add( ARegEx : TPerlRegEx) : Integer",
                    [](TPerlRegExList* l, TPerlRegEx* ARegEx) { return l->Add(ARegEx); })
            .Method("Procedure Clear", &TPerlRegExList::Clear)
            .Method("Procedure Delete( Index : Integer)", [](TPerlRegExList* l, int32_t Index) { l->Delete(Index); })
            .Method("Function IndexOf( ARegEx : TPerlRegEx) : Integer",
                    [](TPerlRegExList* l, TPerlRegEx* ARegEx) { return l->IndexOf(ARegEx); })
            .Method("Procedure Insert( Index : Integer; ARegEx : TPerlRegEx)",
                    [](TPerlRegExList* l, int32_t Index, TPerlRegEx* ARegEx) { l->Insert(Index, ARegEx); })
            .Method("Function Match : Boolean", &TPerlRegExList::Match)
            .Method("Function MatchAgain : Boolean", &TPerlRegExList::MatchAgain)
            .Property(
                "RegEx", "TPerlRegEx Integer", [](TPerlRegExList* l, int32_t i) { return l->RegEx(i); },
                [](TPerlRegExList* l, int32_t i, TPerlRegEx* ARegEx) { l->SetRegEx(i, ARegEx); })
            .ReadProperty("Count", "Integer", &TPerlRegExList::Count)
            .Property("Subject", "string", &TPerlRegExList::Subject, &TPerlRegExList::SetSubject)
            .Property("Start", "Integer", &TPerlRegExList::Start, &TPerlRegExList::SetStart)
            .Property("Stop", "Integer", &TPerlRegExList::Stop, &TPerlRegExList::SetStop)
            .ReadProperty("MatchedRegEx", "TPerlRegEx", &TPerlRegExList::MatchedRegEx));
    return r;
  }();
  return rows;
}

}  // namespace

void SIRegister_PerlRegEx(ps::TPSPascalCompiler* CL) {
  CL->AddTypeS("TPerlRegExOption",
               "( preCaseLess, preMultiLine, preSingleLine, preExtended, preAnchored, preDollarEndOnly, preExtra, "
               "preUnGreedy )");
  CL->AddTypeS("TPerlRegExOptions", "set of TPerlRegExOption");
  CL->AddTypeS("TPerlRegExSingleState", "( preNotBOL, preNotEOL, preNotEmpty )");
  CL->AddTypeS("TPerlRegExState", "set of TPerlRegExSingleState");
  CL->AddConstantN("MAX_SUBEXPRESSIONS", "LongInt")->SetInt(MAX_SUBEXPRESSIONS);
  CL->AddTypeS("TPerlRegExReplaceEvent", "Procedure ( Sender : TObject; var ReplaceWith : string)");

  ps::DeclareClasses(CL, PerlRegExClassRows());
}

void RIRegister_PerlRegEx(ps::TPSRuntimeClassImporter& CL) { ps::BindClasses(CL, PerlRegExClassRows()); }

rtl::TClass TPSImport_PerlRegEx::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_PerlRegEx", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_PerlRegEx::CompileImport1(ps::TPSScript* CompExec) { SIRegister_PerlRegEx(CompExec->Comp()); }

void TPSImport_PerlRegEx::ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) {
  RIRegister_PerlRegEx(ri);
}

}  // namespace bindings
