// The pre-decoded instructions against the general instruction loop: every
// module runs twice, free-running (quick handlers) and with a run-line hook
// (which keeps the executor in the general loop), and both runs must leave
// the same values, the same error and the same error position.
#include <signal.h>
#include <sys/time.h>

#include <cmath>
#include <functional>
#include <limits>

#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

// A value of one of the kinds under test, written into a global before the run.
struct TValue {
  TPSBaseType Type;
  std::string Bytes;    // plain kinds
  std::u16string Text;  // strings
};

template <class T>
TValue V(TPSBaseType type, T v) {
  return {type, std::string(reinterpret_cast<const char*>(&v), sizeof v), {}};
}
TValue S(std::u16string text) { return {btUnicodeString, {}, std::move(text)}; }

std::vector<TValue> ValuesOf(TPSBaseType t) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  switch (t) {
    case btU8: return {V<uint8_t>(t, 0), V<uint8_t>(t, 1), V<uint8_t>(t, 255)};
    case btS32:
      return {V<int32_t>(t, 0), V<int32_t>(t, 7), V<int32_t>(t, -1), V<int32_t>(t, INT32_MIN),
              V<int32_t>(t, INT32_MAX)};
    case btU32: return {V<uint32_t>(t, 0), V<uint32_t>(t, 3), V<uint32_t>(t, 0x80000000u), V<uint32_t>(t, ~0u)};
    case btS64: return {V<int64_t>(t, 0), V<int64_t>(t, -1), V<int64_t>(t, INT64_MIN), V<int64_t>(t, INT64_MAX)};
    case btDouble:
      return {V<double>(t, 0.0), V<double>(t, -2.5), V<double>(t, 1e308), V<double>(t, nan), V<double>(t, inf)};
    case btChar:
      return {V<uint8_t>(t, 0), V<uint8_t>(t, '0'), V<uint8_t>(t, 0x7F), V<uint8_t>(t, 0x80), V<uint8_t>(t, 0xFF)};
    case btWideChar:
      return {V<uint16_t>(t, 0),    V<uint16_t>(t, '9'),  V<uint16_t>(t, 0x7F),
              V<uint16_t>(t, 0x80), V<uint16_t>(t, 0xFF), V<uint16_t>(t, 0xFFFF)};
    default: return {S(u""), S(u"ab")};
  }
}

// The module: G0 and G1 of the two kinds, G2 an Integer, G3 a Boolean marker,
// G4 a dynamic array of Integer; the main procedure comes from `emit`.
struct TCase {
  TModuleBuilder B;
  uint32_t T0, T1, S32, U8, Arr;
  TCase(TPSBaseType a, TPSBaseType b) {
    T0 = B.Type(a);
    T1 = B.Type(b);
    S32 = B.Type(btS32);
    U8 = B.Type(btU8);
    Arr = B.DynArray(S32);
    B.Var(T0);
    B.Var(T1);
    B.Var(S32);
    B.Var(U8);
    B.Var(Arr);
  }
};

struct TOutcome {
  bool Ok;
  TPSError Code;
  int32_t Proc, Pos;
  std::vector<std::string> Globals;
};

void Put(TPSExec& x, int var, const TValue& v) {
  if (v.Type == btUnicodeString)
    x.GlobalVars().SetUnicodeString(var, v.Text);
  else
    std::memcpy(x.GetVarNo(var), v.Bytes.data(), v.Bytes.size());
}

