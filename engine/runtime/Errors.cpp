// Error codes and texts, reporting, unwinding through try blocks, and the
// conversion of host exceptions into script errors.
#include "engine/runtime/Values.h"

namespace ps {

namespace {
struct TErrorText {
  TPSError Code;
  std::u16string_view Text;
};
// Every error code with the text hosts print; "%s" takes the parameter.
constexpr TErrorText ErrorTexts[] = {
    {ErNoError, u"No Error"},
    {erCannotImport, u"Cannot Import %s"},
    {erInvalidType, u"Invalid Type"},
    {ErInternalError, u"Internal error"},
    {erInvalidHeader, u"Invalid Header"},
    {erInvalidOpcode, u"Invalid Opcode"},
    {erInvalidOpcodeParameter, u"Invalid Opcode Parameter"},
    {erNoMainProc, u"no Main Proc"},
    {erOutOfGlobalVarsRange, u"Out of Global Vars range"},
    {erOutOfProcRange, u"Out of Proc Range"},
    {ErOutOfRange, u"Out Of Range"},
    {erOutOfStackRange, u"Out Of Stack Range"},
    {ErTypeMismatch, u"Type Mismatch"},
    {erUnexpectedEof, u"Unexpected End Of File"},
    {erVersionError, u"Version error"},
    {ErDivideByZero, u"divide by Zero"},
    {ErMathError, u"Math error"},
    {erCouldNotCallProc, u"Could not call proc"},
    {erOutofRecordRange, u"Out of Record Fields Range"},
    {erOutOfMemory, u"Out Of Memory"},
    {erException, u"Exception: %s"},
    {erNullPointerException, u"Null Pointer Exception"},
    {erNullVariantError, u"Null variant error"},
    {erInterfaceNotSupported, u"Interface not supported"},
    {erCustomError, u"%s"},
};
constexpr std::u16string_view SUnknownError = u"Unknown error";
}  // namespace

rtl::UnicodeString TPSErrorToString(TPSError code, const rtl::UnicodeString& param) {
  for (const auto& e : ErrorTexts) {
    if (e.Code != code) continue;
    if (code == erCouldNotCallProc && !param.empty()) return rtl::UnicodeString(e.Text) + u" (" + param + u")";
    if (code == erCustomError) return param;
    return rtl::FormatText(e.Text, {param});
  }
  return rtl::UnicodeString(SUnknownError);
}

int32_t TPSExec::CurrentProcNo() const {
  if (!FCurrProc) return -1;
  return static_cast<int32_t>(FCurrProc->FProcNo);
}

void TPSExec::CMD_Err3(TPSError code, const rtl::UnicodeString& param, std::exception_ptr exObject) {
  int32_t procNo = CurrentProcNo();
  auto position = static_cast<int32_t>(FCurrentPosition);
  if (FOnException) FOnException(this, code, param, exObject, procNo, position);
  RaiseScriptError(procNo, position, std::move(exObject), param, code);
}

void TPSExec::RaiseScriptError(int32_t procNo, int32_t position, std::exception_ptr exObject,
                               const rtl::UnicodeString& param, TPSError code) {
  ExProc = procNo;
  ExPos = position;
  ExEx = code;
  ExParam = param;
  ExObject = std::move(exObject);
  if (code == ErNoError) return;
  ++FErrorSerial;
  // A finally part takes the error over: it is kept in the block, not in the
  // executor, so that errors raised and handled inside that part (or in the
  // routines it calls) cannot replace it, and raised again when it ends.
  auto enterFinally = [this](TPSExceptionHandler& h) {
    h.PendingError = ExEx;
    h.PendingProc = ExProc;
    h.PendingPos = ExPos;
    h.PendingObject = std::move(ExObject);
    h.PendingParam = ExParam;
    ExEx = ErNoError;
    ExObject = nullptr;
  };
  while (!FExceptionStack.empty()) {
    TPSExceptionHandler& h = FExceptionStack.back();
    FStack.PopTo(h.StackSize);
    if (!h.CurrProc) {
      FExceptionStack.pop_back();
      FCurrStackBase = -1;
      FStatus = isPaused;
      return;
    }
    SwitchToProc(h.CurrProc, FCurrentPosition);
    FCurrStackBase = h.BasePtr;
    // Whatever the block's running finally part was to resume (a return or
    // an earlier error) is abandoned: this error unwinds instead.
    h.ExitPoint = -1;
    h.PendingError = ErNoError;
    h.PendingObject = nullptr;
    if (h.FinallyOffset != -1) {
      FCurrentPosition = static_cast<uint32_t>(h.FinallyOffset);
      h.FinallyOffset = -1;
      enterFinally(h);
      return;
    }
    if (h.ExceptOffset >= 0) {
      FCurrentPosition = static_cast<uint32_t>(h.ExceptOffset);
      h.ExceptOffset = -2;
      h.ExceptionData = ExEx;
      h.ExceptionPos = ExPos;
      h.ExceptionObject = std::move(ExObject);
      h.ExceptionParam = ExParam;
      ExEx = ErNoError;
      ExObject = nullptr;
      return;
    }
    if (h.Finally2Offset != -1) {
      FCurrentPosition = static_cast<uint32_t>(h.Finally2Offset);
      h.Finally2Offset = -1;
      enterFinally(h);
      return;
    }
    FExceptionStack.pop_back();
  }
  if (FStatus != isNotLoaded) FStatus = isPaused;
}

void TPSExec::ReportHostException(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const EScriptException& ex) {
    // Already a script error with its own position: no OnException, no object.
    RaiseScriptError(ex.ProcNo(), ex.ProcPos(), nullptr, ex.Message(), erCustomError);
  } catch (const rtl::EDivByZero& ex) {
    CMD_Err3(ErDivideByZero, ex.Message(), e);
  } catch (const rtl::EZeroDivide& ex) {
    CMD_Err3(ErDivideByZero, ex.Message(), e);
  } catch (const rtl::EMathError& ex) {
    CMD_Err3(ErMathError, ex.Message(), e);
  } catch (const rtl::Exception& ex) {
    CMD_Err3(erException, ex.Message(), e);
  } catch (const std::bad_alloc&) {
    CMD_Err3(erException, u"Out of memory", e);
  } catch (const std::exception& ex) {
    CMD_Err3(erException, rtl::Utf8ToUnicode(ex.what()), e);
  } catch (...) {
    CMD_Err3(erException, {}, e);
  }
}

