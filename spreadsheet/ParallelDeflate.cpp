#include "spreadsheet/ParallelDeflate.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <future>

namespace spreadsheet {

namespace {

constexpr size_t kWindow = 32768;       // what deflate looks back over
constexpr size_t kInFlight = 2;         // blocks being compressed while the next is written
constexpr size_t kHeldLimit = 1 << 20;  // compressed bytes kept in memory before spilling

EPackageError Fail(const std::string& reason) { return EPackageError(rtl::Utf8ToUnicode(reason)); }

struct TBlock {
  std::string Data;  // compressed
  uint32_t Crc = 0;
  size_t Length = 0;  // before compression
};

TBlock DeflateBlock(const std::string& input, const std::string& dictionary, int level, bool last) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw Fail("cannot start compressing a part");
  TBlock block;
  block.Length = input.size();
  block.Crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(input.data()), input.size()));
  if (!dictionary.empty())
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()), static_cast<uInt>(dictionary.size()));
  block.Data.resize(deflateBound(&z, input.size()) + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  z.avail_in = static_cast<uInt>(input.size());
  int rc;
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(block.Data.data()) + z.total_out;
    z.avail_out = static_cast<uInt>(block.Data.size() - z.total_out);
    rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    // Done when all input went in and the flush fitted; otherwise more room.
    bool done = last ? rc == Z_STREAM_END : (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0);
    if (done) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    block.Data.resize(block.Data.size() * 2);
  }
  size_t produced = z.total_out;
  deflateEnd(&z);
  if (last ? rc != Z_STREAM_END : rc != Z_OK) throw Fail("cannot compress a part");
  block.Data.resize(produced);
  return block;
}

int OpenSpill(const std::string& folder) {
  // Unnamed: nothing is left behind whatever ends the process.
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string path = folder + "/.korva-part.XXXXXX";
  fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) throw Fail("cannot create a temporary file in " + folder + ": " + std::strerror(errno));
  unlink(path.c_str());
  return fd;
}

}  // namespace

TDeflatedPart::TDeflatedPart(const TPartWriter& writer, int level, const std::string& spillFolder)
    : FSpillFolder(spillFolder) {
  std::deque<std::future<TBlock>> running;
  auto collect = [&] {
    TBlock block = running.front().get();
    running.pop_front();
    FCrc = static_cast<uint32_t>(crc32_combine(FCrc, block.Crc, static_cast<z_off_t>(block.Length)));
    FSize += block.Length;
    Append(block.Data);
  };
  try {
    std::string input, dictionary, piece;
    bool more = true;
    while (more) {
      input.reserve(kBlock + (1 << 16));
      while (more && input.size() < kBlock) {
        piece.clear();
        more = writer(piece);
        input += piece;
      }
      std::string nextDictionary = input.substr(input.size() - std::min(input.size(), kWindow));
      if (!more && running.empty()) {
        // A part of one block (most parts): no thread for it.
        TBlock block = DeflateBlock(input, dictionary, level, true);
        FCrc = block.Crc;
        FSize = block.Length;
        Append(block.Data);
        break;
      }
      running.push_back(std::async(std::launch::async, [in = std::move(input), dict = std::move(dictionary), level,
                                                        last = !more] { return DeflateBlock(in, dict, level, last); }));
      input = std::string();
      dictionary = std::move(nextDictionary);
      if (running.size() >= kInFlight) collect();
    }
    while (!running.empty()) collect();
  } catch (...) {
    for (auto& block : running) block.wait();
    if (FSpill >= 0) close(FSpill);
    throw;
  }
}

TDeflatedPart::~TDeflatedPart() {
  if (FSpill >= 0) close(FSpill);
}

void TDeflatedPart::Append(const std::string& piece) {
  if (FSpill < 0 && FHeld.size() + piece.size() > kHeldLimit) {
    FSpill = OpenSpill(FSpillFolder);
    WriteSpill(FHeld);
    FHeld = std::string();
  }
  if (FSpill < 0)
    FHeld += piece;
  else
    WriteSpill(piece);
  FCompressedSize += piece.size();
}

void TDeflatedPart::WriteSpill(const std::string& piece) {
  for (size_t done = 0; done < piece.size();) {
    ssize_t n = write(FSpill, piece.data() + done, piece.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Fail("cannot write a temporary file in " + FSpillFolder + ": " + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

size_t TDeflatedPart::Read(uint64_t offset, char* data, size_t length) const {
  if (offset >= FCompressedSize) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, FCompressedSize - offset));
  if (FSpill < 0) {
    std::memcpy(data, FHeld.data() + offset, length);
    return length;
  }
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(FSpill, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Fail("cannot read a temporary file in " + FSpillFolder + ": " + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace spreadsheet
