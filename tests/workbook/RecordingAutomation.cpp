#include "RecordingAutomation.h"

namespace workbook::testing {

using rtl::Variant;

std::vector<std::string> TRecorder::Lines(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : Log)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

Variant TRecorder::Object(const std::string& path) { return Variant::FromDispatch(new TRecordingObject(this, path)); }

std::string DescribeArgument(const Variant& v) {
  std::string type = rtl::UnicodeToUtf8(rtl::VarTypeAsText(v.VType()));
  if (v.VType() == rtl::varDispatch) {
    auto* object = dynamic_cast<TRecordingObject*>(v.VDispatch());
    return type + " " + (object ? object->Path() : "?");
  }
  return type + " " + rtl::UnicodeToUtf8(v.AsUnicodeString());
}

Variant TRecordingObject::Invoke(std::u16string_view name, const rtl::TInvocation& call) {
  std::string path = FPath + "." + rtl::UnicodeToUtf8(name);
  std::string kind = call.IsPut()                             ? "put"
                     : call.Flags == rtl::DispatchPropertyGet ? "get"
                     : call.Flags == rtl::DispatchMethod      ? "call"
                                                              : "read";
  std::string line = kind + " " + path;
  std::string values;
  if (!call.Args.empty() || !call.Named.empty()) {
    line += "(";
    bool first = true;
    for (const Variant& arg : call.Args) {
      line += (first ? "" : ", ") + DescribeArgument(arg);
      values += (first ? "" : ",") + rtl::UnicodeToUtf8(arg.AsUnicodeString());
      first = false;
    }
    for (const auto& named : call.Named) {
      line += (first ? "" : ", ") + rtl::UnicodeToUtf8(named.Name) + ":=" + DescribeArgument(named.Value);
      first = false;
    }
    line += ")";
  }
  if (call.PutValue) line += " := " + DescribeArgument(*call.PutValue);
  FRecorder->Log.push_back(line);
  if (auto failure = FRecorder->Failures.find(path); failure != FRecorder->Failures.end())
    throw rtl::EOleException(rtl::Utf8ToUnicode(failure->second));
  if (auto answer = FRecorder->Answers.find(path); answer != FRecorder->Answers.end()) return answer->second(call);
  if (call.IsPut()) return {};
  return FRecorder->Object(values.empty() ? path : path + "(" + values + ")");
}

}  // namespace workbook::testing