TOutcome RunOnce(const std::string& module, const TValue& a, const TValue& b, int arrayLength, bool general) {
  TPSExec x;
  EXPECT_TRUE(x.LoadData(module));
  if (general) x.SetOnRunLine([](TPSExec*) {});
  Put(x, 0, a);
  Put(x, 1, b);
  int32_t two = 2;
  std::memcpy(x.GetVarNo(2), &two, 4);
  if (arrayLength > 0) {
    // Elements 10, 11, ... (no array at all for 0).
    TPSTypeRec* arr = x.GetVarType(4);
    PSDynArraySetLength(x.GetVarNo(4), arr, arrayLength);
    for (int i = 0; i < arrayLength; ++i) PSSetInt(PSDynArrayElement(x.GetVarNo(4), arr, i), x.GetTypeNo(2), 10 + i);
  }
  TOutcome o;
  o.Ok = x.RunScript();
  o.Code = x.ExceptionCode();
  o.Proc = x.ExceptionProcNo();
  o.Pos = x.ExceptionPos();
  for (int i = 0; i < x.GetVarCount(); ++i) {
    const TPSTypeRec* t = x.GetVarType(i);
    if (t->FBaseType == btUnicodeString || t->FBaseType == btString)
      o.Globals.push_back(rtl::UnicodeToUtf8(x.GlobalVars().GetUnicodeString(i)));
    else if (t->FBaseType == btPointer) {  // addresses differ from run to run: what it refers to
      TPSPointerValue pv;
      std::memcpy(&pv, x.GetVarNo(i), sizeof pv);
      o.Globals.push_back(std::to_string(pv.Target != nullptr) + std::to_string(pv.Type ? pv.Type->FBaseType : 0) +
                          std::to_string(pv.Owning));
    } else if (t->FBaseType != btArray)
      o.Globals.push_back(std::string(reinterpret_cast<const char*>(x.GetVarNo(i)), t->FRealSize));
    else
      for (uint32_t e = 0; e < PSDynArrayGetLength(x.GetVarNo(i), t); ++e)
        o.Globals.push_back(std::to_string(PSGetInt(PSDynArrayElement(x.GetVarNo(i), t, e), x.GetTypeNo(2))));
  }
  return o;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// Runs the module both ways over every pair of values and compares.
void ExpectSameBothWays(const std::string& what, const TModuleBuilder& b, TPSBaseType a, TPSBaseType c,
                        int arrayLength = -1) {
  const std::string module = b.Build();
  for (const TValue& va : ValuesOf(a))
    for (const TValue& vb : ValuesOf(c)) {
      const TOutcome fast = RunOnce(module, va, vb, arrayLength, false);
      const TOutcome general = RunOnce(module, va, vb, arrayLength, true);
      const std::string label = what + " on " + Hex(va.Bytes) + rtl::UnicodeToUtf8(va.Text) + ", " + Hex(vb.Bytes) +
                                rtl::UnicodeToUtf8(vb.Text);
      EXPECT_EQ(fast.Ok, general.Ok) << label;
      EXPECT_EQ(fast.Code, general.Code) << label;
      EXPECT_EQ(fast.Proc, general.Proc) << label;
      EXPECT_EQ(fast.Pos, general.Pos) << label;
      ASSERT_EQ(fast.Globals.size(), general.Globals.size()) << label;
      for (size_t i = 0; i < fast.Globals.size(); ++i)
        EXPECT_EQ(Hex(fast.Globals[i]), Hex(general.Globals[i])) << label << ", global " << i;
    }
}

const TPSBaseType Kinds[] = {btU8, btS32, btU32, btS64, btDouble, btUnicodeString};

// Operands as globals, as frame entries, and a constant source.
enum TPlace { InGlobals, OnTheStack, ConstantSource };
const TPlace Places[] = {InGlobals, OnTheStack, ConstantSource};

// Emits `op dst, src` (dst of kind a in G0, src of kind b in G1) in the placing.
void EmitBinary(TCase& m, TCode& c, TPlace place, const std::function<void(TCode&)>& head, uint32_t dst, uint32_t src) {
  if (place == OnTheStack) {
    c.PushType(m.T0).PushType(m.T1);
    c.Assign().Var(L(1)).Var(G(0));
    c.Assign().Var(L(2)).Var(G(1));
    head(c);
    c.Var(L(1)).Var(L(2));
    c.Assign().Var(G(0)).Var(L(1));
    c.Pop().Pop();
    return;
  }
  head(c);
  c.Var(dst);
  if (place == ConstantSource)
    c.Const<int32_t>(m.S32, -7);
  else
    c.Var(src);
}

}  // namespace

