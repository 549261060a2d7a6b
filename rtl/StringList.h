// String lists: ordered lists of text items, positions from 0, each item with
// an optional associated object. Used for arguments, option values, script
// text, CSV lines and fields, and the script's PARAMETERS; scripts see them
// as TStrings and TStringList.
#pragma once

#include <vector>

#include "rtl/Objects.h"

namespace rtl {

class TStream;

// Raised by string list operations that break the list's own rules.
class EStringListError : public EListError {
 public:
  using EListError::EListError;
  static constexpr std::u16string_view SSortedListError = u"Operation not allowed on sorted list";
  static constexpr std::u16string_view SDuplicateString = u"String list does not allow duplicates";
};

// The abstract list. Descendants keep the items; everything else (text
// forms, names and values, searching, files and streams) is built here on
// the few storage members. Objects associated with items are not owned and
// never dereferenced: scripts store numbers in them as well.
class TStrings : public TPersistent {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // --- Storage: what a descendant provides --------------------------------
  virtual int Count() const = 0;
  // Raise "List index out of bounds (%d)" outside 0..Count-1.
  virtual const UnicodeString& Get(int index) const = 0;
  virtual TObject* GetObject(int index) const = 0;
  virtual void Put(int index, UnicodeString value) = 0;
  virtual void PutObject(int index, TObject* object) = 0;
  // Index 0..Count (Count appends).
  virtual void InsertObject(int index, UnicodeString item, TObject* object) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  // --- Items ------------------------------------------------------------
  const UnicodeString& Strings(int index) const { return Get(index); }
  const UnicodeString& operator[](int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  void PutObjects(int index, TObject* object) { PutObject(index, object); }

  // The position the item got (a sorted list places it in order).
  virtual int AddObject(UnicodeString item, TObject* object);
  int Add(UnicodeString item) { return AddObject(std::move(item), nullptr); }
  void Append(UnicodeString item) { Add(std::move(item)); }
  void Insert(int index, UnicodeString item) { InsertObject(index, std::move(item), nullptr); }
  // Adds the items and objects of `source` (which may be this list).
  virtual void AddStrings(const TStrings& source);
  virtual void Exchange(int index1, int index2);
  // Takes the item (and its object) out and puts it at newIndex.
  virtual void Move(int curIndex, int newIndex);
  // Same count and the same texts in the same order (letter case counts).
  bool Equals(const TStrings& other) const;

  // First item equal to the text without regard to letter case, or -1.
  virtual int IndexOf(std::u16string_view text) const;
  int IndexOfObject(const TObject* object) const;
  // First item whose name (text before the first "=") equals the name
  // without regard to letter case, or -1. Items without "=" have no name.
  int IndexOfName(std::u16string_view name) const;
  UnicodeString Names(int index) const;
  UnicodeString Values(std::u16string_view name) const;
  // A non-empty value replaces or appends "name=value"; an empty value
  // deletes the item.
  void SetValues(std::u16string_view name, std::u16string_view value);

  // --- Text forms ---------------------------------------------------------
  // Every item followed by CR LF.
  UnicodeString Text() const;
  UnicodeString GetText() const { return Text(); }
  // Replaces the items by the lines of the text (CR LF, CR or LF).
  void SetText(std::u16string_view text);
  UnicodeString CommaText() const;
  // Replaces the items by the comma-separated fields of the text.
  void SetCommaText(std::u16string_view text);

  // --- Files and streams --------------------------------------------------
  // Reads the whole file as text (byte order marks, the system code page)
  // and replaces the items by its lines.
  void LoadFromFile(const UnicodeString& fileName);
  // Writes Text in UTF-8; with a byte order mark when the system code page
  // is not UTF-8, so that the text reads back unchanged.
  void SaveToFile(const UnicodeString& fileName) const;
  // As LoadFromFile, from the stream's position to its end.
  void LoadFromStream(TStream& stream);
  // Writes Text in UTF-8 (without a byte order mark) at the stream's position.
  void SaveToStream(TStream& stream) const;

  // --- Updates ------------------------------------------------------------
  // Nested; a descendant hears of the first BeginUpdate and the last
  // EndUpdate through SetUpdateState. An EndUpdate without BeginUpdate is
  // ignored.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  void Assign(const TPersistent* source) override;
  void Assign(const TStrings& source) { Assign(static_cast<const TPersistent*>(&source)); }

 protected:
  TStrings() = default;
  TStrings(const TStrings& other) : TPersistent(other) {}
  TStrings& operator=(const TStrings&) { return *this; }

  virtual void SetUpdateState(bool updating) {}
  // Replaces all items by `items` (objects cleared), for the text setters.
  virtual void SetItems(std::vector<UnicodeString> items);
  void CheckIndex(int index) const;

 private:
  int FUpdateCount = 0;
};

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

// The list that keeps its items: optionally sorted (by the user's locale,
// without regard to letter case), with duplicate rules for sorted lists and
// change events. Copies are values: items, objects, Sorted and Duplicates
// are copied; event handlers are not.
class TStringList : public TStrings {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  TStringList() = default;
  explicit TStringList(std::vector<UnicodeString> items);
  TStringList(std::initializer_list<UnicodeString> items) : TStringList(std::vector<UnicodeString>(items)) {}
  TStringList(const TStringList& other);
  TStringList(TStringList&& other) noexcept;
  TStringList& operator=(const TStringList& other);
  TStringList& operator=(TStringList&& other) noexcept;

