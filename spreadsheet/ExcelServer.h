// Korva's own spreadsheet automation server, served under the program
// identifier "Excel.Application": the application, workbooks, workbook,
// sheets and worksheets collections, worksheet and range objects with the
// members the workbook wrappers call.
#pragma once

#include <string_view>

#include "rtl/Automation.h"

namespace spreadsheet {

constexpr std::u16string_view kExcelProgId = u"Excel.Application";

// A new, hidden application object with no workbook open.
rtl::TRef<rtl::IDispatch> CreateExcelApplication();

// Registers CreateExcelApplication under "Excel.Application".
void RegisterExcelApplication();

}  // namespace spreadsheet
