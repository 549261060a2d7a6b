// An ordered list of text items, positions from 0: arguments, option values,
// script text, CSV lines and fields, and the script's PARAMETERS.
#pragma once

#include <vector>

#include "rtl/SysUtils.h"

namespace rtl {

class TStringList {
 public:
  TStringList() = default;
  explicit TStringList(std::vector<UnicodeString> items) : FItems(std::move(items)) {}
  TStringList(std::initializer_list<UnicodeString> items) : FItems(items) {}

  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises "List index out of bounds (%d)" outside 0..Count-1.
  const UnicodeString& Strings(int index) const;
  void Put(int index, UnicodeString value);
  const UnicodeString& operator[](int index) const { return Strings(index); }

  int Add(UnicodeString item);
  void Insert(int index, UnicodeString item);
  void Delete(int index);
  void Clear() { FItems.clear(); }
  void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);
  void Assign(const TStringList& source) { FItems = source.FItems; }
  void AddStrings(const TStringList& source);
  bool Equals(const TStringList& other) const { return FItems == other.FItems; }

  // First item equal to the text without regard to letter case, or -1.
  int IndexOf(std::u16string_view text) const;
  // First item whose name (text before the first "=") equals the name
  // without regard to letter case, or -1. Items without "=" have no name.
  int IndexOfName(std::u16string_view name) const;
  UnicodeString Names(int index) const;
  UnicodeString Values(std::u16string_view name) const;
  // A non-empty value replaces or appends "name=value"; an empty value
  // deletes the item.
  void SetValues(std::u16string_view name, std::u16string_view value);

  // Every item followed by CR LF.
  UnicodeString Text() const;
  // Replaces the items by the lines of the text (CR LF, CR or LF).
  void SetText(std::u16string_view text);
  UnicodeString CommaText() const;
  // Replaces the items by the comma-separated fields of the text.
  void SetCommaText(std::u16string_view text);

  const std::vector<UnicodeString>& Items() const { return FItems; }

 private:
  void CheckIndex(int index) const;

  std::vector<UnicodeString> FItems;
};

}  // namespace rtl