TEST(FastPath, AssignmentCalculationAndIncrementMatchTheGeneralLoop) {
  for (TPSBaseType a : Kinds)
    for (TPSBaseType b : Kinds)
      for (TPlace place : Places) {
        if (place == ConstantSource && b != btS32) continue;
        const std::string kinds = std::to_string(a) + "/" + std::to_string(b) + " place " + std::to_string(place);
        {
          TCase m(a, b);
          TCode c;
          EmitBinary(
              m, c, place, [](TCode& x) { x.Assign(); }, G(0), G(1));
          c.Ret();
          m.B.Main(c);
          ExpectSameBothWays("assign " + kinds, m.B, a, b);
        }
        for (uint8_t op = CalcAdd; op <= CalcXor; ++op) {
          TCase m(a, b);
          TCode c;
          EmitBinary(
              m, c, place, [op](TCode& x) { x.Calc(op); }, G(0), G(1));
          c.Ret();
          m.B.Main(c);
          ExpectSameBothWays("calc " + std::to_string(op) + " " + kinds, m.B, a, b);
        }
      }
  // A value worked out in a temporary of the second kind and stored back.
  for (TPSBaseType a : Kinds)
    for (TPSBaseType b : Kinds)
      for (uint8_t op = CalcAdd; op <= CalcXor; ++op) {
        TCase m(a, b);
        TCode c;
        c.PushType(m.T1).Assign().Var(L(1)).Var(G(1)).Calc(op).Var(L(1)).Var(G(0));
        c.Assign().Var(G(1)).Var(L(1)).Pop().Ret();
        m.B.Main(c);
        ExpectSameBothWays("temporary " + std::to_string(op) + " " + std::to_string(a) + "/" + std::to_string(b), m.B,
                           a, b);
      }
  // An argument worked out in a pushed entry that stays for a call.
  for (TPSBaseType a : Kinds)
    for (TPSBaseType b : Kinds)
      for (uint8_t op = CalcAdd; op <= CalcMul; ++op) {
        TCase m(a, b);
        TCode c;
        c.PushType(m.S32).Assign().Var(L(1)).Var(G(0)).Calc(op).Var(L(1)).Var(G(1));
        c.Push().Var(G(2)).Pop();
        c.Assign().Var(G(2)).Var(L(1)).Pop().Ret();
        m.B.Main(c);
        ExpectSameBothWays("argument " + std::to_string(op) + " " + std::to_string(a) + "/" + std::to_string(b), m.B, a,
                           b);
      }
  for (TPSBaseType a : Kinds)
    for (uint8_t op : {OpIncrement, OpDecrement}) {
      TCase m(a, btS32);
      TCode c;
      c.Op(op).Var(G(0));
      c.PushType(m.T0).Assign().Var(L(1)).Var(G(0)).Op(op).Var(L(1)).Assign().Var(G(0)).Var(L(1)).Pop();
      c.Ret();
      m.B.Main(c);
      ExpectSameBothWays("inc/dec " + std::to_string(a), m.B, a, btS32);
    }
}

TEST(FastPath, EntriesPushedCopiedAndDroppedInRunsMatchTheGeneralLoop) {
  // Copies of every kind (strings share their block) pushed, assigned on the
  // stack and dropped by runs of pops: with entries that need finalising in
  // the run (a variant, an owning pointer), a jump into the middle of a run,
  // and more pops than entries. The strings are read after the run, so a
  // reference released once too often or too rarely shows (and the
  // sanitizer tree reports it).
  std::vector<TPSBaseType> kinds(std::begin(Kinds), std::end(Kinds));
  kinds.push_back(btString);
  for (TPSBaseType a : kinds)
    for (TPSBaseType b : kinds)
      for (int form = 0; form < 5; ++form) {
        TCase m(a, b);
        const uint32_t variant = m.B.Type(btVariant), pointer = m.B.Type(btPointer);
        TCode c;
        c.Push().Var(G(2));  // stays below the run
        c.Push().Var(G(0)).Push().Var(G(1)).PushType(m.T0);
        c.Assign().Var(L(4)).Var(L(2));  // a second reference to G0's text
        c.Assign().Var(G(1)).Var(L(3));
        if (form == 1) c.PushType(variant).Assign().Var(L(5)).Var(G(0));
        if (form == 2) c.PushType(pointer).Op(OpSetPointerCopy).Var(L(5)).Var(G(0));  // owns a copy
        if (form == 3) c.Jump(1);
        c.Pop();
        if (form == 1 || form == 2) c.Pop();
        c.Mark(1).Pop().Pop();
        if (form == 4) c.Pop().Pop();  // one more than there are
        c.Assign().Var(G(0)).Var(G(1));
        // Exactly the first entry is left: it is read, the next one is not there.
        c.Calc(CalcAdd).Var(G(2)).Var(L(1)).Assign().Var(G(2)).Var(L(2));
        c.Ret();
        m.B.Main(c);
        ExpectSameBothWays("pushed and dropped form " + std::to_string(form) + " " + std::to_string(a) + "/" +
                               std::to_string(b),
                           m.B, a, b);
      }
}

