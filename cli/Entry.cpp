// Program entry: one main object, one run, the exit status.
#include "cli/KorvaMain.h"
#include "rtl/Locale.h"

int main(int argc, char** argv) {
  rtl::LoadFormatSettingsFromLocale();
  cli::SetProcessArguments(argc, argv);
  cli::TKorvaMain korvaMain;
  return korvaMain.Execute();
}
