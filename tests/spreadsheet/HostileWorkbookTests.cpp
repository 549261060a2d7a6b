// Crafted workbooks (zip entries that lie about their size, parts that
// inflate to gigabytes, rows outside the sheet) run through the built
// program: each is refused at once, in little memory, and left as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>

#include "TestPackages.h"

namespace spreadsheet::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // slower, and memory is the sanitizer's
#else
constexpr bool kSanitized = false;
#endif

// A zip entry written by hand, so that it can say what a zip library would
// not: its inflated bytes are Head, then Piece Count times, then Tail, and
// it may state any size. Each piece is a self-contained run of deflate
// blocks, so gigabytes cost only the repeated compressed piece.
struct TCraftedEntry {
  std::string Name;
  std::string Head;
  std::string Piece;
  uint64_t Count = 0;
  std::string Tail;
  std::optional<uint32_t> StatedSize;
};

TCraftedEntry Crafted(std::string head, std::string piece = {}, uint64_t count = 0, std::string tail = {},
                      std::optional<uint32_t> stated = {}) {
  TCraftedEntry entry;
  entry.Head = std::move(head);
  entry.Piece = std::move(piece);
  entry.Count = count;
  entry.Tail = std::move(tail);
  entry.StatedSize = stated;
  return entry;
}

TCraftedEntry Named(std::string name, std::string text) {
  TCraftedEntry entry = Crafted(std::move(text));
  entry.Name = std::move(name);
  return entry;
}

std::string Deflate(const std::string& data, int flush) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, flush);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

uLong RepeatedCrc(uLong crc, const std::string& piece, uint64_t count) {
  uLong power = crc32(0, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
  uint64_t length = piece.size();
  for (; count; count >>= 1, power = crc32_combine64(power, power, static_cast<z_off64_t>(length)), length *= 2)
    if (count & 1) crc = crc32_combine64(crc, power, static_cast<z_off64_t>(length));
  return crc;
}

void WriteCraftedZip(const std::string& path, const std::vector<TCraftedEntry>& entries) {
  std::ofstream out(path, std::ios::binary);
  auto put = [&](std::string& to, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::string directory;
  uint64_t offset = 0;
  for (const TCraftedEntry& e : entries) {
    std::string head = Deflate(e.Head, Z_FULL_FLUSH), piece = e.Count ? Deflate(e.Piece, Z_FULL_FLUSH) : "",
                tail = Deflate(e.Tail, Z_FINISH);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.Head.data()), static_cast<uInt>(e.Head.size()));
    crc = RepeatedCrc(crc, e.Piece, e.Count);
    crc = crc32_combine64(crc,
                          crc32(0, reinterpret_cast<const Bytef*>(e.Tail.data()), static_cast<uInt>(e.Tail.size())),
                          static_cast<z_off64_t>(e.Tail.size()));
    uint64_t size = e.Head.size() + e.Piece.size() * e.Count + e.Tail.size();
    uint64_t compressed = head.size() + piece.size() * e.Count + tail.size();
    ASSERT_LT(size, uint64_t(1) << 32);
    uint64_t stated = e.StatedSize ? *e.StatedSize : size;
    std::string local;
    put(local, 0x04034b50, 4), put(local, 20, 2), put(local, 0, 2), put(local, 8, 2), put(local, 0, 4);
    put(local, crc, 4), put(local, compressed, 4), put(local, stated, 4), put(local, e.Name.size(), 2),
        put(local, 0, 2);
    local += e.Name;
    put(directory, 0x02014b50, 4), put(directory, 20, 2), put(directory, 20, 2), put(directory, 0, 2);
    put(directory, 8, 2), put(directory, 0, 4), put(directory, crc, 4), put(directory, compressed, 4);
    put(directory, stated, 4), put(directory, e.Name.size(), 2), put(directory, 0, 6), put(directory, 0, 6);
    put(directory, offset, 4);
    directory += e.Name;
    out << local << head;
    for (uint64_t i = 0; i < e.Count; ++i) out << piece;
    out << tail;
    offset += local.size() + compressed;
  }
  std::string end;
  put(end, 0x06054b50, 4), put(end, 0, 4), put(end, entries.size(), 2), put(end, entries.size(), 2);
  put(end, directory.size(), 4), put(end, offset, 4), put(end, 0, 2);
  out << directory << end;
}

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kSheetHead = "<?xml version=\"1.0\"?><worksheet xmlns=\"" + kMain + "\"><sheetData>";
const std::string kSheetTail = "</sheetData></worksheet>";

