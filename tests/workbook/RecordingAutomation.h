// A recording stand-in for the automation server: every call on any object
// it hands out is logged as one line, and scripted answers or failures are
// looked up by the call's path ("wbk.Worksheets.Count").
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "rtl/Automation.h"

namespace workbook::testing {

struct TRecorder {
  std::vector<std::string> Log;
  std::map<std::string, std::function<rtl::Variant(const rtl::TInvocation&)>> Answers;
  std::map<std::string, std::string> Failures;  // path -> server description

  void Answer(const std::string& path, rtl::Variant value) {
    Answers[path] = [value](const rtl::TInvocation&) { return value; };
  }
  // Lines of the log that start with `prefix` (for checks that ignore reads).
  std::vector<std::string> Lines(const std::string& prefix = "") const;
  rtl::Variant Object(const std::string& path);
};

// Text of an argument: its type name and value ("Integer 3", "OleStr B3",
// "Dispatch wbk").
std::string DescribeArgument(const rtl::Variant& v);

class TRecordingObject : public rtl::IDispatch {
 public:
  TRecordingObject(TRecorder* recorder, std::string path) : FRecorder(recorder), FPath(std::move(path)) {}
  const std::string& Path() const { return FPath; }
  rtl::Variant Invoke(std::u16string_view name, const rtl::TInvocation& call) override;

 private:
  TRecorder* FRecorder;  // not owned; outlives every object
  std::string FPath;
};

}  // namespace workbook::testing
