#include "ScriptHost.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "FuzzSupport.h"
#include "data/qovData.h"
#include "job/qovScript.h"
#include "rtl/DelimitedText.h"
#include "rtl/Locale.h"
#include "rtl/TextFile.h"
#include "spreadsheet/NativeServer.h"
#include "workbook/qovDocument.h"

namespace fuzz {

namespace {

std::string& TemplateBytes() {
  static std::string bytes;
  return bytes;
}

spreadsheet::TNativeServer& Server() {
  static spreadsheet::TNativeServer server;
  return server;
}

// The job's host, with Writeln and Print (output dropped) added to its
// declarations: the engine's test scripts use them.
class TFuzzScript : public job::TqovScript {
 public:
  explicit TFuzzScript(std::string_view source) {
    SetScriptText(rtl::TStringList(rtl::SplitLines(rtl::DecodeText(source))));
    SetServer(&Server());
  }
  void LimitRun() {
    FInstructions = 0;
    Engine().OnLine = [this](ps::TPSScript* script) {
      if (++FInstructions == InstructionBudget) script->Stop();
    };
  }

 protected:
  void HandleCompile(ps::TPSScript* Sender) override {
    TqovScript::HandleCompile(Sender);
    auto drop = [](const rtl::UnicodeString&) {};
    Sender->AddFunction(drop, "procedure Writeln(s: String);");
    Sender->AddFunction(drop, "procedure Print(s: String);");
  }

 private:
  uint64_t FInstructions = 0;
};

// What a job hands the script; made before the host and freed after it, as
// the job does.
struct TJobObjects {
  data::TqovData Table{rtl::TStringList{u"Customer,Item,Quantity,Price,Date", u"Ana,Widget,3,1.5,2026-11-03",
                                        u"\"Bo, Ltd\",Gadget,,2,", u"cara,widget,12,0.25,03/11/2026"},
                       true, u','};
  rtl::TStringList Parameters{u"November 2026", u"1003"};
  std::unique_ptr<workbook::TqovDocument> Document;

  ~TJobObjects() {
    if (Document) Refusable([&] { Document->Close(); });
  }
  void Hand(job::TqovScript& host) {
    host.SetData(&Table);
    host.SetParameters(Parameters);
    host.SetDocument(Document.get());
  }
};

bool NamesDocument(std::string_view source) {
  constexpr std::string_view name = "document";
  return std::search(source.begin(), source.end(), name.begin(), name.end(),
                     [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; }) != source.end();
}

}  // namespace

void InitScriptHost() {
  rtl::LoadFormatSettingsFromLocale();
  std::ifstream in(KORVA_SOURCE_DIR "/examples/template.xlsx", std::ios::binary);
  TemplateBytes().assign(std::istreambuf_iterator<char>(in), {});
}

void RunScript(std::string_view source) {
  ClearScratchDir();
  TJobObjects objects;
  if (NamesDocument(source) && !TemplateBytes().empty()) {
    const std::string path = ScratchDir() + "/book.xlsx";
    WriteFile(path, TemplateBytes());
    Refusable(
        [&] { objects.Document = std::make_unique<workbook::TqovDocument>(&Server(), rtl::Utf8ToUnicode(path)); });
  }
  TFuzzScript host(source);
  objects.Hand(host);
  host.LimitRun();
  Refusable([&] { host.Execute(); });
}

void RunModule(std::string_view module) {
  // One host for the process: preparing the executor (a compile with every
  // declaration of the job) costs far more than loading and running a
  // module, and loading starts from an empty executor whatever came before.
  static TJobObjects* objects = new TJobObjects;
  static TFuzzScript* host = [] {
    auto* prepared = new TFuzzScript("begin end.");
    objects->Hand(*prepared);
    prepared->Engine().SetUseDebugInfo(false);
    if (!prepared->Engine().Compile()) std::abort();
    return prepared;
  }();
  host->SetParameters(objects->Parameters);
  if (!host->Engine().Exec()->LoadData(module)) return;
  host->LimitRun();
  Refusable([&] { host->Engine().Execute(); });
}

std::string CompileScript(std::string_view source) {
  TJobObjects objects;
  TFuzzScript host(source);
  objects.Hand(host);
  std::string module;
  if (host.Engine().Compile()) host.Engine().GetCompiled(module);
  return module;
}

}  // namespace fuzz
