// Import texts of class members, shared by the compile-side and run-side
// tests (the compiler's and the executor's headers cannot meet in one file).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ps::test {

std::string MethodImport(const std::string& cls, const std::string& member, bool result,
                         std::initializer_list<uint8_t> params = {});
std::string PropertyImport(const std::string& cls, const std::string& member, uint32_t indexes, bool write);
// One import text per member the standard classes declare (with streams).
std::vector<std::string> StandardClassImportTexts();

}  // namespace ps::test
