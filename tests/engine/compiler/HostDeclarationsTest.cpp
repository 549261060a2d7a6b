// The declarations the program's host bindings make compile as registered:
// the document, data and regular-expression classes and the host functions.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"

namespace ps {
namespace {

using test::CompileScript;

struct Prop {
  const char* name;
  const char* type;
  TPSPropType access;
};

void RegisterClass(TPSPascalCompiler& c, const char* name, std::initializer_list<const char*> methods,
                   std::initializer_list<Prop> props, const char* defaultProperty = nullptr) {
  TPSCompileTimeClass* cls = c.AddClassN(c.FindClass("TOBJECT"), name);
  for (const char* m : methods) EXPECT_TRUE(cls->RegisterMethod(m)) << name << ": " << m;
  for (auto& p : props) {
    cls->RegisterProperty(p.name, p.type, p.access);
    EXPECT_TRUE(cls->Property_Find(p.name)) << name << "." << p.name << ": " << p.type;
  }
  if (defaultProperty) cls->SetDefaultPropery(defaultProperty);
}

// Stand-ins for the standard classes a later part declares for real.
void DeclareStandardClassesByName(TPSPascalCompiler& c) {
  TPSCompileTimeClass* obj = c.AddClassN(nullptr, "TObject");
  obj->RegisterMethod("constructor Create");
  obj->RegisterMethod("procedure Free");
  c.AddClassN(c.AddClassN(obj, "TPersistent"), "TStrings");
  c.AddClassN(c.FindClass("TStrings"), "TStringList");
  c.AddTypeS("TNotifyEvent", "procedure (Sender: TObject)");
}

void RegisterDocument(TPSPascalCompiler& c) {
  c.AddClassN(c.FindClass("TOBJECT"), "TqovDocument");
  c.AddClassN(c.FindClass("TOBJECT"), "TqovSheet");
  RegisterClass(c, "TqovDocument",
                {"Constructor Create( AFileName : string)", "Procedure DeleteSheet( Index: Integer)",
                 "Procedure InsertSheet( Index: Integer)"},
                {{"Sheet", "TqovSheet Integer", iptR},
                 {"SheetByName", "TqovSheet string", iptR},
                 {"SheetCount", "Integer", iptR},
                 {"Visible", "Boolean", iptRW}});
  RegisterClass(c, "TqovSheet",
                {"Procedure AutoFitColumn( Index : Integer)", "Procedure InsertRow( Index : Integer)",
                 "Procedure InsertColumn( Index : Integer)"},
                {{"Name", "string", iptR},
                 {"Cell", "Variant Integer Integer", iptRW},
                 {"CellByName", "Variant string", iptRW},
                 {"CellLocked", "Boolean Integer Integer", iptRW},
                 {"SheetProtected", "Boolean", iptRW}});
}

void RegisterData(TPSPascalCompiler& c) {
  c.AddClassN(c.FindClass("TOBJECT"), "TqovData");
  c.AddClassN(c.FindClass("TOBJECT"), "TqovDataRow");
  RegisterClass(c, "TqovData",
                {"Constructor Create( AFileName : string; AHasHeaderRow : Boolean; AFieldDelimiter: Char)",
                 "Function LocateRow( KeyColumn : Integer; KeyValue : string; RowOffset : Integer) : Integer",
                 "Function GetRowByHeader( const HeaderName, KeyValue : string; RowOffset : Integer) : TqovDataRow"},
                {{"FieldDelimiter", "Char", iptR},
                 {"HasHeaderRow", "Boolean", iptR},
                 {"Header", "string Integer", iptR},
                 {"HeaderCount", "Integer", iptR},
                 {"HeaderIndex", "Integer string", iptR},
                 {"Row", "TqovDataRow Integer", iptR},
                 {"RowCount", "Integer", iptR},
                 {"Cell", "string Integer Integer", iptR}},
                "Row");
  RegisterClass(c, "TqovDataRow", {}, {{"Column", "string Integer", iptR}, {"ColumnCount", "Integer", iptR}}, "Column");
}

void RegisterRegularExpressions(TPSPascalCompiler& c) {
  c.AddTypeS("TPerlRegExOption",
             "( preCaseLess, preMultiLine, preSingleLine, preExtended, preAnchored, preDollarEndOnly, preExtra, "
             "preUnGreedy )");
  c.AddTypeS("TPerlRegExOptions", "set of TPerlRegExOption");
  c.AddTypeS("TPerlRegExSingleState", "( preNotBOL, preNotEOL, preNotEmpty )");
  c.AddTypeS("TPerlRegExState", "set of TPerlRegExSingleState");
  c.AddConstantN("MAX_SUBEXPRESSIONS", "LongInt")->SetInt(99);
  c.AddTypeS("TPerlRegExReplaceEvent", "Procedure ( Sender : TObject; var ReplaceWith : string)");
  RegisterClass(c, "TPerlRegEx",
                {"Function EscapeRegExChars( const S : string) : string", "Procedure Compile", "Procedure Study",
                 "Function Match : Boolean", "Function MatchAgain : Boolean", "Function Replace : string",
                 "Function ReplaceAll : Boolean", "Function ComputeReplacement : string",
                 "Procedure StoreSubExpressions", "Function NamedSubExpression( const SEName : string) : Integer",
                 "Procedure Split( Strings : TStrings; Limit : Integer)"},
                {{"Compiled", "Boolean", iptR},
                 {"FoundMatch", "Boolean", iptR},
                 {"Studied", "Boolean", iptR},
                 {"MatchedExpression", "string", iptR},
                 {"MatchedExpressionLength", "Integer", iptR},
                 {"MatchedExpressionOffset", "Integer", iptR},
                 {"Start", "Integer", iptRW},
                 {"Stop", "Integer", iptRW},
                 {"State", "TPerlRegExState", iptRW},
                 {"SubExpressionCount", "Integer", iptR},
                 {"SubExpressions", "string Integer", iptR},
                 {"SubExpressionLengths", "Integer Integer", iptR},
                 {"SubExpressionOffsets", "Integer Integer", iptR},
                 {"Subject", "string", iptRW},
                 {"Options", "TPerlRegExOptions", iptRW},
                 {"RegEx", "string", iptRW},
                 {"Replacement", "string", iptRW},
                 {"OnMatch", "TNotifyEvent", iptRW},
                 {"OnReplace", "TPerlRegExReplaceEvent", iptRW}});
  RegisterClass(c, "TPerlRegExList",
                {"Constructor Create", "Function Add( ARegEx : TPerlRegEx) : Integer", "Procedure Clear",
                 "Procedure Delete( Index : Integer)", "Function IndexOf( ARegEx : TPerlRegEx) : Integer",
                 "Procedure Insert( Index : Integer; ARegEx : TPerlRegEx)", "Function Match : Boolean",
                 "Function MatchAgain : Boolean"},
                {{"RegEx", "TPerlRegEx Integer", iptRW},
                 {"Count", "Integer", iptR},
                 {"Subject", "string", iptRW},
                 {"Start", "Integer", iptRW},
                 {"Stop", "Integer", iptRW},
                 {"MatchedRegEx", "TPerlRegEx", iptR}});
}

void RegisterHostFunctions(TPSPascalCompiler& c) {
  for (const char* decl : {
           "function RoundToEx(Value : double; Znamenke : Integer): Double;",
           "function Format( const Format : string; const Args : array of const) : string",
           "function StrToFloatEx(const s : string): Double;",
           "function StrToFloatDefEx(const s : string; Default : double): Double;",
           "function ReplaceStr(const AText, AFromText, AToText: string): string;",
           "function FormatFloat(const Format: string; Value: Extended): string;",
           "function LeftStr(const AText: AnsiString; const ACount: Integer): AnsiString;",
           "function RightStr(const AText: AnsiString; const ACount: Integer): AnsiString;",
           "function MidStr(const AText: AnsiString; const AStart, ACount: Integer): AnsiString;",
           "procedure OutputDebugString(s: string)",
           "function ApplicationDir: string;",
           "function ApplicationName: string;",
       })
    EXPECT_NO_THROW(c.AddNativeFunction(decl)) << decl;
  for (auto [name, type] : {std::pair{"DOCUMENT", "TQOVDOCUMENT"}, {"DATA", "TQOVDATA"}, {"PARAMETERS", "TSTRINGLIST"}})
    c.AddUsedVariableN(name, type)->FExportName = true;
}

TEST(HostDeclarations, TheProgramsBindingsRegisterAndCompileAgainstAScript) {
  TPSPascalCompiler c;
  auto r = CompileScript(
      "var Options: TPerlRegExOptions; Handler: TPerlRegExReplaceEvent; Rows: TqovDataRow;\nbegin end.",
      [](TPSPascalCompiler& comp) {
        DeclareStandardClassesByName(comp);
        RegisterRegularExpressions(comp);
        RegisterDocument(comp);
        RegisterData(comp);
        RegisterHostFunctions(comp);
        EXPECT_EQ(comp.MsgCount(), 0);
        auto* options = static_cast<TPSSetType*>(ResolveTypeLink(comp.FindType("TPerlRegExOptions")));
        EXPECT_EQ(options->BitSize(), 8u);
        auto* replace = static_cast<TPSProceduralType*>(comp.FindType("TPerlRegExReplaceEvent"));
        ASSERT_EQ(replace->FProcDef.ParamCount(), 2);
        EXPECT_EQ(replace->FProcDef.FParams[1].FMode, pmInOut);
        EXPECT_EQ(comp.FindClass("TqovData")->Property_Find("")->FName, "ROW");
        EXPECT_EQ(comp.FindClass("TqovDataRow")->Property_Find("")->FName, "COLUMN");
        EXPECT_EQ(comp.FindClass("TqovDocument")->Property_Find(""), nullptr);
        EXPECT_EQ(comp.GetConstant("preUnGreedy")->FValue.FInt, 7);
      },
      &c);
  EXPECT_TRUE(r.ok) << r.Messages();
  // The three script variables are unused; the host's are marked used.
  EXPECT_EQ(r.messages.size(), 3u) << r.Messages();
}

TEST(HostDeclarations, StandardDeclarationsAreThereForEveryCompile) {

  auto r = CompileScript("const V = varUString; E = erCustomError; begin end.", [](TPSPascalCompiler& c) {
    for (const char* name : {"IntToStr", "StrGet", "IDispatchInvoke", "!ASSIGNED", "!NOTIFICATIONVARIANTGET",
                             "!NOTIFICATIONVARIANTSET", "GetArrayLength", "SizeOf"})
      EXPECT_TRUE(c.FindRegProc(name)) << name;
    TPSRegProc* setLength = c.FindRegProc("SetLength");
    ASSERT_EQ(setLength->FDecl.ParamCount(), 2);
    EXPECT_EQ(setLength->FDecl.FParams[0].FType, nullptr);
    EXPECT_EQ(setLength->FDecl.FParams[0].FMode, pmInOut);
    EXPECT_EQ(setLength->FImportDecl, std::string("\0\x01\0", 3));
    EXPECT_EQ(c.GetConstant("varUString")->FValue.FInt, 258);
    EXPECT_EQ(static_cast<TPSEnumType*>(c.FindType("TIFException"))->FHighValue, 24u);
    EXPECT_TRUE(c.FindInterface("IDispatch"));
    EXPECT_EQ(ResolveTypeLink(c.FindType("Integer"))->FName, "LONGINT");
    EXPECT_EQ(ResolveTypeLink(c.FindType("String"))->FBaseType, btUnicodeString);
  });
  EXPECT_TRUE(r.ok) << r.Messages();
}

}  // namespace
}  // namespace ps
