// Calls from scripts into a host class, run through TPSScript as hosts run
// scripts: 1,000,000 method calls and 1,000,000 property reads, each timed
// against the same loop with a plain assignment in its body.
#include <cstdio>
#include <ctime>

#include "engine/uPSComponent_Default.h"

using namespace ps;

namespace {

constexpr int Turns = 1'000'000;

class TCounter : public rtl::TObject {
 public:
  static rtl::TClass StaticClass() {
    static const rtl::TMetaClass meta(u"TCounter", rtl::TObject::StaticClass(), &rtl::CreateInstance<TCounter>);
    return &meta;
  }
  rtl::TClass ClassType() const override { return StaticClass(); }
  void Inc() { ++FValue; }
  int32_t Value() const { return FValue; }
  int32_t FValue = 0;
};

// Processor time of one run of the body in a loop of Turns; -1 on failure.
double Time(const char* body, TCounter& counter) {
  TPSImport_Classes classes;
  TPSScript script;
  script.Plugins().Add(&classes);
  script.OnCompImport = [](rtl::TObject*, TPSPascalCompiler* comp) {
    TPSCompileTimeClass* c = comp->AddClassN(comp->FindClass("TObject"), "TCounter");
    c->RegisterMethod("procedure Inc");
    c->RegisterProperty("Value", "Integer", iptR);
  };
  script.OnExecImport = [](rtl::TObject*, TPSExec*, TPSRuntimeClassImporter* ri) {
    auto& c = ri->Add<TCounter>();
    c.Method("Inc", &TCounter::Inc);
    c.ReadProperty("Value", &TCounter::Value);
  };
  script.OnCompile = [](TPSScript* s) { s->AddRegisteredVariable("C", "TCounter"); };
  script.OnExecute = [&counter](TPSScript* s) { s->SetVarToInstance("C", &counter); };
  std::string text = "var I, S: Integer;\nbegin\n  for I := 1 to " + std::to_string(Turns) + " do " + body + ";\nend.";
  script.Script().SetText(rtl::Utf8ToUnicode(text));
  if (!script.Compile()) {
    for (int i = 0; i < script.CompilerMessageCount(); ++i)
      std::printf("%s\n", rtl::UnicodeToUtf8(script.CompilerErrorToStr(i)).c_str());
    return -1;
  }
  std::clock_t start = std::clock();  // processor time: the machine may be shared
  bool ok = script.Execute();
  double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
  if (!ok) {
    std::printf("run failed: %s\n", rtl::UnicodeToUtf8(script.ExecErrorToString()).c_str());
    return -1;
  }
  return seconds;
}

}  // namespace

int main() {
  TCounter counter;
  double baseline = Time("S := I", counter);
  double calls = Time("C.Inc", counter);
  double reads = Time("S := C.Value", counter);
  if (baseline < 0 || calls < 0 || reads < 0) return 1;
  if (counter.FValue != Turns) std::printf("counter is %d, expected %d\n", counter.FValue, Turns);
  std::printf("loop with assignment: %.3f s\n", baseline);
  std::printf("method call C.Inc:     %.3f s, %.0f calls/s (%.0f calls/s net of the loop)\n", calls, Turns / calls,
              calls > baseline ? Turns / (calls - baseline) : 0.0);
  std::printf("property read C.Value: %.3f s, %.0f reads/s (%.0f reads/s net of the loop)\n", reads, Turns / reads,
              reads > baseline ? Turns / (reads - baseline) : 0.0);
  return 0;
}
