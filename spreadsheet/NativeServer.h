// Korva's own spreadsheet server: each application it creates opens .xlsx
// and .xlsm workbooks and edits them in place, keeping what it does not
// change.
#pragma once

#include "spreadsheet/SpreadsheetServer.h"

namespace spreadsheet {

class TNativeServer final : public ISpreadsheetServer {
 public:
  std::unique_ptr<IApplication> CreateApplication() override;
};

}  // namespace spreadsheet