TEST(FastPath, CalculationsInARowOnOneIntegerMatchTheGeneralLoop) {
  // Two and three calculations on the same destination, started from it or
  // from an assignment, with the destination as an operand on the way and
  // every operator in every position (a division by 0 or -1 inside the row
  // leaves the rest to the instructions themselves).
  for (TPSBaseType a : {btS32, btU32})
    for (TPSBaseType b : {btS32, btU32})
      for (uint8_t k1 = CalcAdd; k1 <= CalcXor; ++k1)
        for (uint8_t k2 = CalcAdd; k2 <= CalcXor; ++k2)
          for (int form = 0; form < 2; ++form) {
            if (form == 1 && k2 != (k1 + 3) % 10) continue;
            TCase m(a, b);
            TCode c;
            if (form == 0) {
              c.Calc(k1).Var(G(0)).Var(G(1)).Calc(k2).Var(G(0)).Var(G(2));
            } else {
              c.Assign().Var(G(0)).Var(G(1)).Calc(k1).Var(G(0)).Var(G(2));
              c.Calc(k2).Var(G(0)).Var(G(0)).Calc((k1 + 7) % 10).Var(G(0)).Var(G(1));
            }
            c.Ret();
            m.B.Main(c);
            ExpectSameBothWays("row " + std::to_string(k1) + "," + std::to_string(k2) + " form " +
                                   std::to_string(form) + " " + std::to_string(a) + "/" + std::to_string(b),
                               m.B, a, b);
          }
}

TEST(FastPath, ComparisonsAndConditionalJumpsMatchTheGeneralLoop) {
  for (TPSBaseType a : Kinds)
    for (TPSBaseType b : Kinds)
      for (uint8_t op = CmpGreaterEqual; op <= CmpEqual; ++op) {
        // Into a global Boolean, into a frame temporary tested by a jump (with
        // and without a counter step between), and through the jump flag
        // (from a temporary, and from a global with an entry dropped between),
        // and with the right side in a temporary of its own.
        for (int form = 0; form < 6; ++form) {
          TCase m(a, b);
          TCode c;
          if (form == 0) {
            c.Compare(op).Var(G(3)).Var(G(0)).Var(G(1));
          } else if (form < 3) {
            c.PushType(m.U8).Compare(op).Var(L(1)).Var(G(0)).Var(G(1));
            if (form == 2) c.Op(OpIncrement).Var(G(0));
            c.Op(op % 2 ? OpJumpIfTrue : OpJumpIfFalse).JumpField(1).Var(L(1)).EndJump();
            c.Assign().Var(G(3)).Const<uint8_t>(m.U8, 7);
            c.Mark(1).Pop();
          } else if (form == 5) {
            // The right side worked out in a temporary of its own, as a loop bound is.
            c.PushType(m.U8).PushType(m.T1).Assign().Var(L(2)).Var(G(1));
            c.Compare(op).Var(L(1)).Var(G(0)).Var(L(2)).Pop();
            c.Op(OpIncrement).Var(G(0));
            c.Op(op % 2 ? OpJumpIfTrue : OpJumpIfFalse).JumpField(1).Var(L(1)).EndJump();
            c.Assign().Var(G(3)).Const<uint8_t>(m.U8, 7);
            c.Mark(1).Pop();
          } else if (form == 4) {
            c.PushType(m.U8).Compare(op).Var(G(3)).Var(G(0)).Var(G(1));
            c.Op(OpSetFlag).Var(G(3)).Byte(op % 2);
            c.Pop().Op(OpJumpIfFlag).JumpField(1).EndJump();
            c.Assign().Var(G(3)).Const<uint8_t>(m.U8, 9);
            c.Mark(1);
            c.Assign().Var(G(2)).Var(L(1));  // the entry is gone: out of stack range
          } else {
            c.PushType(m.U8).Compare(op).Var(L(1)).Var(G(0)).Var(G(1));
            c.Op(OpSetFlag).Var(L(1)).Byte(op % 2);
            c.Pop().Op(OpJumpIfFlag).JumpField(1).EndJump();
            c.Assign().Var(G(3)).Const<uint8_t>(m.U8, 9);
            c.Mark(1);
          }
          c.Ret();
          m.B.Main(c);
          ExpectSameBothWays("compare " + std::to_string(op) + " form " + std::to_string(form) + " " +
                                 std::to_string(a) + "/" + std::to_string(b),
                             m.B, a, b);
        }
      }
}

