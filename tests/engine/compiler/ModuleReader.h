// An independent reader of the compiled module and debug information, kept
// in the tests so the writer is checked against the format, not itself.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace ps::test {

struct ReadAttribute {
  std::string name;
  std::vector<std::pair<uint32_t, std::string>> values;  // type index, raw bytes
};
struct ReadType {
  uint8_t code = 0;
  bool exported = false;
  std::string exportName;
  std::vector<uint32_t> fields;  // record field types / element type
  uint32_t count = 0;            // static array count, set bits
  int32_t start = 0;
  std::string info;  // proc-pointer param info, class name, interface GUID
  std::vector<ReadAttribute> attributes;
};
struct ReadProc {
  uint8_t flags = 0;
  std::string name, decl;
  uint32_t offset = 0, length = 0;
  std::string code;
  std::vector<ReadAttribute> attributes;
};
struct ReadVar {
  uint32_t type = 0;
  bool exported = false;
  std::string name;
};
struct ReadModule {
  uint32_t magic = 0, version = 0, mainProc = 0, reserved = 0;
  std::vector<ReadType> types;
  std::vector<ReadProc> procs;
  std::vector<ReadVar> vars;
};

class ByteReader {
 public:
  explicit ByteReader(const std::string& data) : FData(data) {}
  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(FData[FPos++]);
  }
  uint32_t UInt32() {
    Need(4);
    uint32_t v;
    std::memcpy(&v, FData.data() + FPos, 4);
    FPos += 4;
    return v;
  }
  std::string Bytes(size_t n) {
    Need(n);
    std::string s = FData.substr(FPos, n);
    FPos += n;
    return s;
  }
  std::string Name() { return Bytes(UInt32()); }
  // A debug name list: names ended by 0x01, the list by 0x00.
  std::vector<std::string> NameList() {
    std::vector<std::string> names;
    std::string current;
    while (true) {
      uint8_t b = Byte();
      if (b == 0) return names;
      if (b == 1) {
        names.push_back(current);
        current.clear();
      } else {
        current.push_back(static_cast<char>(b));
      }
    }
  }
  size_t Pos() const { return FPos; }
  bool AtEnd() const { return FPos == FData.size(); }

 private:
  void Need(size_t n) const {
    if (FPos + n > FData.size()) throw std::runtime_error("truncated at " + std::to_string(FPos));
  }
  const std::string& FData;
  size_t FPos = 0;
};

// Size of an encoded value by its type's base code.
inline std::string ReadValue(ByteReader& r, const std::vector<ReadType>& types, uint32_t typeNo) {
  if (typeNo >= types.size()) throw std::runtime_error("value type out of range");
  switch (types[typeNo].code) {
    case 1:
    case 2:
    case 18: return r.Bytes(1);
    case 3:
    case 4:
    case 20: return r.Bytes(2);
    case 5:
    case 6:
    case 7:
    case 21: return r.Bytes(4);
    case 8:
    case 17:
    case 24: return r.Bytes(8);
    case 9: return r.Bytes(10);
    case 10:
    case 14: return r.Name();
    case 19:
    case 28: return r.Bytes(2 * r.UInt32());
    case 23: return r.Bytes((types[typeNo].count + 7) / 8);
    default: throw std::runtime_error("value of a type that cannot be encoded");
  }
}

inline std::vector<ReadAttribute> ReadAttributes(ByteReader& r, const std::vector<ReadType>& types) {
  std::vector<ReadAttribute> list(r.UInt32());
  for (auto& a : list) {
    a.name = r.Name();
    uint32_t count = r.UInt32();
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t type = r.UInt32();
      a.values.emplace_back(type, ReadValue(r, types, type));
    }
  }
  return list;
}