// A workbook of one sheet "S" whose part is `sheet`; `workbookStates`
// makes xl/workbook.xml state a size of its own.
void WriteHostileBook(const std::string& path, TCraftedEntry sheet, std::optional<uint32_t> workbookStates = {}) {
  sheet.Name = "xl/worksheets/sheet1.xml";
  TCraftedEntry types = Named(
      "[Content_Types].xml",
      "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
      "</Types>");
  TCraftedEntry rootRels = Named(
      "_rels/.rels",
      "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"" +
          kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  TCraftedEntry workbook = Named("xl/workbook.xml",
                                 "<?xml version=\"1.0\"?><workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                                     "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  workbook.StatedSize = workbookStates;
  TCraftedEntry workbookRels = Named(
      "xl/_rels/workbook.xml.rels",
      "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"" +
          kRel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
  WriteCraftedZip(path, {types, rootRels, workbook, workbookRels, sheet});
}

// `cells` cells of one row, where every `every`-th value differs: the
// more often, the worse the text compresses (every 57th: about 190 to 1,
// as the row bomb that was reported; none: about 1,000 to 1).
std::string Cells(int cells, int every) {
  std::string out;
  for (int i = 0; i < cells; ++i)
    out += "<c><v>" + std::to_string(every && i % every == 0 ? (i * 7) % 10 : 1) + "</v></c>";
  return out;
}

// `count` rows numbered `number`, one cell each, varied as Cells does.
std::string Rows(int number, int count, int every) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += "<row r=\"" + std::to_string(number) + "\"><c><v>" +
           std::to_string(every && i % every == 0 ? (i * 7) % 10 : 1) + "</v></c></row>";
  return out;
}

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

struct TMeasuredRun {
  std::string Output;
  double Seconds = 0;
  long PeakKB = 0;
};

// A process keeps the peak memory of the process it was forked from, which
// here is the test's; so a small python process starts the program and
// reports its time and peak (from wait4) on its last line.
const char* const kMeasuringLauncher = R"py(
import os, sys, time
start = time.monotonic()
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
print("\nmeasured %f %d" % (time.monotonic() - start, usage.ru_maxrss))
)py";

// Runs the program from `dir` with its output in the result: measured
// through the launcher, or directly with its address space limited to
// `memoryLimit` bytes.
TMeasuredRun RunMeasured(const std::string& dir, const std::vector<std::string>& args, rlim_t memoryLimit = 0) {
  std::string outputFile = dir + "/output.txt";
  pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int fd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    setenv("LC_ALL", "C", 1);
    if (memoryLimit) {
      rlimit limit{memoryLimit, memoryLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv;
    if (!memoryLimit)
      for (const char* a : {"/usr/bin/python3", "-c", kMeasuringLauncher}) argv.push_back(const_cast<char*>(a));
    argv.push_back(const_cast<char*>(KORVA_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  TMeasuredRun run;
  std::ifstream in(outputFile, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  run.Output = text.str();
  size_t measured = run.Output.rfind("\nmeasured ");
  if (!memoryLimit && measured != std::string::npos) {
    std::istringstream(run.Output.substr(measured + 10)) >> run.Seconds >> run.PeakKB;
    run.Output.erase(measured);
  } else if (!memoryLimit) {
    ADD_FAILURE() << "no measurement: " << run.Output;
  }
  return run;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(HostileWorkbooks, AreRefusedAtOnceInLittleMemoryAndLeftAsTheyWere) {
  const uint64_t MB = 1000000;
  struct TCase {
    const char* Title;
    TCraftedEntry Sheet;
    std::optional<uint32_t> WorkbookStates;
    std::string Refusal;
  } cases[] = {
      {"a part that states 4 GB but holds 200 bytes", Crafted(kSheetHead + Rows(1, 1, 0) + kSheetTail), 0xFFFFFFF0u,
       "part xl/workbook.xml is too large (4294967280 bytes; the limit is 268435456)"},
      {"a part that holds more than it states",
       Crafted(kSheetHead + "<row r=\"1\">", Cells(4000, 0), 3500 * MB / 60000, "</row>" + kSheetTail, 1u << 20),
       {},
       "part xl/worksheets/sheet1.xml is damaged (it holds more than the 1048576 bytes its entry states)"},
      {"a part that holds less than it states",
       Crafted(kSheetHead + Rows(1, 1, 0) + kSheetTail, "", 0, "", 1u << 20),
       {},
       "bytes where its entry states 1048576)"},
      {"one row inflating to 3.5 GB",
       Crafted(kSheetHead + "<row r=\"1\">", Cells(20000, 57), 3500 * MB / 300000, "</row>" + kSheetTail),
       {},
       "part xl/worksheets/sheet1.xml is too large (3499800"},
      {"one row of 1 GB, within the limits of a part",
       Crafted(kSheetHead + "<row r=\"1\">", Cells(20000, 57), 1000 * MB / 300000, "</row>" + kSheetTail),
       {},
       "part xl/worksheets/sheet1.xml is too large (one <row> element holds more than 33554432 bytes)"},
      {"1 GB of blank cells inflating a thousand times",
       Crafted(kSheetHead, "<row>" + Repeat("<c/>", 16384) + "</row>", 1000 * MB / 65547, kSheetTail),
       {},
       "compressed; the limit is 500 times)"},
      {"3.5 GB of rows beyond row 1,048,576",
       Crafted(kSheetHead + Rows(1, 1, 0), Rows(1048577, 20000, 57), 3500 * MB / 760000, kSheetTail),
       {},
       "part xl/worksheets/sheet1.xml is too large (3"},
      {"a row beyond row 1,048,576 after 200,000 rows",
       Crafted(kSheetHead, Repeat("<row><c><v>1</v></c></row>", 1000), 200, Rows(1048577, 1, 0) + kSheetTail),
       {},
       "part xl/worksheets/sheet1.xml has row 1048577, outside the sheet (rows 1 to 1048576)"},
      {"a cell beyond column XFD",
       Crafted(kSheetHead + "<row r=\"2\"><c r=\"XFE2\"><v>1</v></c></row>" + kSheetTail),
       {},
       "part xl/worksheets/sheet1.xml has cell XFE2, outside the sheet (columns A to XFD)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    TTempDir dir;
    WriteHostileBook(dir.File("book.xlsx"), c.Sheet, c.WorkbookStates);
    std::ofstream(dir.File("touch.rops")) << "begin\n  DOCUMENT.Sheet[1].Cell[2, 1] := 'changed';\nend.\n";
    std::string before = FileBytes(dir.File("book.xlsx"));
    TMeasuredRun run = RunMeasured(dir.Path(), {"-x", "book.xlsx", "touch.rops"});
    EXPECT_THAT(run.Output, ::testing::HasSubstr("Cannot open workbook \"" + dir.File("book.xlsx") + "\": "));
    EXPECT_THAT(run.Output, ::testing::HasSubstr(c.Refusal));
    EXPECT_EQ(FileBytes(dir.File("book.xlsx")), before);
    std::cout << "  " << c.Title << " (" << before.size() << " bytes): " << run.Seconds << " s, " << run.PeakKB / 1024
              << " MB\n";
    if (kSanitized) continue;
    EXPECT_LT(run.Seconds, 1.0);
    EXPECT_LT(run.PeakKB, 100 * 1024);
  }
}

TEST(HostileWorkbooks, MemoryRunningOutIsReportedAsSuchAndNothingHalfDoneIsSaved) {
  if (kSanitized) GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
  // Under a 48 MB address space: a CSV file too large to hold, and a
  // million cells of sheet 2 read after sheet 1 was changed. The server
  // does not save what it ran out of memory on: its work may be half done.
  TTempDir dir;
  TBookLayout layout;
  std::string rows, csv = "a,b,c\n";
  for (int r = 1; r <= 100000; ++r) rows += "<row>" + Cells(10, 3) + "</row>";
  for (int r = 1; r <= 600000; ++r) csv += std::to_string(r) + ",text number " + std::to_string(r) + ",1.5\n";
  layout.Sheets = {{"First", "<sheetData/>"}, {"Big", "<sheetData>" + rows + "</sheetData>"}};
  WriteBook(dir.File("book.xlsx"), layout);
  std::ofstream(dir.File("data.csv")) << csv;
  std::ofstream(dir.File("empty.rops")) << "begin\nend.\n";
  std::ofstream(dir.File("job.rops")) << "begin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'changed';\n"
                                         "  DOCUMENT.Sheet[2].Cell[1, 1] := 'changed';\nend.\n";
  std::string before = FileBytes(dir.File("book.xlsx"));

  TMeasuredRun run = RunMeasured(dir.Path(), {"-x", "book.xlsx", "-c", "data.csv", "empty.rops"}, 48 << 20);
  EXPECT_EQ(run.Output, "Fatal Error: Out of memory\r\n");
  EXPECT_EQ(FileBytes(dir.File("book.xlsx")), before);

  run = RunMeasured(dir.Path(), {"-x", "book.xlsx", "job.rops"}, 48 << 20);
  EXPECT_THAT(run.Output, ::testing::HasSubstr("\r\nException: Out of memory at line 3"));
  EXPECT_THAT(run.Output, ::testing::HasSubstr("Fatal Error: Cannot save workbook \"" + dir.File("book.xlsx") +
                                               "\": the server ran out of memory while working on it, so the file "
                                               "was left as it was\r\n"));
  EXPECT_EQ(FileBytes(dir.File("book.xlsx")), before);
}

}  // namespace
}  // namespace spreadsheet::testing
