#include "engine/imports/uPSR_classes.h"

#include "engine/imports/uPSR_std.h"
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

void RIRegisterTStrings(TPSRuntimeClassImporter& cl, bool streams) {
  using rtl::TStrings;
  auto& c = cl.Add<TStrings>();
  // Abstract: the class's own factory refuses, a descendant's makes it.
  c.ConstructorFn("Create", []() { return static_cast<TStrings*>(TStrings::StaticClass()->Create()); });
  c.Method("Add", [](TStrings* s, const UnicodeString& item) { return s->Add(item); });
  c.Method("Append", [](TStrings* s, const UnicodeString& item) { s->Append(item); });
  c.Method("AddStrings", [](TStrings* s, TStrings* other) { s->AddStrings(Required(other)); });
  c.Method("Clear", &TStrings::Clear);
  c.Method("Delete", &TStrings::Delete);
  c.Method("IndexOf", [](TStrings* s, const UnicodeString& item) { return s->IndexOf(item); });
  c.Method("Insert", [](TStrings* s, int32_t index, const UnicodeString& item) { s->Insert(index, item); });
  c.ReadProperty("Count", &TStrings::Count);
  c.Property("Text", &TStrings::Text, [](TStrings* s, const UnicodeString& v) { s->SetText(v); });
  c.Property("CommaText", &TStrings::CommaText, [](TStrings* s, const UnicodeString& v) { s->SetCommaText(v); });
  if (streams) {
    c.Method("LoadFromFile", &TStrings::LoadFromFile);
    c.Method("SaveToFile", &TStrings::SaveToFile);
  }
  c.Property(
      "Strings", [](TStrings* s, int32_t i) { return s->Get(i); },
      [](TStrings* s, int32_t i, const UnicodeString& v) { s->Put(i, v); });
  c.Property("Objects", &GetObjectRaw, &PutObjectRaw);
  c.Method("BeginUpdate", &TStrings::BeginUpdate);
  c.Method("EndUpdate", &TStrings::EndUpdate);
  c.Method("Equals", [](TStrings* s, TStrings* other) { return s->Equals(Required(other)); });
  c.Method("Exchange", &TStrings::Exchange);
  c.Method("IndexOfName", [](TStrings* s, const UnicodeString& name) { return s->IndexOfName(name); });
  if (streams) {
    c.Method("LoadFromStream", [](TStrings* s, rtl::TStream* stream) { s->LoadFromStream(Required(stream)); });
    c.Method("SaveToStream", [](TStrings* s, rtl::TStream* stream) { s->SaveToStream(Required(stream)); });
  }
  c.Method("Move", &TStrings::Move);
  c.Method("SetText", [](TStrings* s, const rtl::AnsiString& text) { s->SetText(rtl::Utf8ToUnicode(text)); });
  c.ReadProperty("Names", &TStrings::Names);
  c.Property(
      "Values", [](TStrings* s, const UnicodeString& name) { return s->Values(name); },
      [](TStrings* s, const UnicodeString& name, const UnicodeString& v) { s->SetValues(name, v); });
  c.Method("AddObject", [](TStrings* s, const UnicodeString& item, void* object) {
    return s->AddObject(item, static_cast<TObject*>(object));
  });
  // The text lives in the PChar value's own string block.
  c.Method("GetText", [](TStrings* s) { return rtl::UnicodeToUtf8(s->GetText()); });
  c.Method("IndexOfObject", [](TStrings* s, void* object) { return s->IndexOfObject(static_cast<TObject*>(object)); });
  c.Method("InsertObject", [](TStrings* s, int32_t index, const UnicodeString& item, void* object) {
    s->InsertObject(index, item, static_cast<TObject*>(object));
  });
}

void RIRegisterTStringList(TPSRuntimeClassImporter& cl) {
  using rtl::TStringList;
  auto& c = cl.Add<TStringList>();
  c.Constructor<>();
  c.Method("Find", [](TStringList* s, const UnicodeString& item, int32_t& index) {
    int found = 0;
    bool result = s->Find(item, found);
    index = found;
    return result;
  });
  c.Method("Sort", &TStringList::Sort);
  c.Property(
      "Duplicates", [](TStringList* s) { return static_cast<uint8_t>(s->Duplicates()); },
      [](TStringList* s, uint8_t v) {
        if (v > rtl::dupError) throw rtl::EConvertError("Invalid value for property Duplicates");
        s->SetDuplicates(static_cast<rtl::TDuplicates>(v));
      });
  c.Property("Sorted", &TStringList::Sorted, &TStringList::SetSorted);
  c.EventProperty("OnChange", &TStringList::OnChange, &TStringList::SetOnChange);
  c.EventProperty("OnChanging", &TStringList::OnChanging, &TStringList::SetOnChanging);
}

void RIRegisterTBits(TPSRuntimeClassImporter& cl) {
  using rtl::TBits;
  auto& c = cl.Add<TBits>();
  c.Constructor<>();
  c.Method("OpenBit", &TBits::OpenBit);
  c.Property("Bits", &TBits::Bits, &TBits::SetBits);
  c.Property("Size", &TBits::Size, &TBits::SetSize);
}

