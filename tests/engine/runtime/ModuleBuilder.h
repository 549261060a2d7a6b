// Assembles compiled modules for executor tests, byte by byte as the module
// format lays them out, without the compiler.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/PSModuleFormat.h"

namespace ps::test {

// Variable references of operands.
constexpr uint32_t G(uint32_t n) { return n; }                                           // global n
constexpr uint32_t L(int32_t n) { return PSStackFrameBase + static_cast<uint32_t>(n); }  // frame slot (1.. locals)

class TCode {
 public:
  std::string Bytes;

  TCode& Op(uint8_t opcode) { return Byte(opcode); }
  TCode& Byte(uint8_t v) {
    Bytes.push_back(static_cast<char>(v));
    return *this;
  }
  TCode& U32(uint32_t v) {
    Bytes.append(reinterpret_cast<const char*>(&v), 4);
    return *this;
  }
  TCode& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  TCode& Raw(const void* p, size_t n) {
    Bytes.append(static_cast<const char*>(p), n);
    return *this;
  }

  // Operands.
  TCode& Var(uint32_t ref) { return Byte(OperandVar).U32(ref); }
  template <class T>
  TCode& Const(uint32_t type, T value) {
    return Byte(OperandConst).U32(type).Raw(&value, sizeof value);
  }
  TCode& ConstBytes(uint32_t type, const std::string& bytes) {
    return Byte(OperandConst).U32(type).Raw(bytes.data(), bytes.size());
  }
  TCode& ConstStr(uint32_t type, const std::string& text) {
    return Byte(OperandConst).U32(type).U32(static_cast<uint32_t>(text.size())).Raw(text.data(), text.size());
  }
  TCode& ConstWide(uint32_t type, const std::u16string& text) {
    return Byte(OperandConst).U32(type).U32(static_cast<uint32_t>(text.size())).Raw(text.data(), text.size() * 2);
  }
  TCode& Elem(uint32_t ref, uint32_t index) { return Byte(OperandElemConst).U32(ref).U32(index); }
  TCode& ElemVar(uint32_t ref, uint32_t indexRef) { return Byte(OperandElemVar).U32(ref).U32(indexRef); }

  // Instructions with operands written by the caller afterwards.
  TCode& Assign() { return Op(OpAssign); }
  TCode& Calc(uint8_t op) { return Op(OpCalculate).Byte(op); }
  TCode& Compare(uint8_t op) { return Op(OpCompare).Byte(op); }
  TCode& Push() { return Op(OpPush); }
  TCode& PushVarRef() { return Op(OpPushVarRef); }
  TCode& PushType(uint32_t type) { return Op(OpPushType).U32(type); }
  TCode& Pop() { return Op(OpPop); }
  TCode& Call(uint32_t proc) { return Op(OpCall).U32(proc); }
  TCode& Ret() { return Op(OpReturn); }
  TCode& TryEnd(uint8_t section) { return Op(OpTryEnd).Byte(section); }

  // Labels: jumps are patched when the label is placed or at Finish.
  TCode& Mark(int label) {
    FLabels[label] = Bytes.size();
    return *this;
  }
  // A jump-like instruction whose offset field comes now; the offset counts
  // from `EndJump()` (after any operand that follows the field).
  TCode& JumpField(int label) {
    FFixups.push_back({Bytes.size(), 0, label});
    return I32(0);
  }
  TCode& EndJump() {
    FFixups.back().End = Bytes.size();
    return *this;
  }
  TCode& Jump(int label) { return Op(OpJump).JumpField(label).EndJump(); }
  // OpTryBegin with labels for finally, except, second finally and end (-1: absent).
  TCode& TryBegin(int fin, int exc, int fin2, int end) {
    Op(OpTryBegin);
    size_t first = FFixups.size();
    for (int label : {fin, exc, fin2, end}) {
      if (label < 0) {
        I32(-1);
      } else {
        JumpField(label);
      }
    }
    for (size_t i = first; i < FFixups.size(); ++i) FFixups[i].End = Bytes.size();
    return *this;
  }
  std::string Finish() const {
    std::string out = Bytes;
    for (const auto& f : FFixups) {
      int32_t offset = static_cast<int32_t>(FLabels.at(f.Label)) - static_cast<int32_t>(f.End);
      std::memcpy(out.data() + f.Field, &offset, 4);
    }
    return out;
  }

 private:
  struct Fixup {
    size_t Field, End;
    int Label;
  };
  std::vector<Fixup> FFixups;
  std::map<int, size_t> FLabels;
};

class TModuleBuilder {
 public:
  uint32_t Version = PSCurrentBuildNo;
  int64_t MainProc = -1;

