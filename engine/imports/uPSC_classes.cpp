#include "engine/imports/uPSC_classes.h"

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

void SIRegisterTStrings(TPSPascalCompiler* cl, bool streams) {
  TPSCompileTimeClass* c = Class(cl, "TPersistent", "TStrings");
  c->FIsAbstract = true;
  c->RegisterMethod("constructor Create;");
  c->RegisterMethod("function Add(S: string): Integer;");
  c->RegisterMethod("procedure Append(S: string);");
  c->RegisterMethod("procedure AddStrings(Strings: TStrings);");
  c->RegisterMethod("procedure Clear;");
  c->RegisterMethod("procedure Delete(Index: Integer);");
  c->RegisterMethod("function IndexOf(const S: string): Integer; ");
  c->RegisterMethod("procedure Insert(Index: Integer; S: string); ");
  c->RegisterProperty("Count", "Integer", iptR);
  c->RegisterProperty("Text", "String", iptRW);
  c->RegisterProperty("CommaText", "String", iptRW);
  if (streams) {
    c->RegisterMethod("procedure LoadFromFile(FileName: string); ");
    c->RegisterMethod("procedure SaveToFile(FileName: string); ");
  }
  c->RegisterProperty("Strings", "String Integer", iptRW);
  c->SetDefaultPropery("Strings");
  c->RegisterProperty("Objects", "TObject Integer", iptRW);
  c->RegisterMethod("procedure BeginUpdate;");
  c->RegisterMethod("procedure EndUpdate;");
  c->RegisterMethod("function Equals(Strings: TStrings): Boolean;");
  c->RegisterMethod("procedure Exchange(Index1, Index2: Integer);");
  c->RegisterMethod("function IndexOfName(Name: string): Integer;");
  if (streams) c->RegisterMethod("procedure LoadFromStream(Stream: TStream); ");
  c->RegisterMethod("procedure Move(CurIndex, NewIndex: Integer); ");
  if (streams) c->RegisterMethod("procedure SaveToStream(Stream: TStream); ");
  c->RegisterMethod("procedure SetText(Text: PChar); ");
  c->RegisterProperty("Names", "String Integer", iptR);
  c->RegisterProperty("Values", "String String", iptRW);
  c->RegisterMethod("function AddObject(S:String;AObject:TObject):integer");
  c->RegisterMethod("function GetText:PChar");
  c->RegisterMethod("function IndexofObject(AObject:tObject):Integer");
  c->RegisterMethod("procedure InsertObject(Index:Integer;S:String;AObject:TObject)");
}

void SIRegisterTStringList(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TStrings", "TStringList");
  c->RegisterMethod("constructor Create;");
  c->RegisterMethod("function Find(S:String;var Index:Integer):Boolean");
  c->RegisterMethod("procedure Sort");
  c->RegisterProperty("Duplicates", "TDuplicates", iptRW);
  c->RegisterProperty("Sorted", "Boolean", iptRW);
  c->RegisterProperty("OnChange", "TNotifyEvent", iptRW);
  c->RegisterProperty("OnChanging", "TNotifyEvent", iptRW);
}

void SIRegisterTBits(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TObject", "TBits");
  c->RegisterMethod("function OpenBit:Integer");
  c->RegisterProperty("Bits", "Boolean Integer", iptRW);
  c->RegisterProperty("Size", "Integer", iptRW);
}

void SIRegisterTStream(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TObject", "TStream");
  c->FIsAbstract = true;
  c->RegisterMethod("function Read(var Buffer:String;Count:LongInt):LongInt");
  c->RegisterMethod("function Write(Buffer:String;Count:LongInt):LongInt");
  c->RegisterMethod("function Seek(Offset:LongInt;Origin:Word):LongInt");
  c->RegisterMethod("procedure ReadBuffer(var Buffer:String;Count:LongInt)");
  c->RegisterMethod("procedure WriteBuffer(Buffer:String;Count:LongInt)");
  c->RegisterMethod("function CopyFrom(Source:TStream;Count:Int64):LongInt");
  c->RegisterProperty("Position", "LongInt", iptRW);
  c->RegisterProperty("Size", "LongInt", iptRW);
}