inline ReadModule ReadModuleBytes(const std::string& data) {
  ByteReader r(data);
  ReadModule m;
  m.magic = r.UInt32();
  m.version = r.UInt32();
  uint32_t typeCount = r.UInt32(), procCount = r.UInt32(), varCount = r.UInt32();
  m.mainProc = r.UInt32();
  m.reserved = r.UInt32();
  for (uint32_t i = 0; i < typeCount; ++i) {
    ReadType t;
    uint8_t b = r.Byte();
    t.code = b & 0x7F;
    t.exported = (b & 0x80) != 0;
    switch (t.code) {
      case 11: {
        uint32_t n = r.UInt32();
        for (uint32_t f = 0; f < n; ++f) t.fields.push_back(r.UInt32());
        break;
      }
      case 12: t.fields.push_back(r.UInt32()); break;
      case 22:
        t.fields.push_back(r.UInt32());
        t.count = r.UInt32();
        t.start = static_cast<int32_t>(r.UInt32());
        break;
      case 23: t.count = r.UInt32(); break;
      case 21:
      case 25: t.info = r.Name(); break;
      case 26: t.info = r.Bytes(16); break;
      default:
        if (t.code == 0 || t.code == 15 || t.code == 27 || t.code > 28) throw std::runtime_error("bad type code");
    }
    for (uint32_t f : t.fields)
      if (f >= i) throw std::runtime_error("forward type reference");
    if (t.exported) t.exportName = r.Name();
    m.types.push_back(t);
    m.types.back().attributes = ReadAttributes(r, m.types);
  }
  for (uint32_t i = 0; i < procCount; ++i) {
    ReadProc p;
    p.flags = r.Byte();
    if (p.flags & 1) {
      p.name = r.Bytes(r.Byte());
      if (p.flags & 2) p.decl = r.Name();
    } else {
      p.offset = r.UInt32();
      p.length = r.UInt32();
      if (p.flags & 2) {
        p.name = r.Name();
        p.decl = r.Name();
      }
    }
    if (p.flags & 4) p.attributes = ReadAttributes(r, m.types);
    m.procs.push_back(p);
  }
  for (uint32_t i = 0; i < varCount; ++i) {
    ReadVar v;
    v.type = r.UInt32();
    if (v.type >= typeCount) throw std::runtime_error("variable type out of range");
    v.exported = (r.Byte() & 1) != 0;
    if (v.exported) v.name = r.Name();
    m.vars.push_back(v);
  }
  for (auto& p : m.procs) {
    if (p.flags & 1) continue;
    if (p.length == 0 || p.offset + p.length > data.size()) throw std::runtime_error("bad code block");
    p.code = data.substr(p.offset, p.length);
  }
  return m;
}

struct DebugRecords {
  std::vector<std::string> procNames, varNames;
  std::vector<std::pair<uint32_t, std::vector<std::string>>> params, locals;
  struct Position {
    std::string file;
    uint32_t proc, codePos, sourcePos, row, col;
  };
  std::vector<Position> positions;
  std::vector<uint8_t> tags;
};

inline DebugRecords ReadDebug(const std::string& data) {
  ByteReader r(data);
  DebugRecords d;
  while (!r.AtEnd()) {
    uint8_t tag = r.Byte();
    d.tags.push_back(tag);
    switch (tag) {
      case 0: d.procNames = r.NameList(); break;
      case 1: d.varNames = r.NameList(); break;
      case 2: {
        uint32_t proc = r.UInt32();
        d.params.emplace_back(proc, r.NameList());
        break;
      }
      case 3: {
        uint32_t proc = r.UInt32();
        d.locals.emplace_back(proc, r.NameList());
        break;
      }
      case 4: {
        DebugRecords::Position p;
        uint8_t b;
        while ((b = r.Byte()) != 1) p.file.push_back(static_cast<char>(b));
        p.proc = r.UInt32();
        p.codePos = r.UInt32();
        p.sourcePos = r.UInt32();
        p.row = r.UInt32();
        p.col = r.UInt32();
        d.positions.push_back(p);
        break;
      }
      default: throw std::runtime_error("unknown debug tag");
    }
  }
  return d;
}

}  // namespace ps::test