void RIRegisterTStream(TPSRuntimeClassImporter& cl) {
  using rtl::TStream;
  auto& c = cl.Add<TStream>();
  c.RegisterMethod(StreamTransfer(TTransfer::Read), "Read");
  c.RegisterMethod(StreamTransfer(TTransfer::Write), "Write");
  c.Method("Seek",
           [](TStream* s, int32_t offset, uint16_t origin) { return static_cast<int32_t>(s->Seek(offset, origin)); });
  c.RegisterMethod(StreamTransfer(TTransfer::ReadBuffer), "ReadBuffer");
  c.RegisterMethod(StreamTransfer(TTransfer::WriteBuffer), "WriteBuffer");
  c.Method("CopyFrom", [](TStream* s, TStream* source, int64_t count) {
    return static_cast<int32_t>(s->CopyFrom(Required(source), count));
  });
  c.Property(
      "Position", [](TStream* s) { return static_cast<int32_t>(s->Position()); },
      [](TStream* s, int32_t v) { s->SetPosition(v); });
  c.Property(
      "Size", [](TStream* s) { return static_cast<int32_t>(s->Size()); }, [](TStream* s, int32_t v) { s->SetSize(v); });
}

void RIRegisterTHandleStream(TPSRuntimeClassImporter& cl) {
  auto& c = cl.Add<rtl::THandleStream>();
  c.Constructor<int>();
  c.ReadProperty("Handle", &rtl::THandleStream::Handle);
}

void RIRegisterTFileStream(TPSRuntimeClassImporter& cl) {
  cl.Add<rtl::TFileStream>().Constructor<const UnicodeString&, uint16_t>();
}

void RIRegisterTCustomMemoryStream(TPSRuntimeClassImporter& cl) {
  using rtl::TCustomMemoryStream;
  auto& c = cl.Add<TCustomMemoryStream>();
  c.Method("SaveToStream", [](TCustomMemoryStream* s, rtl::TStream* to) { s->SaveToStream(Required(to)); });
  c.Method("SaveToFile", &TCustomMemoryStream::SaveToFile);
}

void RIRegisterTMemoryStream(TPSRuntimeClassImporter& cl) {
  using rtl::TMemoryStream;
  auto& c = cl.Add<TMemoryStream>();
  c.Constructor<>();
  c.Method("Clear", &TMemoryStream::Clear);
  c.Method("LoadFromStream", [](TMemoryStream* s, rtl::TStream* from) { s->LoadFromStream(Required(from)); });
  c.Method("LoadFromFile", &TMemoryStream::LoadFromFile);
  c.Method("SetSize", [](TMemoryStream* s, int32_t size) { s->SetSize(size); });
}

void RIRegisterTResourceStream(TPSRuntimeClassImporter& cl) {
  using rtl::TResourceStream;
  auto& c = cl.Add<TResourceStream>();
  c.ConstructorFn("Create", [](int32_t instance, const UnicodeString& name, const rtl::AnsiString& type) {
    return new TResourceStream(instance, name, rtl::Utf8ToUnicode(type));
  });
  c.ConstructorFn("CreateFromId", [](int32_t instance, int32_t id, const rtl::AnsiString& type) {
    return TResourceStream::CreateFromId(instance, id, rtl::Utf8ToUnicode(type));
  });
}

void RIRegisterTParser(TPSRuntimeClassImporter& cl) {
  using rtl::TParser;
  auto& c = cl.Add<TParser>();
  c.ConstructorFn("Create", [](rtl::TStream* stream) { return new TParser(Required(stream)); });
  c.Method("CheckToken", &TParser::CheckToken);
  c.Method("CheckTokenSymbol", [](TParser* p, const UnicodeString& s) { p->CheckTokenSymbol(s); });
  c.Method("Error", &TParser::Error);
  c.Method("ErrorStr", &TParser::ErrorStr);
  c.Method("HexToBinary", [](TParser* p, rtl::TStream* stream) { p->HexToBinary(Required(stream)); });
  c.Method("NextToken", &TParser::NextToken);
  c.Method("SourcePos", [](TParser* p) { return static_cast<int32_t>(p->SourcePos()); });
  c.Method("TokenComponentIdent", &TParser::TokenComponentIdent);
  c.Method("TokenFloat", &TParser::TokenFloat);
  c.Method("TokenInt", &TParser::TokenInt);
  c.Method("TokenString", &TParser::TokenString);
  c.Method("TokenSymbolIs", [](TParser* p, const UnicodeString& s) { return p->TokenSymbolIs(s); });
  c.ReadProperty("SourceLine", &TParser::SourceLine);
  c.ReadProperty("Token", &TParser::Token);
}

void RIRegisterTCollection(TPSRuntimeClassImporter& cl) {
  using rtl::TCollection;
  using rtl::TCollectionItem;
  auto& item = cl.Add<TCollectionItem>();
  item.ConstructorFn("Create", [](TCollection* collection) { return new TCollectionItem(collection); });
  item.Property("Collection", &TCollectionItem::Collection, &TCollectionItem::SetCollection);
  item.ReadProperty("Id", &TCollectionItem::ID);
  item.Property("Index", &TCollectionItem::Index, &TCollectionItem::SetIndex);
  item.Property("DisplayName", &TCollectionItem::DisplayName, &TCollectionItem::SetDisplayName);
  auto& c = cl.Add<TCollection>();
  c.Method("Owner", &TCollection::Owner);
  c.Method("Add", &TCollection::Add);
  c.Method("BeginUpdate", &TCollection::BeginUpdate);
  c.Method("Clear", &TCollection::Clear);
  c.Method("Delete", &TCollection::Delete);
  c.Method("EndUpdate", &TCollection::EndUpdate);
  c.Method("FindItemId", &TCollection::FindItemId);
  c.Method("Insert", &TCollection::Insert);
  c.ReadProperty("Count", &TCollection::Count);
  c.Property("Items", &TCollection::Items, &TCollection::SetItems);
  cl.Add<rtl::TOwnedCollection>();
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