TEST(FastPath, CharactersCompareAsTheGeneralLoopComparesThem) {
  // Either width on either side, across the ASCII boundary (a Char above it
  // is a fragment of UTF-8), and against a string.
  for (TPSBaseType a : {btChar, btWideChar, btUnicodeString})
    for (TPSBaseType b : {btChar, btWideChar})
      for (uint8_t op = CmpGreaterEqual; op <= CmpEqual; ++op)
        for (bool swap : {false, true}) {
          TCase m(a, b);
          TCode c;
          c.Compare(op).Var(G(3)).Var(G(swap ? 1 : 0)).Var(G(swap ? 0 : 1)).Ret();
          m.B.Main(c);
          ExpectSameBothWays("characters " + std::to_string(op) + " " + std::to_string(a) + "/" + std::to_string(b) +
                                 (swap ? " swapped" : ""),
                             m.B, a, b);
        }
}

TEST(FastPath, PointersSetToVariablesMatchTheGeneralLoop) {
  // A pointer (global or frame entry) set to a variable, to a frame entry
  // and to what another pointer refers to, then written through; a pointer
  // that owns a copy, a destination that is no pointer and a constant
  // source go to the general loop, which reports the last two.
  for (int form = 0; form < 7; ++form) {
    TCase m(btS32, btS32);
    const uint32_t pointer = m.B.Type(btPointer);
    m.B.Var(pointer);  // G5
    TCode c;
    c.PushType(m.S32).PushType(pointer).PushType(pointer);  // L(1) an Integer, L(2) and L(3) pointers
    c.Assign().Var(L(1)).Var(G(0));
    switch (form) {
      case 0: c.Op(OpSetPointer).Var(G(5)).Var(G(1)); break;
      case 1: c.Op(OpSetPointer).Var(L(2)).Var(L(1)); break;
      case 2: c.Op(OpSetPointer).Var(L(3)).Var(G(1)).Op(OpSetPointer).Var(G(5)).Var(L(3)); break;
      case 3: c.Op(OpSetPointerCopy).Var(G(5)).Var(G(0)).Op(OpSetPointer).Var(G(5)).Var(G(1)); break;
      case 4: c.Op(OpSetPointer).Var(G(2)).Var(G(1)); break;
      case 5: c.Op(OpSetPointer).Var(G(5)).Const<int32_t>(m.S32, 4); break;
      case 6: c.Op(OpSetPointer).Var(L(2)).Var(L(4)); break;  // no such entry
    }
    const uint32_t through = form == 1 ? L(2) : G(5);
    c.Calc(CalcAdd).Var(through).Const<int32_t>(m.S32, 100);
    c.Assign().Var(G(0)).Var(L(1)).Pop().Pop().Pop().Ret();
    m.B.Main(c);
    ExpectSameBothWays("set pointer form " + std::to_string(form), m.B, btS32, btS32);
  }
}

TEST(FastPath, ArrayElementsMatchTheGeneralLoopIncludingNilAndOutOfRange) {
  // Index G2 = 2 (or the value under test in G0 when it is an Integer).
  for (int length : {0, 2, 3, 5})
    for (int form = 0; form < 4; ++form) {
      TCase m(btS32, btS32);
      TCode c;
      if (form == 0) c.Assign().Var(G(1)).ElemVar(G(4), G(2));  // read at 2
      if (form == 1) c.Assign().ElemVar(G(4), G(0)).Var(G(1));  // write at the value of G0
      if (form == 2) c.Calc(CalcAdd).Elem(G(4), 4).Var(G(1));   // constant index 4
      if (form == 3) {                                          // index and array on the stack
        c.PushType(m.S32).Assign().Var(L(1)).Var(G(0));
        c.Assign().Var(G(1)).ElemVar(G(4), L(1)).Pop();
      }
      c.Ret();
      m.B.Main(c);
      ExpectSameBothWays("element form " + std::to_string(form) + " length " + std::to_string(length), m.B, btS32,
                         btS32, length);
    }
}

