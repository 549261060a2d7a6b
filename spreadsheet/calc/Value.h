// The values formulas compute with: blank, number, text, Boolean, error,
// arrays of those, and references to areas of cells.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "spreadsheet/calc/Formula.h"

namespace spreadsheet::calc {

// A rectangle of cells on one sheet (sheet index in the workbook).
struct TArea {
  int32_t Sheet = -1;
  uint32_t Row1 = 0, Column1 = 0, Row2 = 0, Column2 = 0;
  uint32_t Rows() const { return Row2 - Row1 + 1; }
  uint32_t Columns() const { return Column2 - Column1 + 1; }
  bool IsCell() const { return Row1 == Row2 && Column1 == Column2; }
};

struct TArrayValue;

struct TValue {
  enum TKind : uint8_t { vkBlank, vkNumber, vkText, vkBoolean, vkError, vkArray, vkReference };
  TKind Kind = vkBlank;
  TErrorValue Err = TErrorValue::None;
  double Number = 0;  // also a Boolean's 0 or 1
  std::string String;
  std::shared_ptr<const TArrayValue> Values;        // Array
  TArea Area;                                       // Reference: the first (usually only) area
  std::shared_ptr<const std::vector<TArea>> Areas;  // Reference: every area of a union

  static TValue FromNumber(double n) {
    TValue v;
    v.Kind = vkNumber;
    v.Number = n;
    return v;
  }
  static TValue FromText(std::string s) {
    TValue v;
    v.Kind = vkText;
    v.String = std::move(s);
    return v;
  }
  static TValue FromBoolean(bool b) {
    TValue v;
    v.Kind = vkBoolean;
    v.Number = b ? 1 : 0;
    return v;
  }
  static TValue FromError(TErrorValue e) {
    TValue v;
    v.Kind = vkError;
    v.Err = e;
    return v;
  }
  static TValue FromArea(const TArea& area) {
    TValue v;
    v.Kind = vkReference;
    v.Area = area;
    return v;
  }

  bool IsBlank() const { return Kind == vkBlank; }
  bool IsError() const { return Kind == vkError; }
  bool IsNumber() const { return Kind == vkNumber; }
  bool IsText() const { return Kind == vkText; }
  bool IsBoolean() const { return Kind == vkBoolean; }
  bool IsScalar() const { return Kind <= vkError; }
  size_t AreaCount() const { return Areas ? Areas->size() : 1; }
  const TArea& AreaAt(size_t i) const { return Areas ? (*Areas)[i] : Area; }
};

struct TArrayValue {
  uint32_t Rows = 0, Columns = 0;
  std::vector<TValue> Cells;  // row by row
  const TValue& At(uint32_t row, uint32_t column) const { return Cells[static_cast<size_t>(row) * Columns + column]; }
};

// Text as upper-case code points, for comparing without regard to letter
// case beyond ASCII ("ä" equals "Ä"); IsAscii tells when bytes will do.
std::u32string FoldedText(std::string_view utf8);
inline bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// A formula's result as a number's text: up to 15 significant digits, as the
// application turns numbers into text ("0.333333333333333", "1E+20").
std::string NumberToText(double value);

}  // namespace spreadsheet::calc
