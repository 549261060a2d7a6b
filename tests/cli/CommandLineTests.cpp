// Whole command lines against the built program, compared byte for byte.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

struct TKorvaRun {
  std::string output;
  int status;
};

// Runs korva in the C locale (list separator ",") from `dir`.
TKorvaRun Korva(const std::string& args, const std::string& dir = ".") {
  std::string command = "cd '" + dir + "' && LC_ALL=C " + KORVA_BINARY + " " + args;
  TKorvaRun run{{}, -1};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Golden(const std::string& name) {
  std::ifstream in(std::string(KORVA_SOURCE_DIR) + "/tests/cli/golden/" + name, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

TEST(CommandLine, HelpForNoArgumentsQuestionMarkAndLongHelp) {
  const std::string help = Golden("help.out");
  ASSERT_FALSE(help.empty());
  for (const char* args : {"", "-?", "--HELP", "--help --version", "-x book.xlsx --help"}) {
    TKorvaRun run = Korva(args);
    EXPECT_EQ(run.output, help) << "arguments: " << args;
    EXPECT_EQ(run.status, 0);
  }
}

TEST(CommandLine, VersionLine) {
  TKorvaRun run = Korva("--version");
  EXPECT_EQ(run.output, "Korva 1.4.1\r\n");
  EXPECT_EQ(run.status, 0);
}

TEST(CommandLine, FatalErrorsAreReportedWithStatusOne) {
  struct Case {
    const char* args;
    std::string output;
  } cases[] = {
      {"-d ab s.rops", "Fatal Error: CSV field delimiter must be a single character or \\t\r\n"},
      {"-d '' s.rops", "Fatal Error: CSV field delimiter must be a single character or \\t\r\n"},
      {"-x book.xlsx", "Fatal Error: Please specify file containing script\r\n"},
      {"-p one", "Fatal Error: Please specify file containing script\r\n"},
  };
  for (const auto& c : cases) {
    TKorvaRun run = Korva(c.args);
    EXPECT_EQ(run.output, c.output) << c.args;
    EXPECT_EQ(run.status, 1) << c.args;
  }
}

TEST(CommandLine, MissingScriptFileNamesItsFullPath) {
  std::string dir = testing::TempDir();
  if (dir.back() == '/') dir.pop_back();
  char resolved[4096];
  ASSERT_NE(realpath(dir.c_str(), resolved), nullptr);
  TKorvaRun run = Korva("missing.rops", dir);
  EXPECT_EQ(run.output, "Fatal Error: Cannot open file \"" + std::string(resolved) +
                            "/missing.rops\". No such file or directory\r\n");
  EXPECT_EQ(run.status, 1);
  // -r names the script whatever it looks like.
  run = Korva("-r -V", dir);
  EXPECT_EQ(run.output,
            "Fatal Error: Cannot open file \"" + std::string(resolved) + "/-V\". No such file or directory\r\n");
}

TEST(CommandLine, AMistypedOptionIsNamedNotTakenForTheScript) {
  std::string dir = testing::TempDir() + "korva-options-" + std::to_string(getpid());
  ASSERT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
  std::ofstream(dir + "/job.rops") << "begin end.\n";
  struct Case {
    const char* args;
    std::string output;
  } cases[] = {
      // -V is not the version option, nor -h the help.
      {"-V", "Fatal Error: Unknown option -V (korva --help lists the options)\r\n"},
      {"-h", "Fatal Error: Unknown option -h (korva --help lists the options)\r\n"},
      {"--xls=book.xlsx job.rops", "Fatal Error: Unknown option --xls (korva --help lists the options)\r\n"},
      // Said before the (here missing) workbook is opened.
      {"-x missing.xlsx -h", "Fatal Error: Unknown option -h (korva --help lists the options)\r\n"},
      // An option-like name that is a file is a script; later left-overs are ignored.
      {"-- -h", ""},
      {"job.rops -h", ""},
  };
  std::ofstream(dir + "/--") << "begin end.\n";
  for (const auto& c : cases) {
    TKorvaRun run = Korva(c.args, dir);
    EXPECT_EQ(run.output, c.output) << c.args;
    EXPECT_EQ(run.status, c.output.empty() ? 0 : 1) << c.args;
  }
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST(CommandLine, AJobThatReadsItsFilesPrintsNothing) {
  std::string dir = testing::TempDir() + "korva-cl-" + std::to_string(getpid());
  ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
  std::ofstream(dir + "/job.rops") << "begin end.\n";
  std::ofstream(dir + "/data.csv") << "a;b\n1;2\n";
  TKorvaRun run = Korva("-c data.csv -d \\\\T -r job.rops other.rops", dir);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.status, 0);
  run = Korva("-c absent.csv job.rops", dir);
  EXPECT_NE(run.output.find("Fatal Error: Cannot open file \""), std::string::npos);
  EXPECT_NE(run.output.find("/absent.csv\""), std::string::npos);
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

namespace {

struct JobFolder {
  JobFolder() {
    path = testing::TempDir() + "korva-job-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    EXPECT_EQ(system(("rm -rf '" + path + "' && mkdir -p '" + path + "'").c_str()), 0);
    std::ofstream(path + "/job.rops") << "begin end.\n";
    std::ifstream in(std::string(KORVA_SOURCE_DIR) + "/examples/template.xlsx", std::ios::binary);
    std::ofstream(path + "/book.xlsx", std::ios::binary) << in.rdbuf();
  }
  ~JobFolder() { EXPECT_EQ(system(("rm -rf '" + path + "'").c_str()), 0); }
  // The workbook still reads in an independent reader.
  bool Readable(const std::string& name) {
    return system(("/usr/bin/python3 -c \"import openpyxl; openpyxl.load_workbook('" + path + "/" + name + "')\"")
                      .c_str()) == 0;
  }
  std::string path;
  static inline int counter = 0;
};

}  // namespace

TEST(CommandLine, AJobWithAWorkbookClosesItEvenWhenTheCsvFileIsMissing) {
  JobFolder job;
  TKorvaRun run = Korva("-x book.xlsx -c absent.csv job.rops", job.path);
  EXPECT_NE(run.output.find("Fatal Error: Cannot open file \""), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(job.Readable("book.xlsx"));

  run = Korva("-x book.xlsx job.rops", job.path);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(job.Readable("book.xlsx"));
}

TEST(CommandLine, AWorkbookThatCannotBeOpenedIsReportedWithItsName) {
  JobFolder job;
  TKorvaRun run = Korva("-x missing.xlsx job.rops", job.path);
  EXPECT_EQ(run.output.rfind("Fatal Error: ", 0), 0u) << run.output;
  EXPECT_NE(run.output.find("missing.xlsx"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 1);
  std::ofstream(job.path + "/old.xls") << "not a package";
  run = Korva("-x old.xls job.rops", job.path);
  EXPECT_NE(run.output.find("old.xls"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 1);
}
