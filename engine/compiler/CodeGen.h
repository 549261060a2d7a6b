// The code-producing half of the compiler: expression trees, operands,
// temporaries and the statement compiler that appends bytecode to the
// current procedure. Internal to engine/compiler/.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/uPSCompiler.h"

namespace ps {

// What an expression value is, and the fields of TPSValue each kind reads.
// Position (where the value starts), Type (its type; null for a call of
// a procedure and for a nil not yet given one) and Depth mean the same for
// every kind.
enum class TPSValueKind : uint8_t {
  Const,      // a constant: Const
  Nil,        // `nil`, typed by Coerce where a pointer-like type is wanted
  Var,        // storage read or written in place: BaseRef, BaseType, Selectors
  TypeRef,    // a type named as a value (a class reference, Low(T)): Const.FInt its type number
  ProcPtr,    // a script routine's address (`@P`, or P named bare where a
              // procedural value is wanted): ProcNo, Decl; Bare when named bare
  Call,       // a call of routine ProcNo: Decl, Args, ArgTypes; Bare when a
              // script routine is named without an argument list
  CallValue,  // a call through the procedural value Left: Decl, Args, ArgTypes
  IncDec,     // Inc or Dec of an integer variable, one instruction: Op (otAdd
              // for Inc, otSub for Dec), Args (the variable, then the step if given)
  Unary,      // Op (a TPSUnOperatorType) of Left; otCast converts Left to Type
  Binary,     // Op (a TPSBinOperatorType) of Left and Right
  Array,      // `[a, b, ...]`, a set or an open array once coerced: Args
  // Assignment targets: made only for a statement whose `:=` follows, which
  // compiles them into a call with the source as an argument.
  CharTarget,      // s[i] := c: Left the string or variant variable, Right the index
  PropertyTarget,  // obj.Prop[args] := v: Left the object, Class and Prop, Args the indexes
  DispatchTarget,  // variant.Name(args) := v: Left the variant, Name, Args
  NotifyTarget,    // a host-notified variable := v: Left its name as a constant
};
enum TPSUnOperatorType : uint8_t { otNot, otMinus, otCast };
enum TPSBinOperatorType : uint8_t {
  otAdd,
  otSub,
  otMul,
  otDiv,
  otMod,
  otShl,
  otShr,
  otAnd,
  otOr,
  otXor,
  otAs,
  otIntDiv,
  otGreaterEqual,
  otLessEqual,
  otGreater,
  otLess,
  otEqual,
  otNotEqual,
  otIs,
  otIn,
};

class TPSValue;

// One step of a selector chain: a record field or array element.
struct TPSSelector {
  uint32_t ConstIndex = 0;          // field number or zero-based element number
  std::unique_ptr<TPSValue> Index;  // run-time index, when not constant
  int32_t LowBound = 0;             // subtracted from a run-time index (static arrays)
  TPSType* Type = nullptr;          // the type the step selects
};

class TPSValue {
 public:
  explicit TPSValue(TPSValueKind kind) : Kind(kind) {}
  // A call of a routine or through a procedural value, with or without a
  // result; Inc and Dec are calls too (procedures).
  bool IsCall() const {
    return Kind == TPSValueKind::Call || Kind == TPSValueKind::CallValue || Kind == TPSValueKind::IncDec;
  }
  TPSValueKind Kind;
  TPSSourcePos Position;
  TPSType* Type = nullptr;
  TIfRVariant Const;
  uint32_t BaseRef = 0;                // the variable's reference
  TPSType* BaseType = nullptr;         // and its declared type
  std::vector<TPSSelector> Selectors;  // the fields and elements selected, in order
  int32_t ProcNo = 0;                  // the routine's number in the module
  bool Bare = false;                   // named without an argument list
  TPSParametersDecl Decl;              // what the routine takes and gives
  std::vector<std::unique_ptr<TPSValue>> Args;
  std::vector<TPSType*> ArgTypes;  // the type each argument is passed as
  uint8_t Op = 0;                  // the operator
  std::unique_ptr<TPSValue> Left, Right;
  TPSNativeClassItemProperty* Prop = nullptr;  // the property written
  TPSCompileTimeClass* Class = nullptr;        // and the class it was found in
  std::string Name;                            // the member named
  uint32_t Depth = 1;                          // levels of the tree below and including this node
};
using TPSValuePtr = std::unique_ptr<TPSValue>;

// A resolved operand as the instruction encodes it.
struct TPSOperand {
  TPSOperandKind Kind = OperandVar;
  uint32_t Ref = 0, Index = 0;
  TIfRVariant Const;
  TPSType* Type = nullptr;
};

// Temporaries made for one operand, freed together (last in, first out).
struct TPSTempScope {
  uint32_t Count = 0;
};

// Where a destination's storage lives, which says what else can reach it
// while a value is computed into it.
struct TPSReach {
  enum TKind : uint8_t {
    Fresh,     // a temporary nothing else names
    Local,     // in the current frame (a local, a value parameter, Result):
               // reached by naming Root, or through a `with` pointer
    Global,    // a global variable: also through var parameters, `with`
               // pointers and any script routine
    Heap,      // in a dynamic array block, which other arrays may share:
               // reached through arrays, pointers and script routines
    Anywhere,  // behind a var parameter or a pointer: a global or shared
  };
  TKind Kind = Anywhere;
  uint32_t Root = 0;  // the variable holding the destination
};

// A selector chain's index temporaries and pointer temporary, made before
// the chain is resolved (so that a value can be computed in between).
struct TPSPreparedTarget {
  std::vector<uint32_t> IndexTemps;  // per selector, 0 when the index needs none
  uint32_t Pointer = 0;
};

class TPSCodeGen {
 public:
  TPSCodeGen(TPSPascalCompiler& compiler, TPSBlockInfo* block);
  // Compiles a procedure body or the main block from its `begin`.
  bool CompileBody();
  // The type an operation on two integer operands computes in: one that
  // holds both ranges (Int64 beside Int64, the wider of two signed or two
  // unsigned types, Int64 for a signed and an unsigned 32-bit one, Integer
  // for the small kinds). Integer with Integer, or Cardinal with Cardinal,
  // keeps its 32-bit wrap-around; `folding`: two constants, where Integer
  // with Cardinal also folds in the left one's type.
  static TPSType* ArithmeticIntType(TPSPascalCompiler& c, TPSType* l, TPSType* r, bool folding = false);