void SIRegisterTHandleStream(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TStream", "THandleStream");
  c->RegisterMethod("constructor Create(AHandle:Integer)");
  c->RegisterProperty("Handle", "Integer", iptR);
}

void SIRegisterTFileStream(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "THandleStream", "TFileStream");
  c->RegisterMethod("constructor Create(FileName:String;Mode:Word)");
}

void SIRegisterTCustomMemoryStream(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TStream", "TCustomMemoryStream");
  c->FIsAbstract = true;
  c->RegisterMethod("procedure SaveToStream(Stream:TStream)");
  c->RegisterMethod("procedure SaveToFile(FileName:String)");
}

void SIRegisterTMemoryStream(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TCustomMemoryStream", "TMemoryStream");
  c->RegisterMethod("procedure Clear");
  c->RegisterMethod("procedure LoadFromStream(Stream:TStream)");
  c->RegisterMethod("procedure LoadFromFile(FileName:String)");
  c->RegisterMethod("procedure SetSize(NewSize:LongInt)");
}

void SIRegisterTResourceStream(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TCustomMemoryStream", "TResourceStream");
  c->RegisterMethod("constructor Create(Instance:THandle;ResName:String;ResType:PChar)");
  c->RegisterMethod("constructor CreateFromId(Instance:THandle;ResId:Integer;ResType:PChar)");
}

void SIRegisterTParser(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = Class(cl, "TObject", "TParser");
  c->RegisterMethod("constructor Create(Stream:TStream)");
  c->RegisterMethod("procedure CheckToken(t:char)");
  c->RegisterMethod("procedure CheckTokenSymbol(s:string)");
  c->RegisterMethod("procedure Error(Ident:Integer)");
  c->RegisterMethod("procedure ErrorStr(Message:String)");
  c->RegisterMethod("procedure HexToBinary(Stream:TStream)");
  c->RegisterMethod("function NextToken:Char");
  c->RegisterMethod("function SourcePos:LongInt");
  c->RegisterMethod("function TokenComponentIdent:String");
  c->RegisterMethod("function TokenFloat:Extended");
  c->RegisterMethod("function TokenInt:LongInt");
  c->RegisterMethod("function TokenString:String");
  c->RegisterMethod("function TokenSymbolIs(S:String):Boolean");
  c->RegisterProperty("SourceLine", "Integer", iptR);
  c->RegisterProperty("Token", "Char", iptR);
}

void SIRegisterTCollection(TPSPascalCompiler* cl) {
  // Declared first as a forward class: TCollectionItem refers to it.
  TPSCompileTimeClass* collection = Class(cl, "TPersistent", "TCollection");
  TPSCompileTimeClass* item = Class(cl, "TPersistent", "TCollectionItem");
  item->RegisterMethod("Constructor Create( Collection : TCollection)");
  item->RegisterProperty("Collection", "TCollection", iptRW);
  item->RegisterProperty("Id", "Integer", iptR);
  item->RegisterProperty("Index", "Integer", iptRW);
  item->RegisterProperty("DisplayName", "String", iptRW);
  collection->RegisterMethod("function Owner : TPersistent");
  collection->RegisterMethod("function Add : TCollectionItem");
  collection->RegisterMethod("procedure BeginUpdate");
  collection->RegisterMethod("procedure Clear");
  collection->RegisterMethod("procedure Delete( Index : Integer)");
  collection->RegisterMethod("procedure EndUpdate");
  collection->RegisterMethod("function FindItemId( Id : Integer) : TCollectionItem");
  collection->RegisterMethod("function Insert( Index : Integer) : TCollectionItem");
  collection->RegisterProperty("Count", "Integer", iptR);
  // There are no class references in scripts: ItemClass is declared only
  // when a host has declared the type.
  collection->RegisterProperty("ItemClass", "TCollectionItemClass", iptR);
  collection->RegisterProperty("Items", "TCollectionItem Integer", iptRW);
  Class(cl, "TCollection", "TOwnedCollection");
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
