#include "engine/imports/uPSR_classes.h"

#include "engine/imports/Libraries.h"
#include "engine/imports/uPSR_std.h"
#include "engine/runtime/LibraryRows.h"
#include "engine/runtime/Values.h"
#include "rtl/Bits.h"
#include "rtl/Collections.h"
#include "rtl/Parser.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"

namespace ps {

using rtl::TObject;
using rtl::UnicodeString;

namespace {

// TStream.Read, ReadBuffer, Write and WriteBuffer take a string as their
// buffer, one byte per character. Write and WriteBuffer send at most the
// string's length. Read and ReadBuffer take the buffer by reference: a buffer
// shorter than Count is lengthened to Count first (never beyond what the
// stream still holds, so a huge Count allocates nothing), the bytes read fill
// its start and the rest of it stays.
enum class TTransfer { Read, ReadBuffer, Write, WriteBuffer };

TPSMemberCode StreamTransfer(TTransfer kind) {
  return [kind](TPSMemberCall& c) {
    rtl::TStream* stream = ObjectAs<rtl::TStream>(c.Self);
    const int bufferIndex = c.SelfIndex - 1, countIndex = c.SelfIndex - 2;
    if (countIndex < 0) detail::RaiseNotEnoughParameters();
    const int64_t wanted = std::max<int64_t>(c.Stack.GetInt(countIndex), 0);
    const uint8_t* cp = c.Stack.EntryValue(bufferIndex);
    const TPSTypeRec* t = c.Stack.EntryType(bufferIndex);
    Deref(cp, t);
    if (!IsStringKind(t->FBaseType)) RaiseTypeMismatch();
    uint8_t* slot = const_cast<uint8_t*>(cp);
    const bool wide = t->FBaseType == btWideString || t->FBaseType == btUnicodeString;
    TPSBlockHeader* h = LoadBlock(slot);
    const int64_t length = h ? h->Length : 0;
    int64_t moved;
    if (kind == TTransfer::Write || kind == TTransfer::WriteBuffer) {
      const int64_t count = std::min(wanted, length);
      std::string bytes(static_cast<size_t>(count), '\0');
      for (int64_t i = 0; i < count; ++i)
        bytes[i] = wide ? static_cast<char>(reinterpret_cast<const char16_t*>(BlockData(h))[i])
                        : reinterpret_cast<const char*>(BlockData(h))[i];
      moved = count;
      if (kind == TTransfer::Write)
        moved = stream->Write(bytes.data(), count);
      else
        stream->WriteBuffer(bytes.data(), count);
    } else {
      const int64_t left = std::max<int64_t>(stream->Size() - stream->Position(), 0);
      const int64_t count = std::min(wanted, std::max(length, left));
      // More than the stream holds cannot be read in full.
      if (kind == TTransfer::ReadBuffer && count < wanted)
        throw rtl::EReadError(rtl::UnicodeString(rtl::EReadError::SReadError));
      std::string bytes(static_cast<size_t>(count), '\0');
      moved = kind == TTransfer::Read ? stream->Read(bytes.data(), count)
                                      : (stream->ReadBuffer(bytes.data(), count), count);
      moved = std::clamp<int64_t>(moved, 0, count);
      const int64_t size = std::max(length, count);
      if (wide) {
        std::u16string text(PSUnicodeView(slot));
        text.resize(static_cast<size_t>(size), u'\0');
        for (int64_t i = 0; i < moved; ++i)
          text[static_cast<size_t>(i)] = static_cast<uint8_t>(bytes[static_cast<size_t>(i)]);
        PSUnicodeAssign(slot, text);
      } else {
        std::string text(PSAnsiView(slot));
        text.resize(static_cast<size_t>(size), '\0');
        text.replace(0, static_cast<size_t>(moved), bytes, 0, static_cast<size_t>(moved));
        PSAnsiAssign(slot, text);
      }
    }
    if (c.ResultIndex >= 0) PSSetInt(c.Stack.EntryValue(c.ResultIndex), c.Stack.EntryType(c.ResultIndex), moved);
  };
}

// Objects[] holds whatever the script stores, numbers included: the values
// pass through unchecked and are checked when a member is called on them.
void* GetObjectRaw(rtl::TStrings* s, int32_t index) { return s->GetObject(index); }
void PutObjectRaw(rtl::TStrings* s, int32_t index, void* object) { s->PutObject(index, static_cast<TObject*>(object)); }

}  // namespace

std::span<const TPSClassRow> ClassesClassRows() {
  using rtl::TCollection;
  using rtl::TCollectionItem;
  using rtl::TParser;
  using rtl::TStream;
  using rtl::TStringList;
  using rtl::TStrings;
  static const std::vector<TPSClassRow> rows = [] {
    std::vector<TPSClassRow> r;
    r.push_back(
        TPSClassRows<TStrings>("TPersistent", "TStrings")
            .Abstract()
            // Abstract: the class's own factory refuses, a descendant's makes it.
            .ConstructorFn("constructor Create;",
                           []() { return static_cast<TStrings*>(TStrings::StaticClass()->Create()); })
            .Method("function Add(S: string): Integer;",
                    [](TStrings* s, const UnicodeString& item) { return s->Add(item); })
            .Method("procedure Append(S: string);", [](TStrings* s, const UnicodeString& item) { s->Append(item); })
            .Method("procedure AddStrings(Strings: TStrings);",
                    [](TStrings* s, TStrings* other) { s->AddStrings(Required(other)); })
            .Method("procedure Clear;", &TStrings::Clear)
            .Method("procedure Delete(Index: Integer);", &TStrings::Delete)
            .Method("function IndexOf(const S: string): Integer; ",
                    [](TStrings* s, const UnicodeString& item) { return s->IndexOf(item); })
            .Method("procedure Insert(Index: Integer; S: string); ",
                    [](TStrings* s, int32_t index, const UnicodeString& item) { s->Insert(index, item); })
            .Published("Count")
            .Published("Text")
            .Published("CommaText")
            .Method("procedure LoadFromFile(FileName: string); ", &TStrings::LoadFromFile)
            .Needs(kClassesStreams)
            .Method("procedure SaveToFile(FileName: string); ", &TStrings::SaveToFile)
            .Needs(kClassesStreams)
            .Property(
                "Strings", "String Integer", [](TStrings* s, int32_t i) { return s->Get(i); },
                [](TStrings* s, int32_t i, const UnicodeString& v) { s->Put(i, v); })
            .Default()
            .Property("Objects", "TObject Integer", &GetObjectRaw, &PutObjectRaw)
            .Method("procedure BeginUpdate;", &TStrings::BeginUpdate)
            .Method("procedure EndUpdate;", &TStrings::EndUpdate)
            .Method("function Equals(Strings: TStrings): Boolean;",
                    [](TStrings* s, TStrings* other) { return s->Equals(Required(other)); })
            .Method("procedure Exchange(Index1, Index2: Integer);", &TStrings::Exchange)
            .Method("function IndexOfName(Name: string): Integer;",
                    [](TStrings* s, const UnicodeString& name) { return s->IndexOfName(name); })
            .Method("procedure LoadFromStream(Stream: TStream); ",
                    [](TStrings* s, TStream* stream) { s->LoadFromStream(Required(stream)); })
            .Needs(kClassesStreams)
            .Method("procedure Move(CurIndex, NewIndex: Integer); ", &TStrings::Move)
            .Method("procedure SaveToStream(Stream: TStream); ",
                    [](TStrings* s, TStream* stream) { s->SaveToStream(Required(stream)); })
            .Needs(kClassesStreams)
            .Method("procedure SetText(Text: PChar); ",
                    [](TStrings* s, const rtl::AnsiString& text) { s->SetText(rtl::Utf8ToUnicode(text)); })
            .ReadProperty("Names", "String Integer", &TStrings::Names)
            .Property(
                "Values", "String String", [](TStrings* s, const UnicodeString& name) { return s->Values(name); },
                [](TStrings* s, const UnicodeString& name, const UnicodeString& v) { s->SetValues(name, v); })
            .Method("function AddObject(S:String;AObject:TObject):integer",
                    [](TStrings* s, const UnicodeString& item, void* object) {
                      return s->AddObject(item, static_cast<TObject*>(object));
                    })
            // The text lives in the PChar value's own string block.
            .Method("function GetText:PChar", [](TStrings* s) { return rtl::UnicodeToUtf8(s->GetText()); })
            .Method("function IndexofObject(AObject:tObject):Integer",
                    [](TStrings* s, void* object) { return s->IndexOfObject(static_cast<TObject*>(object)); })
            .Method("procedure InsertObject(Index:Integer;S:String;AObject:TObject)",
                    [](TStrings* s, int32_t index, const UnicodeString& item, void* object) {
                      s->InsertObject(index, item, static_cast<TObject*>(object));
                    }));
    r.push_back(TPSClassRows<TStringList>("TStrings", "TStringList")
                    .Constructor<>("constructor Create;")
                    .Method("function Find(S:String;var Index:Integer):Boolean",
                            [](TStringList* s, const UnicodeString& item, int32_t& index) {
                              int found = 0;
                              bool result = s->Find(item, found);
                              index = found;
                              return result;
                            })
                    .Method("procedure Sort", &TStringList::Sort)
                    .Property(
                        "Duplicates", "TDuplicates",
                        [](TStringList* s) { return static_cast<uint8_t>(s->Duplicates()); },
                        [](TStringList* s, uint8_t v) {
                          if (v > rtl::dupError) throw rtl::EConvertError("Invalid value for property Duplicates");
                          s->SetDuplicates(static_cast<rtl::TDuplicates>(v));
                        })
                    .Published("Sorted")
                    .Published("OnChange")
                    .Published("OnChanging"));
    // Scripts create bit sets and memory streams with the Create inherited
    // from TObject, which makes the class's default instance.
    r.push_back(TPSClassRows<rtl::TBits>("TObject", "TBits")
                    .Method("function OpenBit:Integer", &rtl::TBits::OpenBit)
                    .Property("Bits", "Boolean Integer", &rtl::TBits::Bits, &rtl::TBits::SetBits)
                    .Published("Size"));
    r.push_back(
        TPSClassRows<TStream>("TObject", "TStream")
            .Abstract()
            .RawMethod("function Read(var Buffer:String;Count:LongInt):LongInt", StreamTransfer(TTransfer::Read))
            .RawMethod("function Write(Buffer:String;Count:LongInt):LongInt", StreamTransfer(TTransfer::Write))
            .Method("function Seek(Offset:LongInt;Origin:Word):LongInt",
                    [](TStream* s, int32_t offset, uint16_t origin) {
                      return static_cast<int32_t>(s->Seek(offset, origin));
                    })
            .RawMethod("procedure ReadBuffer(var Buffer:String;Count:LongInt)", StreamTransfer(TTransfer::ReadBuffer))
            .RawMethod("procedure WriteBuffer(Buffer:String;Count:LongInt)", StreamTransfer(TTransfer::WriteBuffer))
            .Method("function CopyFrom(Source:TStream;Count:Int64):LongInt",
                    [](TStream* s, TStream* source, int64_t count) {
                      return static_cast<int32_t>(s->CopyFrom(Required(source), count));
                    })
            .Published("Position")
            .Published("Size"));
    r.push_back(TPSClassRows<rtl::THandleStream>("TStream", "THandleStream")
                    .Constructor<int>("constructor Create(AHandle:Integer)")
                    .Published("Handle"));
    r.push_back(TPSClassRows<rtl::TFileStream>("THandleStream", "TFileStream")
                    .Constructor<const UnicodeString&, uint16_t>("constructor Create(FileName:String;Mode:Word)"));
    r.push_back(TPSClassRows<rtl::TCustomMemoryStream>("TStream", "TCustomMemoryStream")
                    .Abstract()
                    .Method("procedure SaveToStream(Stream:TStream)",
                            [](rtl::TCustomMemoryStream* s, TStream* to) { s->SaveToStream(Required(to)); })
                    .Method("procedure SaveToFile(FileName:String)", &rtl::TCustomMemoryStream::SaveToFile));
    r.push_back(TPSClassRows<rtl::TMemoryStream>("TCustomMemoryStream", "TMemoryStream")
                    .Method("procedure Clear", &rtl::TMemoryStream::Clear)
                    .Method("procedure LoadFromStream(Stream:TStream)",
                            [](rtl::TMemoryStream* s, TStream* from) { s->LoadFromStream(Required(from)); })
                    .Method("procedure LoadFromFile(FileName:String)", &rtl::TMemoryStream::LoadFromFile)
                    .Method("procedure SetSize(NewSize:LongInt)",
                            [](rtl::TMemoryStream* s, int32_t size) { s->SetSize(size); }));
    r.push_back(TPSClassRows<rtl::TResourceStream>("TCustomMemoryStream", "TResourceStream")
                    .ConstructorFn("constructor Create(Instance:THandle;ResName:String;ResType:PChar)",
                                   [](int32_t instance, const UnicodeString& name, const rtl::AnsiString& type) {
                                     return new rtl::TResourceStream(instance, name, rtl::Utf8ToUnicode(type));
                                   })
                    .ConstructorFn("constructor CreateFromId(Instance:THandle;ResId:Integer;ResType:PChar)",
                                   [](int32_t instance, int32_t id, const rtl::AnsiString& type) {
                                     return rtl::TResourceStream::CreateFromId(instance, id, rtl::Utf8ToUnicode(type));
                                   }));
    r.push_back(
        TPSClassRows<TParser>("TObject", "TParser")
            .ConstructorFn("constructor Create(Stream:TStream)",
                           [](TStream* stream) { return new TParser(Required(stream)); })
            .Method("procedure CheckToken(t:char)", &TParser::CheckToken)
            .Method("procedure CheckTokenSymbol(s:string)",
                    [](TParser* p, const UnicodeString& s) { p->CheckTokenSymbol(s); })
            .Method("procedure Error(Ident:Integer)", &TParser::Error)
            .Method("procedure ErrorStr(Message:String)", &TParser::ErrorStr)
            .Method("procedure HexToBinary(Stream:TStream)",
                    [](TParser* p, TStream* stream) { p->HexToBinary(Required(stream)); })
            .Method("function NextToken:Char", &TParser::NextToken)
            .Method("function SourcePos:LongInt", [](TParser* p) { return static_cast<int32_t>(p->SourcePos()); })
            .Method("function TokenComponentIdent:String", &TParser::TokenComponentIdent)
            .Method("function TokenFloat:Extended", &TParser::TokenFloat)
            .Method("function TokenInt:LongInt", &TParser::TokenInt)
            .Method("function TokenString:String", &TParser::TokenString)
            .Method("function TokenSymbolIs(S:String):Boolean",
                    [](TParser* p, const UnicodeString& s) { return p->TokenSymbolIs(s); })
            .Published("SourceLine")
            .Published("Token"));
    r.push_back(TPSClassRows<TCollectionItem>("TPersistent", "TCollectionItem")
                    .ConstructorFn("Constructor Create( Collection : TCollection)",
                                   [](TCollection* collection) { return new TCollectionItem(collection); })
                    .Published("Collection")
                    .Published("Id")
                    .Published("Index")
                    .Published("DisplayName"));
    r.push_back(TPSClassRows<TCollection>("TPersistent", "TCollection")
                    .Method("function Owner : TPersistent", &TCollection::Owner)
                    .Method("function Add : TCollectionItem", &TCollection::Add)
                    .Method("procedure BeginUpdate", &TCollection::BeginUpdate)
                    .Method("procedure Clear", &TCollection::Clear)
                    .Method("procedure Delete( Index : Integer)", &TCollection::Delete)
                    .Method("procedure EndUpdate", &TCollection::EndUpdate)
                    .Method("function FindItemId( Id : Integer) : TCollectionItem", &TCollection::FindItemId)
                    .Method("function Insert( Index : Integer) : TCollectionItem", &TCollection::Insert)
                    .Published("Count")
                    // There are no class references in scripts: ItemClass is
                    // declared only when a host has declared the type.
                    .UnboundProperty("ItemClass", "TCollectionItemClass", TPSAccess::Read)
                    .Property("Items", "TCollectionItem Integer", &TCollection::Items, &TCollection::SetItems));
    r.push_back(TPSClassRows<rtl::TOwnedCollection>("TCollection", "TOwnedCollection"));
    return r;
  }();
  return rows;
}

namespace {

uint32_t Options(bool streams) { return streams ? kClassesStreams : 0; }

void Bind(TPSRuntimeClassImporter& cl, std::string_view name, bool streams = true) {
  BindClass(cl, FindClassRow(ClassesClassRows(), name), Options(streams));
}

}  // namespace

void RIRegisterTStrings(TPSRuntimeClassImporter& cl, bool streams) { Bind(cl, "TStrings", streams); }
void RIRegisterTStringList(TPSRuntimeClassImporter& cl) { Bind(cl, "TStringList"); }
void RIRegisterTBits(TPSRuntimeClassImporter& cl) { Bind(cl, "TBits"); }
void RIRegisterTStream(TPSRuntimeClassImporter& cl) { Bind(cl, "TStream"); }
void RIRegisterTHandleStream(TPSRuntimeClassImporter& cl) { Bind(cl, "THandleStream"); }
void RIRegisterTFileStream(TPSRuntimeClassImporter& cl) { Bind(cl, "TFileStream"); }
void RIRegisterTCustomMemoryStream(TPSRuntimeClassImporter& cl) { Bind(cl, "TCustomMemoryStream"); }
void RIRegisterTMemoryStream(TPSRuntimeClassImporter& cl) { Bind(cl, "TMemoryStream"); }
void RIRegisterTResourceStream(TPSRuntimeClassImporter& cl) { Bind(cl, "TResourceStream"); }
void RIRegisterTParser(TPSRuntimeClassImporter& cl) { Bind(cl, "TParser"); }

void RIRegisterTCollection(TPSRuntimeClassImporter& cl) {
  Bind(cl, "TCollectionItem");
  Bind(cl, "TCollection");
  Bind(cl, "TOwnedCollection");
}

void RIRegister_Classes(TPSRuntimeClassImporter& cl, bool streams) {
  RIRegisterTStrings(cl, streams);
  RIRegisterTStringList(cl);
  RIRegisterTBits(cl);
  if (streams) {
    RIRegisterTStream(cl);
    RIRegisterTHandleStream(cl);
    RIRegisterTFileStream(cl);
    RIRegisterTCustomMemoryStream(cl);
    RIRegisterTMemoryStream(cl);
    RIRegisterTResourceStream(cl);
  }
  RIRegisterTParser(cl);
  RIRegisterTCollection(cl);
}

}  // namespace ps
