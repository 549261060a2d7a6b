// A part compressed on two cores before it goes into the package: the
// writer's bytes are cut into blocks, each block deflated on its own with
// the end of the block before as its dictionary, and the pieces joined into
// one raw deflate stream (every block but the last ends on a byte boundary
// without the final mark), which any zip reader inflates as one.
#pragma once

#include <cstdint>
#include <string>

#include "spreadsheet/Package.h"

namespace spreadsheet {

class TDeflatedPart {
 public:
  // Runs `writer` to its end; raises what the writer raises, or
  // EPackageError. Compressed data beyond a few megabytes waits in an
  // unnamed file in `spillFolder`, not in memory.
  TDeflatedPart(const TPartWriter& writer, int level, const std::string& spillFolder);
  ~TDeflatedPart();
  TDeflatedPart(const TDeflatedPart&) = delete;
  TDeflatedPart& operator=(const TDeflatedPart&) = delete;

  uint64_t Size() const { return FSize; }  // before compression
  uint64_t CompressedSize() const { return FCompressedSize; }
  uint32_t Crc() const { return FCrc; }
  // Copies up to `length` compressed bytes from `offset`; how many.
  size_t Read(uint64_t offset, char* data, size_t length) const;

  static constexpr size_t kBlock = 1 << 20;

 private:
  void Append(const std::string& piece);
  void WriteSpill(const std::string& piece);

  uint64_t FSize = 0, FCompressedSize = 0;
  uint32_t FCrc = 0;
  std::string FHeld;  // the compressed data while it is small
  int FSpill = -1;    // or the file holding all of it
  std::string FSpillFolder;
};

}  // namespace spreadsheet