  // Types. Each returns the type index.
  uint32_t Type(uint8_t code, const std::string& extra = {}, const std::string* name = nullptr) {
    std::string e;
    e.push_back(static_cast<char>(code | (name ? PSTypeExportedFlag : 0)));
    e += extra;
    if (name) e += U32s(static_cast<uint32_t>(name->size())) + *name;
    if (Version > 20) e += U32s(0);  // no attributes
    FTypes.push_back(e);
    return static_cast<uint32_t>(FTypes.size() - 1);
  }
  uint32_t Named(uint8_t code, const std::string& name, const std::string& extra = {}) {
    return Type(code, extra, &name);
  }
  uint32_t Record(const std::vector<uint32_t>& fields) {
    std::string e = U32s(static_cast<uint32_t>(fields.size()));
    for (uint32_t f : fields) e += U32s(f);
    return Type(btRecord, e);
  }
  uint32_t DynArray(uint32_t elem) { return Type(btArray, U32s(elem)); }
  uint32_t StaticArray(uint32_t elem, uint32_t count, int32_t start = 0) {
    return Type(btStaticArray, U32s(elem) + U32s(count) + U32s(static_cast<uint32_t>(start)));
  }
  uint32_t Set(uint32_t bits) { return Type(btSet, U32s(bits)); }
  uint32_t ProcPtr(const std::string& info) { return Type(btProcPtr, U32s(static_cast<uint32_t>(info.size())) + info); }
  uint32_t Class(const std::string& name) { return Type(btClass, U32s(static_cast<uint32_t>(name.size())) + name); }
  // Appends raw bytes as one type entry (for malformed entries).
  void RawType(const std::string& bytes) { FTypes.push_back(bytes); }

  // Procedures. Returns the procedure index.
  uint32_t Proc(const TCode& code, const std::string& exportName = {}, const std::string& decl = {}) {
    FProcs.push_back({false, code.Finish(), exportName, decl, true, {}});
    return static_cast<uint32_t>(FProcs.size() - 1);
  }
  uint32_t External(const std::string& name, const std::string& decl = {}) {
    FProcs.push_back({true, {}, name, decl, !decl.empty(), {}});
    return static_cast<uint32_t>(FProcs.size() - 1);
  }
  uint32_t Main(const TCode& code) {
    MainProc = Proc(code, "!MAIN", "-1");
    return static_cast<uint32_t>(MainProc);
  }
  // Procedure entry bytes written as given; `codeBytes` appended to the code area
  // and located by offset and length at the given field positions, if any.
  void RawProc(const std::string& bytes) { FProcs.push_back({false, {}, {}, {}, false, bytes}); }

  uint32_t Var(uint32_t type, const std::string& exportName = {}) {
    std::string e = U32s(type);
    e.push_back(exportName.empty() ? 0 : PSVarExported);
    if (!exportName.empty()) e += U32s(static_cast<uint32_t>(exportName.size())) + exportName;
    FVars.push_back(e);
    return static_cast<uint32_t>(FVars.size() - 1);
  }

  std::string Build() const {
    std::string out = U32s(PSValidHeader) + U32s(Version) + U32s(static_cast<uint32_t>(FTypes.size())) +
                      U32s(static_cast<uint32_t>(FProcs.size())) + U32s(static_cast<uint32_t>(FVars.size())) +
                      U32s(static_cast<uint32_t>(MainProc)) + U32s(0);
    for (const auto& t : FTypes) out += t;
    std::vector<size_t> patch(FProcs.size(), 0);
    for (size_t i = 0; i < FProcs.size(); ++i) {
      const auto& p = FProcs[i];
      if (!p.RawEntry.empty()) {
        out += p.RawEntry;
        continue;
      }
      if (p.External) {
        out.push_back(static_cast<char>(PSProcExternal | (p.HasDecl ? PSProcExported : 0)));
        out.push_back(static_cast<char>(p.Name.size()));
        out += p.Name;
        if (p.HasDecl) out += U32s(static_cast<uint32_t>(p.Decl.size())) + p.Decl;
        continue;
      }
      out.push_back(static_cast<char>(PSProcExported));
      patch[i] = out.size();
      out += U32s(0) + U32s(0);
      out += U32s(static_cast<uint32_t>(p.Name.size())) + p.Name + U32s(static_cast<uint32_t>(p.Decl.size())) + p.Decl;
    }
    for (const auto& v : FVars) out += v;
    for (size_t i = 0; i < FProcs.size(); ++i) {
      const auto& p = FProcs[i];
      if (p.External || !p.RawEntry.empty()) continue;
      uint32_t offset = static_cast<uint32_t>(out.size()), length = static_cast<uint32_t>(p.Code.size());
      std::memcpy(out.data() + patch[i], &offset, 4);
      std::memcpy(out.data() + patch[i] + 4, &length, 4);
      out += p.Code;
    }
    return out;
  }

  static std::string U32s(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

 private:
  struct TProc {
    bool External;
    std::string Code, Name, Decl;
    bool HasDecl;
    std::string RawEntry;
  };
  std::vector<std::string> FTypes;
  std::vector<TProc> FProcs;
  std::vector<std::string> FVars;
};

}  // namespace ps::test