 private:
  struct TLoop {
    std::vector<uint32_t> Breaks, Continues;
    uint32_t TempBase = 0;  // temporaries alive when the body started
  };
  // A try statement inside a loop: break and continue inside it set a flag
  // and leave the block through its own sections; the code after the block
  // then completes the jump.
  struct TTry {
    TLoop* Loop;
    uint32_t BreakFlag, ContinueFlag;
    uint32_t TempBase;  // temporaries alive when the current section started
    uint8_t Section;    // the OpTryEnd that closes the current section
    bool BreakUsed = false, ContinueUsed = false;
  };
  struct TWith {
    TPSType* Type;
    uint32_t Ref;  // pointer temporary
  };

  // --- statements (Statements.cpp) ---
  bool CompileBlock(TPSSubOptType kind);
  bool CompileStatement();
  void EndLoop(TLoop& loop, uint32_t continueAt);
  bool CompileStatementUnguarded();
  bool CompileAssignOrCall();
  TPSValuePtr ParseCondition();
  bool CompileIf();
  bool CompileWhile();
  bool CompileRepeat();
  bool CompileFor();
  bool CompileCase();
  bool CompileWith();
  bool CompileTry();
  bool CompileBreakContinue(bool isBreak);
  void EmitLeave(bool isBreak);
  bool CompileGoto();
  bool CompileLoopBody(TLoop& loop);
  void PatchJumps(const std::vector<uint32_t>& offsets, uint32_t target);
  bool CheckJumps(uint32_t start, uint32_t end);
  // A position record for the statement that starts here.
  void DebugPos();

