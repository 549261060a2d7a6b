#include "FuzzSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fuzz {

namespace {

std::string MakeScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korva-fuzz.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("korva fuzz: cannot make a scratch directory");
    std::abort();
  }
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
  });
  return pattern;
}

}  // namespace

const std::string& ScratchDir() {
  // Never destroyed: the exit handler that removes the directory runs after
  // the destructors of statics made later than it was registered.
  static const std::string* dir = new std::string(MakeScratchDir());
  return *dir;
}

void ClearScratchDir() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    std::perror(("korva fuzz: cannot write " + path).c_str());
    std::abort();
  }
}

}  // namespace fuzz
