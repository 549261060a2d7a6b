#include "engine/imports/uPSC_classes.h"

#include "engine/imports/Libraries.h"

namespace ps {

namespace {

void Constant(TPSPascalCompiler* cl, std::string_view name, std::string_view type, int32_t value) {
  if (TPSConstant* c = cl->AddConstantN(name, type)) c->SetInt(value);
}

TPSCompileTimeClass* Class(TPSPascalCompiler* cl, std::string_view ancestor, std::string_view name) {
  return cl->AddClassN(cl->FindClass(ancestor), name);
}

}  // namespace

void SIRegister_Classes_TypesAndConsts(TPSPascalCompiler* cl) {
  Constant(cl, "soFromBeginning", "Longint", 0);
  Constant(cl, "soFromCurrent", "Longint", 1);
  Constant(cl, "soFromEnd", "Longint", 2);
  for (auto [name, code] : {std::pair{"toEOF", 0}, {"toSymbol", 1}, {"toString", 2}, {"toInteger", 3}, {"toFloat", 4}})
    if (TPSConstant* c = cl->AddConstantN(name, "Char")) c->SetChar(static_cast<char>(code));
  Constant(cl, "fmCreate", "Longint", 65535);
  Constant(cl, "fmOpenRead", "Longint", 0);
  Constant(cl, "fmOpenWrite", "Longint", 1);
  Constant(cl, "fmOpenReadWrite", "Longint", 2);
  Constant(cl, "fmShareCompat", "Longint", 0);
  Constant(cl, "fmShareExclusive", "Longint", 16);
  Constant(cl, "fmShareDenyWrite", "Longint", 32);
  Constant(cl, "fmShareDenyRead", "Longint", 48);
  Constant(cl, "fmShareDenyNone", "Longint", 64);
  Constant(cl, "SecsPerDay", "Longint", 86400);
  Constant(cl, "MSecPerDay", "Longint", 86400000);
  Constant(cl, "DateDelta", "Longint", 693594);
  cl->AddTypeS("TAlignment", "(taLeftJustify, taRightJustify, taCenter)");
  cl->AddTypeS("THelpEvent", "function (Command: Word; Data: Longint; var CallHelp: Boolean): Boolean");
  cl->AddTypeS("TGetStrProc", "procedure(const S: string)");
  cl->AddTypeS("TDuplicates", "(dupIgnore, dupAccept, dupError)");
  cl->AddTypeS("TOperation", "(opInsert, opRemove)");
  cl->AddTypeS("THANDLE", "Longint");
  cl->AddTypeS("TNotifyEvent", "procedure (Sender: TObject)");
}

namespace {

uint32_t Options(bool streams) { return streams ? kClassesStreams : 0; }

void Declare(TPSPascalCompiler* cl, std::string_view name, bool streams = true) {
  DeclareClass(cl, FindClassRow(ClassesClassRows(), name), Options(streams));
}

}  // namespace

void SIRegisterTStrings(TPSPascalCompiler* cl, bool streams) { Declare(cl, "TStrings", streams); }
void SIRegisterTStringList(TPSPascalCompiler* cl) { Declare(cl, "TStringList"); }
void SIRegisterTBits(TPSPascalCompiler* cl) { Declare(cl, "TBits"); }
void SIRegisterTStream(TPSPascalCompiler* cl) { Declare(cl, "TStream"); }
void SIRegisterTHandleStream(TPSPascalCompiler* cl) { Declare(cl, "THandleStream"); }
void SIRegisterTFileStream(TPSPascalCompiler* cl) { Declare(cl, "TFileStream"); }
void SIRegisterTCustomMemoryStream(TPSPascalCompiler* cl) { Declare(cl, "TCustomMemoryStream"); }
void SIRegisterTMemoryStream(TPSPascalCompiler* cl) { Declare(cl, "TMemoryStream"); }
void SIRegisterTResourceStream(TPSPascalCompiler* cl) { Declare(cl, "TResourceStream"); }
void SIRegisterTParser(TPSPascalCompiler* cl) { Declare(cl, "TParser"); }

void SIRegisterTCollection(TPSPascalCompiler* cl) {
  // Named first as a forward class: TCollectionItem refers to it.
  Class(cl, "TPersistent", "TCollection");
  Declare(cl, "TCollectionItem");
  Declare(cl, "TCollection");
  Declare(cl, "TOwnedCollection");
}

void SIRegister_Classes(TPSPascalCompiler* cl, bool streams) {
  SIRegister_Classes_TypesAndConsts(cl);
  // Every class is named first, so declarations may refer to later ones.
  // TStream is named even without streams: TParser reads from one.
  for (const char* name : {"TStrings", "TStringList", "TBits", "TStream", "TParser"})
    cl->AddClassN(cl->FindClass("TObject"), name);
  if (streams)
    for (const char* name : {"THandleStream", "TFileStream", "TCustomMemoryStream", "TMemoryStream", "TResourceStream"})
      cl->AddClassN(cl->FindClass("TObject"), name);
  SIRegisterTStrings(cl, streams);
  SIRegisterTStringList(cl);
  SIRegisterTBits(cl);
  if (streams) {
    SIRegisterTStream(cl);
    SIRegisterTHandleStream(cl);
    SIRegisterTFileStream(cl);
    SIRegisterTCustomMemoryStream(cl);
    SIRegisterTMemoryStream(cl);
    SIRegisterTResourceStream(cl);
  }
  SIRegisterTParser(cl);
  SIRegisterTCollection(cl);
}

}  // namespace ps