  // --- expressions (Expressions.cpp) ---
  TPSValuePtr ParseExpression();
  TPSValuePtr ParseAdditive();
  TPSValuePtr ParseTerm();
  TPSValuePtr ParseFactor();
  TPSValuePtr ParseFactorUnguarded();
  // Records the depth of a node's tree from its children's; false (with the
  // message) when the expression grows too deep to compile.
  bool MeasureDepth(TPSValue& v);
  TPSValuePtr ParseIdentifier(bool statement);
  TPSValuePtr ParseSelectors(TPSValuePtr v, bool statement);
  TPSValuePtr ParseIntrinsic(const std::string& name, TPSSourcePos at, bool& handled);
  TPSValuePtr ParseSetConstructor();
  // A call of routine `procNo`, or through the procedural value `procVal`;
  // BindArguments checks the arguments against `decl` for both.
  TPSValuePtr MakeCall(int32_t procNo, const TPSParametersDecl& decl, std::vector<TPSValuePtr> args, TPSSourcePos at);
  TPSValuePtr MakeValueCall(TPSValuePtr procVal, const TPSParametersDecl& decl, std::vector<TPSValuePtr> args,
                            TPSSourcePos at);
  TPSValuePtr BindArguments(TPSValuePtr call, const TPSParametersDecl& decl, std::vector<TPSValuePtr> args,
                            TPSSourcePos at);
  bool ReadArguments(std::vector<TPSValuePtr>& args, TPSPasToken close);
  TPSValuePtr MakeBinary(TPSBinOperatorType op, TPSPasToken token, TPSValuePtr l, TPSValuePtr r, TPSSourcePos at);
  TPSValuePtr MakeUnary(TPSUnOperatorType op, TPSValuePtr v, TPSType* type, TPSSourcePos at);
  TPSType* BinaryResultType(TPSBinOperatorType op, TPSValue* l, TPSValue* r);
  TPSType* IntResultType(TPSValue* l, TPSValue* r);
  // Makes `v` fit `target` where the language converts implicitly
  // (constructors, procedure addresses, nil); false with an error if not.
  bool Coerce(TPSValuePtr& v, TPSType* target, bool report = true);
  TPSValuePtr ConstValue(const TIfRVariant& c, TPSSourcePos at);
  TPSValuePtr VarValue(uint32_t ref, TPSType* type);
  TPSValuePtr IndexString(TPSValuePtr base, TPSValuePtr index, TPSSourcePos at);
  TPSValuePtr AssignedCall(TPSValuePtr v, TPSSourcePos at);
  // `atName`: the member name is the current token (inside `with`).
  TPSValuePtr ClassMember(TPSValuePtr object, bool statement, bool atName = false);
  TPSValuePtr VariantMember(TPSValuePtr object, bool statement);
  TPSValuePtr DispatchCall(TPSValuePtr object, const std::string& name, std::vector<TPSValuePtr> args, bool set,
                           TPSSourcePos at);
  TPSValuePtr PropertyCall(TPSValuePtr object, TPSCompileTimeClass* cls, TPSNativeClassItemProperty* prop,
                           std::vector<TPSValuePtr> args, bool write, TPSSourcePos at);
  bool CompileMemberWrite(TPSValuePtr target, TPSValuePtr source);
  // A member of an open with-expression; `consumed` when the name was read.
  TPSValuePtr WithMember(const std::string& upperName, TPSSourcePos at, bool statement, bool& consumed);

