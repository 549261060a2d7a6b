// The command line's conveniences through the built program: an output file,
// a compile check, standard CSV and character sets, the ragged-row warning,
// a time limit and interrupts, script logging and the verbose phases. Each
// run's standard output, standard error and exit status are compared.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "JobTestSupport.h"

using namespace korva::test;

namespace {

struct TRun {
  std::string out, err;
  int status;  // exit status, or 128 + the signal that ended it
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Runs korva (C locale) in `dir` with its two outputs in files of `captures`;
// `signals` are sent, one after another, once standard error shows `ready`.
TRun Korva(const std::vector<std::string>& args, const TTempFolder& dir, const std::vector<int>& signals = {},
           const std::string& ready = "") {
  TTempFolder captures;
  std::vector<std::string> argv{KORVA_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, captures.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, captures.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> env{"LC_ALL=C", "PATH=/usr/bin:/bin"};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  // The signals are the program's to handle even where the test runner
  // was started with them ignored (a background job of a script).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child;
  int spawned = posix_spawn(&child, KORVA_BINARY, &actions, &attributes, raw.data(), envp.data());
  std::filesystem::current_path(previous);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return {"", "", -1};
  if (!signals.empty()) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile(captures.File("err")).find(ready) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int s : signals) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      kill(child, s);
    }
  }
  // A run that does not end is a failure, never a hanging test.
  int raw_status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(child, &raw_status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &raw_status, 0);
      ADD_FAILURE() << "korva did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : 128 + WTERMSIG(raw_status);
  return {ReadFile(captures.File("out")), ReadFile(captures.File("err")), status};
}

// The names in a folder: nothing left behind (copies, lock files).
std::set<std::string> Names(const TTempFolder& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.insert(entry.path().filename());
  return names;
}

std::string CellA1(const std::string& book) {
  return Python("from openpyxl import load_workbook\nprint(load_workbook('" + book + "')['Data']['A1'].value)\n");
}

// Run times and bytecode offsets vary; the rest of a report does not.
std::string Normalized(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\d+\.\d{3} s)"), "T s");
  text = std::regex_replace(text, std::regex(R"(bytecode\(\d+:\d+\))"), "bytecode(P:B)");
  text = std::regex_replace(text, std::regex(R"(\d+ bytes)"), "N bytes");
  return text;
}

const char* const WriteA1 = "begin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'filled';\nend.\n";

// Every field of every row on standard error, in brackets.
const char* const DumpData = R"pas(var R, C: Integer; S: string;
begin
  for R := 0 to DATA.RowCount - 1 do
  begin
    S := IntToStr(DATA.Row[R].ColumnCount) + ':';
    for C := 0 to DATA.Row[R].ColumnCount - 1 do S := S + '[' + DATA[R][C] + ']';
    OutputDebugString(S);
  end;
end.
)pas";

}  // namespace

TEST(DailyUse, OutputFileLeavesTheTemplateAsItIs) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("fill.rops", WriteA1);
  dir.Write("none.rops", "begin end.\n");
  const std::string original = ReadFile(dir.File("book.xlsx"));

  TRun run = Korva({"-x", "book.xlsx", "-o", "out.xlsx", "fill.rops"}, dir);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir.File("book.xlsx")), original);
  EXPECT_EQ(CellA1(dir.File("out.xlsx")), "filled\n");
  // An existing output is replaced; no change still writes a copy.
  run = Korva({"-x", "book.xlsx", "--output=out.xlsx", "none.rops"}, dir);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(dir.File("out.xlsx")), original);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"book.xlsx", "fill.rops", "none.rops", "out.xlsx"}));
  // The template's own name (by another path) means in place.
  run = Korva({"-x", "book.xlsx", "-o", "./book.xlsx", "fill.rops"}, dir);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(CellA1(dir.File("book.xlsx")), "filled\n");
}

