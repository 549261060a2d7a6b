// cmake --install into a temporary prefix: the installed program runs the
// installed example, the manual page renders without a warning, and the
// completion file loads.
#include <gtest/gtest.h>

#include <filesystem>

#include "JobTestSupport.h"

using namespace korva::test;

namespace {

// Runs a shell command; its standard output and error together.
std::string Shell(const std::string& command, int& status) { return Capture("(" + command + ") 2>&1", status); }

}  // namespace

TEST(Install, TheInstalledProgramRunsTheInstalledExampleAndItsManualPageRenders) {
  TTempFolder prefix;
  const std::string build = std::filesystem::path(KORVA_BINARY).parent_path();
  int status = -1;
  std::string output = Shell("cmake --install '" + build + "' --prefix '" + prefix.Path() + "'", status);
  ASSERT_EQ(status, 0) << output;
  for (const char* file : {"bin/korva", "share/man/man1/korva.1", "share/doc/korva/examples/template.xlsx",
                           "share/doc/korva/examples/fill_orders.rops", "share/doc/korva/examples/orders.csv",
                           "share/bash-completion/completions/korva"})
    EXPECT_TRUE(std::filesystem::exists(prefix.File(file))) << file;

  TTempFolder work;
  const std::string examples = prefix.File("share/doc/korva/examples");
  output = Shell("cd '" + examples + "' && LC_ALL=C '" + prefix.File("bin/korva") + "' -x template.xlsx -o '" +
                     work.File("orders.xlsx") + "' -c orders.csv -d , -p 'November 2026' -p 1003 fill_orders.rops",
                 status);
  EXPECT_EQ(output, "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Python("from openpyxl import load_workbook\nprint(load_workbook('" + work.File("orders.xlsx") +
                   "')['Orders']['A1'].value)\n"),
            "Order report November 2026: 5 orders\n");

  // groff's warnings go to standard error; the page itself is thrown away.
  output = Shell("MANWIDTH=80 man --warnings -l '" + prefix.File("share/man/man1/korva.1") + "' >/dev/null", status);
  EXPECT_EQ(output, "");
  EXPECT_EQ(status, 0);
  // Every option of the help has its entry in the page and the completion.
  const std::string page = Shell("MANWIDTH=200 man -l '" + prefix.File("share/man/man1/korva.1") + "'", status);
  const std::string completion = Shell("cat '" + prefix.File("share/bash-completion/completions/korva") + "'", status);
  const std::string help = Shell("'" + prefix.File("bin/korva") + "' --help", status);
  for (const char* option : {"--help", "--version", "--xls-file-name", "--csv-file-name", "--rops-file-name",
                             "--csv-no-header", "--csv-delimiter", "--parameter", "--output", "--check",
                             "--csv-standard", "--csv-encoding", "--timeout", "--verbose"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
    EXPECT_NE(page.find(option), std::string::npos) << option;
    EXPECT_NE(completion.find(option), std::string::npos) << option;
  }
  output = Shell("bash -c \"source '" + prefix.File("share/bash-completion/completions/korva") +
                     "' && COMP_WORDS=(korva --csv-s) COMP_CWORD=1 && _korva && echo \\${COMPREPLY[*]}\"",
                 status);
  EXPECT_EQ(output, "--csv-standard\n");
}