  // --- code (CodeGen.cpp) ---
  uint32_t NewTemp(TPSType* type);
  void FreeTemps(uint32_t count);
  void FreeScope(TPSTempScope& scope) {
    FreeTemps(scope.Count);
    scope.Count = 0;
  }
  bool GetOperand(TPSValue* v, TPSOperand& out, TPSTempScope& scope);
  bool VarOperand(TPSValue* v, TPSOperand& out, TPSTempScope& scope);
  // VarOperand in two steps: the index temporaries, then the pointer chain.
  bool PrepareTarget(TPSValue* v, TPSPreparedTarget& prep, TPSTempScope& scope);
  void ResolveTarget(TPSValue* v, const TPSPreparedTarget& prep, TPSOperand& out);
  // `fresh`: dest is a temporary no part of `v` can refer to.
  bool GenInto(TPSValue* v, const TPSOperand& dest, bool fresh = false);
  bool GenInto(TPSValue* v, const TPSOperand& dest, const TPSReach& reach);
  bool GenCall(TPSValue* v, const TPSOperand* dest, const TPSReach* reach = nullptr);
  bool GenAssignment(TPSValue* target, TPSValue* source);
  bool GenSetPointer(uint32_t ptrRef, TPSValue* v);
  void Emit(uint8_t b) { Proc->FData.push_back(static_cast<char>(b)); }
  void EmitOp(uint8_t op) {
    LastOp = op;
    LastOpStart = Here();
    Emit(op);
  }
  void EmitU32(uint32_t v);
  void EmitOperand(const TPSOperand& op);
  uint32_t EmitJump(TPSOpcode op);  // returns the offset position to patch
  uint32_t EmitCondJump(TPSOpcode op, const TPSOperand& cond);
  void PatchJump(uint32_t offsetPos, uint32_t target, uint32_t instrEnd);
  uint32_t Here() const { return static_cast<uint32_t>(Proc->FData.size()); }
  TPSOperand TempOperand(uint32_t ref, TPSType* type) const;
  // Reach of an assignment target, and of a destination known only as an operand.
  TPSReach ReachOf(TPSValue* target) const;
  TPSReach ReachOf(const TPSOperand& dest) const;
  // Whether `v`, computed while the destination holds a partial value, may
  // read that storage (or a routine it calls may).
  bool Clashes(TPSValue* v, const TPSReach& reach) const;
  // Whether `v` may resize arrays or change variables a target's address
  // depends on: it calls a script routine or passes something by reference.
  bool MayMoveStorage(TPSValue* v) const;
  bool IsScriptCall(TPSValue* v) const;
  // A var parameter, a `with` pointer or a selector chain's pointer.
  bool IsIndirectRef(uint32_t ref) const;
  bool HoldsArray(TPSType* t, int depth = 0) const;

  // --- helpers ---
  TPSPascalCompilerMessage* Error(TPSPascalCompilerErrorType e, std::string_view param = {});
  // Steps over the expected token, or reports `e` at the token found.
  bool Expect(TPSPasToken token, TPSPascalCompilerErrorType e) {
    if (P.CurrTokenID() != token) {
      Error(e);
      return false;
    }
    P.Next();
    return true;
  }
  TPSPascalCompilerMessage* ErrorAt(const TPSValue* v, TPSPascalCompilerErrorType e, std::string_view param = {});
  bool IsBool(TPSType* t) const;
  TPSType* BoolType() const { return C.FDefaultBoolType; }

  TPSPascalCompiler& C;
  TPSPascalParser& P;
  TPSBlockInfo* Block;
  TPSInternalProcedure* Proc;
  int32_t ProcNo;
  uint32_t LocalCount;
  uint32_t TempCount = 0;
  std::vector<TLoop*> Loops;
  std::vector<TWith> Withs;
  std::vector<TTry*> Tries;
  std::vector<uint32_t> PointerTemps;  // live pointer temporaries of selector chains
  uint32_t TryDepth = 0;               // open sections of try statements
  // Code ranges of the loops, with, case and try sections already closed: a
  // later goto must not jump into them.
  std::vector<std::pair<uint32_t, uint32_t>> ClosedBlocks;
  uint8_t LastOp = OpNop;
  uint32_t LastOpStart = 0;
  int FactorNesting = 0, StatementNesting = 0;
};

// Helpers on types shared by the expression and statement compilers.
bool PSIsIntType(TPSType* t);
bool PSIsRealType(TPSType* t);
bool PSIsNumericType(TPSType* t);
bool PSIsAnsiKind(TPSType* t);
bool PSIsWideKind(TPSType* t);
bool PSIsStringKind(TPSType* t);
bool PSIsVariantType(TPSType* t);
bool PSSameType(TPSType* a, TPSType* b);

}  // namespace ps