TEST(DailyUse, OutputFileRefusalsComeBeforeAnythingIsWritten) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("fill.rops", WriteA1);
  std::filesystem::copy_file(dir.File("book.xlsx"), dir.File("macro.xlsm"));
  std::filesystem::copy_file(dir.File("book.xlsx"), dir.File("locked.xlsx"));
  chmod(dir.File("locked.xlsx").c_str(), 0444);
  dir.Write("open.xlsx", "theirs");
  dir.Write(".~lock.open.xlsx#", "");
  const std::string original = ReadFile(dir.File("macro.xlsm"));
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-x", "macro.xlsm", "-o", "out.xlsx", "fill.rops"},
       "Fatal Error: Output file out.xlsx must be a .xlsm workbook like its template\r\n"},
      {{"-x", "book.xlsx", "-o", "out.XLSM", "fill.rops"},
       "Fatal Error: Output file out.XLSM must be a .xlsx workbook like its template\r\n"},
      {{"-x", "book.xlsx", "-o", "missing/out.xlsx", "fill.rops"},
       "Fatal Error: Cannot create file \"" + dir.File("missing/out.xlsx") + "\". No such file or directory\r\n"},
      {{"-x", "book.xlsx", "-o", "locked.xlsx", "fill.rops"}, "Fatal Error: Output file locked.xlsx is read-only\r\n"},
      {{"-x", "book.xlsx", "-o", "open.xlsx", "fill.rops"},
       "Fatal Error: Output file open.xlsx is open in another program (lock file .~lock.open.xlsx#)\r\n"},
      {{"-o", "out.xlsx", "fill.rops"},
       "Fatal Error: An output file needs a workbook to start from: name it with -x\r\n"},
      {{"-x", "absent.xlsx", "-o", "out.xlsx", "fill.rops"},
       "Fatal Error: Cannot open file \"" + dir.File("absent.xlsx") + "\". No such file or directory\r\n"},
  };
  for (const auto& c : cases) {
    TRun run = Korva(c.args, dir);
    EXPECT_EQ(run.out, c.out) << c.args[1];
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_EQ(ReadFile(dir.File("macro.xlsm")), original);
  EXPECT_EQ(ReadFile(dir.File("locked.xlsx")), ReadFile(dir.File("book.xlsx")));
  EXPECT_EQ(ReadFile(dir.File("open.xlsx")), "theirs");
  EXPECT_EQ(Names(dir), (std::set<std::string>{".~lock.open.xlsx#", "book.xlsx", "fill.rops", "locked.xlsx",
                                               "macro.xlsm", "open.xlsx"}));
}

TEST(DailyUse, CheckCompilesWithEveryDeclarationAndOpensNoFile) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  const std::string original = ReadFile(dir.File("book.xlsx"));
  // Host classes, functions and variables all compile; hints go to standard error.
  dir.Write("good.rops",
            "var Unused: Integer; R: TPerlRegEx;\nbegin\n  DOCUMENT.Sheet[1].Cell[1, 1] := DATA[1][0];\n"
            "  R := nil; OutputDebugString(Format('%d', [RoundToEx(1.5, 0)]) + DateToStr(Now));\nend.\n");
  dir.Write("bad.rops", "begin\n  x := 1;\nend.\n");
  struct Case {
    const char* script;
    std::string out, err;
    int status;
  } cases[] = {
      {"good.rops", "", "[Hint] (1:5): Variable 'UNUSED' never used\r\n", 0},
      {"bad.rops", "Fatal Error: Compile error(s):\r\n[Error] (2:3): Unknown identifier 'x'\r\n\r\n", "", 1},
  };
  for (const auto& c : cases) {
    // Neither file exists: opening either would fail the run.
    TRun run = Korva({"--check", "-x", "missing.xlsx", "-c", "missing.csv", c.script}, dir);
    EXPECT_EQ(run.out, c.out) << c.script;
    EXPECT_EQ(run.err, c.err) << c.script;
    EXPECT_EQ(run.status, c.status) << c.script;
    run = Korva({"-x", "book.xlsx", "--check", c.script}, dir);
    EXPECT_EQ(run.status, c.status) << c.script;
  }
  EXPECT_EQ(ReadFile(dir.File("book.xlsx")), original);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"bad.rops", "book.xlsx", "good.rops"}));
}