TEST(FastPath, FailuresReportTheEndOfTheInstructionAsTheGeneralLoopDoes) {
  // A division by zero, an index past the end and a nil array inside the
  // quick handlers: the position is where the general loop stood.
  struct Case {
    const char* name;
    std::function<void(TCase&, TCode&)> emit;
    TPSError code;
  };
  const Case cases[] = {
      {"divide by zero", [](TCase&, TCode& c) { c.Calc(CalcDiv).Var(G(0)).Var(G(1)); }, ErDivideByZero},
      {"modulo by a zero constant", [](TCase& m, TCode& c) { c.Calc(CalcMod).Var(G(0)).Const<int32_t>(m.S32, 0); },
       ErDivideByZero},
      {"nil array", [](TCase&, TCode& c) { c.Assign().Var(G(0)).ElemVar(G(4), G(2)); }, ErOutOfRange},
  };
  for (const Case& tc : cases) {
    TCase m(btS32, btS32);
    TCode c;
    c.Op(OpNop);
    tc.emit(m, c);
    const auto end = static_cast<int32_t>(c.Bytes.size());
    c.Ret();
    m.B.Main(c);
    const TOutcome fast = RunOnce(m.B.Build(), V<int32_t>(btS32, 5), V<int32_t>(btS32, 0), -1, false);
    EXPECT_FALSE(fast.Ok) << tc.name;
    EXPECT_EQ(fast.Code, tc.code) << tc.name;
    EXPECT_EQ(fast.Pos, end) << tc.name;
    EXPECT_EQ(fast.Proc, 0) << tc.name;
  }
}

TEST(FastPath, JumpsIntoTheMiddleOfAnInstructionAndOffTheEndBehaveAsBefore) {
  // The addition spans bytes 1 to 16; byte 16 (the top byte of its constant)
  // decodes as an assignment whose operand kind is the next opcode.
  for (int form = 0; form < 3; ++form) {
    TCase m(btS32, btS32);
    TCode c;
    c.Op(OpNop).Calc(CalcAdd).Var(G(0)).Const<int32_t>(m.S32, 1);
    if (form == 0) c.Op(OpJump).I32(16 - 22);
    if (form == 1) c.Op(OpJump).I32(1);  // past the return, to the end of the code
    if (form == 2) c.Op(OpJumpIfTrue).I32(16 - 27).Var(G(0));
    c.Ret();
    m.B.Main(c);
    ExpectSameBothWays("jump form " + std::to_string(form), m.B, btS32, btS32);
  }
}

namespace {
TPSExec* StopTarget = nullptr;
void StopOnAlarm(int) {
  if (StopTarget) StopTarget->TPSExec::Stop();
}
}  // namespace