void TPSExec::RaiseCurrentException() {
  if (ExEx == ErNoError) return;
  if (ExObject) {
    std::exception_ptr e = std::move(ExObject);
    ExObject = nullptr;
    std::rethrow_exception(e);
  }
  throw EScriptException(TPSErrorToString(ExEx, ExParam), ExProc, ExPos, this);
}

TPSError TPSExec::LastEx() const { return FExceptionStack.empty() ? ExEx : FExceptionStack.back().ExceptionData; }

rtl::UnicodeString TPSExec::LastExParam() const {
  return FExceptionStack.empty() ? ExParam : FExceptionStack.back().ExceptionParam;
}

int32_t TPSExec::LastExProc() const {
  if (FExceptionStack.empty()) return ExProc;
  const auto* p = FExceptionStack.back().CurrProc;
  return p ? static_cast<int32_t>(p->FProcNo) : -1;
}

// A try block stores no position of the error it handles; the position of
// the error as it was raised is kept separately for this.
int32_t TPSExec::LastExPos() const { return FExceptionStack.empty() ? ExPos : FExceptionStack.back().ExceptionPos; }

std::exception_ptr TPSExec::LastExObject() const {
  return FExceptionStack.empty() ? ExObject : FExceptionStack.back().ExceptionObject;
}

}  // namespace ps