TEST(DailyUse, CsvReadingModesEncodingsAndRaggedRows) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string bytes;
    std::string err;
    int status;
  } cases[] = {
      {"RFC 4180: quoted delimiters, quotes, line breaks, blanks, empty fields",
       {"--csv-standard", "-d", ","},
       "name,note,qty\r\n\"Smith, John\", two  words ,3\r\n\"He said \"\"hi\"\"\",\"line1\r\nline2\",\r\n,,\r\n",
       "3:[name][note][qty]\r\n3:[Smith, John][ two  words ][3]\r\n3:[He said \"hi\"][line1\nline2][]\r\n3:[][][]\r\n",
       0},
      {"RFC 4180 with tabs: every empty field counts",
       {"--csv-standard", "-d", "\\t"},
       "a\tb\tc\n\t\tz\n\t\t\n",
       "3:[a][b][c]\r\n3:[][][z]\r\n3:[][][]\r\n",
       0},
      {"the list rules on the same tabs",
       {"-d", "\\t"},
       "a\tb\tc\n\t\tz\n\t\t\n",
       "warning: data.csv line 2 has 1 field, the header has 3\r\n"
       "3:[a][b][c]\r\n1:[z]\r\n0:\r\n",
       0},
      {"ragged rows: the first three lines named once",
       {"--csv-standard", "-d", ","},
       "a,b,c\n1,2\n1,2,3\n1,2,3,4\n\n1\n1,2\n",
       "warning: data.csv line 2 has 2 fields, line 4 has 4 fields, line 6 has 1 field, the header has 3 (4 such "
       "lines)\r\n3:[a][b][c]\r\n2:[1][2]\r\n3:[1][2][3]\r\n4:[1][2][3][4]\r\n0:\r\n1:[1]\r\n2:[1][2]\r\n",
       0},
      {"ragged without a header row",
       {"--csv-no-header", "-d", ";"},
       "a;b\nc\n",
       "warning: data.csv line 2 has 1 field, the first line has 2\r\n2:[a][b]\r\n1:[c]\r\n",
       0},
      {"UTF-8 with one Windows-1252 byte keeps its UTF-8",
       {"-d", ","},
       "Jos\xC3\xA9,Zo\xC3\xAB,Ren\xC3\xA9\nJos\xE9,Zo\xC3\xAB,Ren\xC3\xA9\n",
       "3:[Jos\xC3\xA9][Zo\xC3\xAB][Ren\xC3\xA9]\r\n3:[Jos\xC3\xA9][Zo\xC3\xAB][Ren\xC3\xA9]\r\n",
       0},
      {"a named character set",
       {"--csv-encoding", "ISO-8859-2", "-d", ","},
       "\xC8"
       "aj,\xB9um\n",
       "2:[\xC4\x8C"
       "aj][\xC5\xA1um]\r\n",
       0},
      {"UTF-16 named, its byte order mark dropped",
       {"--csv-encoding=utf-16", "--csv-standard", "-d", ","},
       Utf16("a,\"b\nc\"\n", false),
       "2:[a][b\nc]\r\n",
       0},
  };
  for (const auto& c : cases) {
    TTempFolder dir;
    dir.Write("data.csv", c.bytes);
    dir.Write("dump.rops", DumpData);
    std::vector<std::string> args{"-c", "data.csv"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back("dump.rops");
    TRun run = Korva(args, dir);
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_EQ(run.err, c.err) << c.name;
    EXPECT_EQ(run.status, c.status) << c.name;
  }
}

TEST(DailyUse, CsvEncodingErrorsNameTheFile) {
  TTempFolder dir;
  dir.Write("data.csv",
            "a\xFF"
            "b\n");
  dir.Write("dump.rops", DumpData);
  struct Case {
    const char* encoding;
    std::string out;
  } cases[] = {
      {"no-such-set", "Fatal Error: " + dir.File("data.csv") + ": Unknown character set no-such-set\r\n"},
      {"UTF-8", "Fatal Error: " + dir.File("data.csv") + ": Text is not valid UTF-8 at byte 1\r\n"},
  };
  for (const auto& c : cases) {
    TRun run = Korva({"-c", "data.csv", "--csv-encoding", c.encoding, "dump.rops"}, dir);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.status, 1);
  }
}