TEST(FastPath, StopFromASignalHandlerEndsLoopsOfTheFastLoop) {
  // Each loop would run for seconds (up to the highest Integer, or, for a
  // procedure calling itself without end, until the stack's bound); a timer
  // stops it after 20 ms, as a job's time limit does.
  for (int form = 0; form < 4; ++form) {
    TCase m(btS32, btS32);
    TCode c;
    if (form == 3) {  // only calls: no jump back at all
      TCode self;
      self.Op(OpIncrement).Var(G(0)).Call(0).Ret();
      m.B.Proc(self);
      c.Call(0);
    }
    if (form == 1) c.PushType(m.U8);
    c.Mark(1);
    if (form == 0) {  // a conditional jump back
      c.Op(OpIncrement).Var(G(0)).Compare(CmpNotEqual).Var(G(3)).Var(G(0)).Var(G(1));
      c.Op(OpJumpIfTrue).JumpField(1).Var(G(3)).EndJump();
    } else if (form == 1) {  // a counting loop's fused bound check
      c.Compare(CmpNotEqual).Var(L(1)).Var(G(0)).Var(G(1)).Op(OpIncrement).Var(G(0));
      c.Op(OpJumpIfTrue).JumpField(1).Var(L(1)).EndJump().Pop();
    } else if (form == 2) {  // a plain jump back
      c.Op(OpIncrement).Var(G(0)).Compare(CmpEqual).Var(G(3)).Var(G(0)).Var(G(1));
      c.Op(OpJumpIfTrue).JumpField(2).Var(G(3)).EndJump().Jump(1).Mark(2);
    }
    c.Ret();
    m.B.Main(c);
    TPSExec x;
    ASSERT_TRUE(x.LoadData(m.B.Build()));
    const int32_t highest = INT32_MAX;
    std::memcpy(x.GetVarNo(1), &highest, 4);
    StopTarget = &x;
    struct sigaction action {
    }, previous{};
    action.sa_handler = StopOnAlarm;
    sigaction(SIGALRM, &action, &previous);
    itimerval timer{{0, 0}, {0, 20000}};
    setitimer(ITIMER_REAL, &timer, nullptr);
    x.RunScript();
    itimerval off{{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    StopTarget = nullptr;
    int32_t reached;
    std::memcpy(&reached, x.GetVarNo(0), 4);
    EXPECT_EQ(x.Status(), isLoaded) << "form " << form;
    EXPECT_EQ(x.ExceptionCode(), ErNoError) << "form " << form;
    EXPECT_GT(reached, 0) << "form " << form;
    EXPECT_LT(reached, highest) << "form " << form << ": the loop ran to its end";
    // The calls stopped long before the stack's bound (a return address
    // entry takes 24 bytes) would have ended them.
    if (form == 3) {
      EXPECT_LT(reached, int64_t(TPSStack::DefaultMaxLength / 24 / 2)) << "the calls ran to the bound";
    }
  }
}

TEST(FastPath, LoopsReadingAFreshTemporaryMatchTheGeneralLoop) {
  // A loop (which runs in the register form) adding into a temporary it has
  // just pushed: the temporary starts at zero however the loop runs it.
  TCase m(btS32, btS32);
  TCode c;
  c.Mark(1).PushType(m.S32).Calc(CalcAdd).Var(L(1)).Var(G(1)).Calc(CalcAdd).Var(G(0)).Var(L(1)).Pop();
  c.Op(OpIncrement).Var(G(2)).Compare(CmpLess).Var(G(3)).Var(G(2)).Const<int32_t>(m.S32, 50);
  c.Op(OpJumpIfTrue).JumpField(1).Var(G(3)).EndJump().Ret();
  m.B.Main(c);
  ExpectSameBothWays("fresh temporary", m.B, btS32, btS32);
}

TEST(FastPath, LongRunsOfOneByteInstructionsLoadAndRunQuickly) {
  // 400,000 no-operations and a counter step: translated in linear time and
  // bounded size, the part past the bound running through the general loop.
  TCase m(btS32, btS32);
  TCode c;
  for (int i = 0; i < 400000; ++i) c.Op(OpNop);
  c.Op(OpIncrement).Var(G(0)).Ret();
  m.B.Main(c);
  const TOutcome fast = RunOnce(m.B.Build(), V<int32_t>(btS32, 41), V<int32_t>(btS32, 0), -1, false);
  EXPECT_TRUE(fast.Ok);
  int32_t result;
  std::memcpy(&result, fast.Globals[0].data(), 4);
  EXPECT_EQ(result, 42);
  // A loop below 100,000 entries pushed: following the frame stays linear
  // (the loop runs as the general loops run it).
  TCase deep(btS32, btS32);
  TCode d;
  for (int i = 0; i < 100000; ++i) d.PushType(deep.S32);
  d.Mark(1).Op(OpIncrement).Var(G(0)).Compare(CmpLess).Var(G(3)).Var(G(0)).Var(G(1));
  d.Op(OpJumpIfTrue).JumpField(1).Var(G(3)).EndJump();
  for (int i = 0; i < 100000; ++i) d.Pop();
  d.Ret();
  deep.B.Main(d);
  const TOutcome looped = RunOnce(deep.B.Build(), V<int32_t>(btS32, 0), V<int32_t>(btS32, 1000), -1, false);
  EXPECT_TRUE(looped.Ok);
  std::memcpy(&result, looped.Globals[0].data(), 4);
  EXPECT_EQ(result, 1000);
}
