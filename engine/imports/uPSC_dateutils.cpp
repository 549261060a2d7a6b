#include "engine/imports/uPSC_dateutils.h"

namespace ps {

void RegisterDateTimeLibrary_C(TPSPascalCompiler* S) {
  // Exported by name: the executor turns a value of this type into a date
  // variant (type 7), so it reaches a cell as a date, not as a number.
  if (!S->FindType("TDateTime")) S->AddType("TDateTime", btDouble)->FExportName = true;
  for (const char* decl : {
           "function EncodeDate(Year, Month, Day: Word): TDateTime;",
           "function EncodeTime(Hour, Min, Sec, MSec: Word): TDateTime;",
           "function TryEncodeDate(Year, Month, Day: Word; var Date: TDateTime): Boolean;",
           "function TryEncodeTime(Hour, Min, Sec, MSec: Word; var Time: TDateTime): Boolean;",
           "procedure DecodeDate(const DateTime: TDateTime; var Year, Month, Day: Word);",
           "procedure DecodeTime(const DateTime: TDateTime; var Hour, Min, Sec, MSec: Word);",
           "function DayOfWeek(const DateTime: TDateTime): Word;",
           "function Date: TDateTime;",
           "function Time: TDateTime;",
           "function Now: TDateTime;",
           "function DateTimeToUnix(D: TDateTime): Int64;",
           "function UnixToDateTime(U: Int64): TDateTime;",
           "function DateToStr(D: TDateTime): String;",
           "function StrToDate(const s: String): TDateTime;",
           "function FormatDateTime(const fmt: String; D: TDateTime): String;",
       })
    S->AddFunction(decl);
}

}  // namespace ps