TEST(DailyUse, TimeoutStopsAnEndlessScriptAndKeepsWhatItDidBefore) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("loop.rops",
            "var I: Integer;\nbegin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'before';\n  OutputDebugString('looping');\n"
            "  while True do\n    I := I + 1;\nend.\n");
  auto started = std::chrono::steady_clock::now();
  TRun run = Korva({"--timeout", "1", "-x", "book.xlsx", "loop.rops"}, dir);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_TRUE(
      std::regex_match(Normalized(run.out),
                       std::regex("Fatal Error: Runtime error\r\nScript stopped after 1 seconds at line [56], "
                                  "column \\d+, bytecode\\(P:B\\)\r\n::(  while True do|    I := I \\+ 1;)\r\n\r\n")))
      << run.out;
  EXPECT_EQ(run.err, "looping\r\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_LT(seconds, 10);
  EXPECT_EQ(CellA1(dir.File("book.xlsx")), "before\n");

  for (const char* bad : {"0", "1.5", "x", "", "86401"}) {
    run = Korva({"--timeout", bad, "loop.rops"}, dir);
    EXPECT_EQ(run.out, "Fatal Error: Timeout must be a whole number of seconds from 1 to 86400\r\n") << bad;
    EXPECT_EQ(run.status, 1);
  }
}

TEST(DailyUse, AnInterruptStopsTheScriptAndASecondOneEndsTheProcess) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  const std::string original = ReadFile(dir.File("book.xlsx"));
  dir.Write("loop.rops",
            "var I: Integer;\nbegin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'before';\n  OutputDebugString('looping');\n"
            "  while True do\n    I := I + 1;\nend.\n");
  for (int s : {SIGTERM, SIGINT}) {
    std::filesystem::copy_file(dir.File("book.xlsx"), dir.File("run.xlsx"));
    TRun run = Korva({"-x", "run.xlsx", "loop.rops"}, dir, {s}, "looping");
    std::string name = s == SIGTERM ? "SIGTERM" : "SIGINT";
    EXPECT_TRUE(
        std::regex_match(Normalized(run.out), std::regex("Fatal Error: Runtime error\r\nScript stopped by " + name +
                                                         " at line [56], column \\d+, bytecode\\(P:B\\)"
                                                         "\r\n::.*\r\n\r\n")))
        << run.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CellA1(dir.File("run.xlsx")), "before\n");
    std::filesystem::remove(dir.File("run.xlsx"));
  }
  // A script that cannot stop (it waits for a pipe nobody writes): the
  // second signal ends the process, the workbook and the output untouched
  // and nothing of the job left behind.
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  dir.Write("wait.rops",
            "var L: TStringList;\nbegin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'lost';\n  OutputDebugString('waiting');\n"
            "  L := TStringList.Create;\n  L.LoadFromFile('pipe');\nend.\n");
  TRun run = Korva({"-x", "book.xlsx", "-o", "out.xlsx", "wait.rops"}, dir, {SIGTERM, SIGTERM}, "waiting");
  EXPECT_EQ(run.status, 128 + SIGTERM);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(dir.File("book.xlsx")), original);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"book.xlsx", "loop.rops", "pipe", "wait.rops"}));
}

TEST(DailyUse, VerboseNamesEachPhase) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("data.csv", "a;b\n1;2\n");
  dir.Write("fill.rops", WriteA1);
  TRun run = Korva({"-v", "-x", "book.xlsx", "-o", "out.xlsx", "-c", "data.csv", "-d", ";", "fill.rops"}, dir);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Normalized(run.err), "Workbook opened: " + dir.File("book.xlsx") + ", 2 sheets\r\n" +
                                     "CSV file read: " + dir.File("data.csv") +
                                     ", 2 rows (header included), 2 columns, UTF-8, delimiter \";\"\r\n" +
                                     "Script compiled: " + dir.File("fill.rops") + ", T s\r\n" + "Script run: T s\r\n" +
                                     "Workbook saved: " + dir.File("out.xlsx") + ", N bytes, T s\r\n");
  EXPECT_EQ(run.status, 0);
  run = Korva({"--verbose", "--check", "fill.rops"}, dir);
  EXPECT_EQ(Normalized(run.err), "Script compiled: " + dir.File("fill.rops") + ", T s\r\n");
}