  int Count() const override { return static_cast<int>(FItems.size()); }
  const UnicodeString& Get(int index) const override;
  TObject* GetObject(int index) const override;
  // Raise "Operation not allowed on sorted list" on a sorted list.
  void Put(int index, UnicodeString value) override;
  void InsertObject(int index, UnicodeString item, TObject* object) override;
  void Exchange(int index1, int index2) override;
  void Move(int curIndex, int newIndex) override;

  void PutObject(int index, TObject* object) override;
  // On a sorted list: in order, after equal items; a duplicate is dropped
  // (dupIgnore: the existing item's index is returned) or refused with
  // "String list does not allow duplicates" (dupError).
  int AddObject(UnicodeString item, TObject* object) override;
  void Delete(int index) override;
  void Clear() override;
  int IndexOf(std::u16string_view text) const override;

  // Binary search on a sorted list (the first of equal items); a linear
  // search on an unsorted one. `index` receives the match, or where the
  // text would be inserted (Count on an unsorted list).
  bool Find(std::u16string_view text, int& index) const;
  // Stable: equal items keep their order, objects move with their items.
  void Sort();
  bool Sorted() const { return FSorted; }
  // Turning it on sorts the list.
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }

  // Fired before and after each change, or around a BeginUpdate/EndUpdate
  // block as a whole.
  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent handler) { FOnChange = std::move(handler); }
  const TNotifyEvent& OnChanging() const { return FOnChanging; }
  void SetOnChanging(TNotifyEvent handler) { FOnChanging = std::move(handler); }

  // On a sorted list, in one sort rather than item by item, with the same
  // result as adding them one by one; a refused duplicate changes nothing.
  void AddStrings(const TStrings& source) override;
  void Assign(const TPersistent* source) override;
  using TStrings::Assign;

  const std::vector<UnicodeString>& Items() const { return FItems; }

 protected:
  void SetUpdateState(bool updating) override;
  void SetItems(std::vector<UnicodeString> items) override;
  virtual void Changing();
  virtual void Changed();

 private:
  void CheckNotSorted() const;
  void InsertItem(int index, UnicodeString item, TObject* object);
  // Sorts `items` (with `objects`, empty when all are nil) and applies the
  // duplicates rule to all but the first `kept` (the list's own items), then
  // makes them the list's items.
  void SetSortedItems(std::vector<UnicodeString> items, std::vector<TObject*> objects, size_t kept);

  // Parallel vectors, so that Items() needs no copy. FObjects stays empty
  // (all objects nil) until an object is set: most lists never have one.
  std::vector<UnicodeString> FItems;
  std::vector<TObject*> FObjects;  // not owned
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  TNotifyEvent FOnChange;
  TNotifyEvent FOnChanging;
};

}  // namespace rtl
