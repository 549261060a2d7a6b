// A small command-line option library: options claim arguments from the
// front of the list, whatever nobody claims is left over, and every option
// prints its own help line wrapped to an 80-column console. Nothing a parser
// sees is an error to it.
#pragma once

#include <memory>
#include <ostream>
#include <variant>
#include <vector>

#include "rtl/StringList.h"

namespace cli {

using rtl::TStringList;
using rtl::UnicodeString;

class TOptionParser;

// The value of an option as the program reads it: a flag or a text.
using TOptionValue = std::variant<bool, UnicodeString>;

class TOption {
 public:
  // Short forms are case-sensitive and long forms case-insensitive unless
  // the four-argument form says otherwise. A short form of 0 means none; an
  // empty long form means none.
  TOption(char16_t AShort, UnicodeString ALong) : TOption(AShort, std::move(ALong), true, false) {}
  TOption(char16_t AShort, UnicodeString ALong, bool AShortCaseSensitive, bool ALongCaseSensitive);
  virtual ~TOption() = default;

  // Claims the first argument(s) of the list when they are this option.
  virtual bool TryConsume(TStringList& args) = 0;
  virtual TOptionValue ReadValue() const = 0;
  virtual void WriteValue(const TOptionValue& value) = 0;

  char16_t ShortForm() const { return FShort; }
  void SetShortForm(char16_t value) { FShort = value; }
  const UnicodeString& LongForm() const { return FLong; }
  void SetLongForm(UnicodeString value) { FLong = std::move(value); }
  bool ShortCaseSensitive() const { return FShortSens; }
  void SetShortCaseSensitive(bool value) { FShortSens = value; }
  bool LongCaseSensitive() const { return FLongSens; }
  void SetLongCaseSensitive(bool value) { FLongSens = value; }
  const UnicodeString& Explanation() const { return FExplanation; }
  void SetExplanation(UnicodeString value) { FExplanation = std::move(value); }
  bool WasSpecified() const { return FWasSpecified; }
  TOptionValue Value() const { return ReadValue(); }
  void SetValue(const TOptionValue& value) { WriteValue(value); }

  // Width of the option's forms in the help listing.
  int GetOptionWidth() const;
  // Writes the option's help line(s) with explanations starting after a
  // column of AOptWidth + 4 characters.
  void WriteExplanation(int AOptWidth, std::ostream& out) const;

 protected:
  friend class TOptionParser;

  UnicodeString ShortPattern() const;
  UnicodeString LongPattern() const;
  // The argument equals the pattern, or starts with it when `prefix` is set,
  // under the form's case rule.
  bool MatchesShort(const UnicodeString& arg, bool prefix) const;
  bool MatchesLong(const UnicodeString& arg, bool prefix) const;

  char16_t FShort;
  UnicodeString FLong;
  bool FShortSens;
  bool FLongSens;
  UnicodeString FExplanation;
  bool FWasSpecified = false;
  TOptionParser* FParser = nullptr;  // not owned: the parser owns this option
};

class TBoolOption : public TOption {
 public:
  using TOption::TOption;
  bool TryConsume(TStringList& args) override;
  TOptionValue ReadValue() const override { return WasSpecified(); }
  void WriteValue(const TOptionValue&) override {}
  bool TurnedOn() const { return WasSpecified(); }
};

class TValueOption : public TOption {
 public:
  using TOption::TOption;
  bool TryConsume(TStringList& args) override;
  // Offered the text of a value: stores it and returns true, or refuses it.
  virtual bool AcceptValue(const UnicodeString& AValue) = 0;
};

class TStringOption : public TValueOption {
 public:
  using TValueOption::TValueOption;
  TOptionValue ReadValue() const override { return FValue; }
  void WriteValue(const TOptionValue& value) override;
  bool AcceptValue(const UnicodeString& AValue) override {
    FValue = AValue;
    return true;
  }
  const UnicodeString& StringValue() const { return FValue; }
  void SetStringValue(UnicodeString value) { FValue = std::move(value); }

 private:
  UnicodeString FValue;
};

class TStringOptionList : public TValueOption {
 public:
  using TValueOption::TValueOption;
  // The collected values as one text, each followed by CR LF.
  TOptionValue ReadValue() const override { return FValues.Text(); }
  void WriteValue(const TOptionValue& value) override;
  bool AcceptValue(const UnicodeString& AValue) override {
    FValues.Add(AValue);
    return true;
  }
  const TStringList& Values() const { return FValues; }

 private:
  TStringList FValues;
};

class TOptionParser {
 public:
  // Takes the process's command-line arguments, without the program name.
  TOptionParser();
  // Takes the given arguments; a null list means the process's arguments.
  explicit TOptionParser(const TStringList* AParams);
  virtual ~TOptionParser();

  // The parser owns the option from now on.
  TOption* AddOption(std::unique_ptr<TOption> AOption);
  template <class T>
  T* Add(std::unique_ptr<T> option) {
    T* raw = option.get();
    AddOption(std::move(option));
    return raw;
  }

  void ParseOptions();
  void WriteExplanations(std::ostream& out) const;

  const TStringList& LeftList() const { return FLeftList; }
  int OptionsCount() const { return static_cast<int>(FOptions.size()); }
  TOption* Options(int index) const;
  const UnicodeString& ShortOptionStart() const { return FShortOptionChar; }
  void SetShortOptionStart(char16_t value) { FShortOptionChar = UnicodeString(1, value); }
  const UnicodeString& LongOptionStart() const { return FLongOptionString; }
  void SetLongOptionStart(UnicodeString value) { FLongOptionString = std::move(value); }

 private:
  TStringList FParams;
  std::vector<std::unique_ptr<TOption>> FOptions;
  TStringList FLeftList;
  UnicodeString FShortOptionChar = u"-";
  UnicodeString FLongOptionString = u"--";
};

// Wraps text to `maxCol` characters per line, breaking after blanks, hyphens
// and tabs outside quotes, with CR LF as the line break. Words longer than a
// line are not split.
UnicodeString WrapText(std::u16string_view text, int maxCol);

// The process's command-line arguments without the program name.
TStringList ProcessArguments();
// Remembers argv for ProcessArguments; called once by the entry.
void SetProcessArguments(int argc, char** argv);

}  // namespace cli
