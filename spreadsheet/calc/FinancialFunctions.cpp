// Financial functions: the time value of money for loans and annuities,
// present value and internal rate of return of cash flows. Payments made
// at the start of each period (type 1) earn one period more.
#include <cmath>
#include <vector>

#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::calc {

namespace {

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }

TValue Finite(double n) {
  if (!std::isfinite(n)) Raise(TErrorValue::Num);
  return TValue::FromNumber(n);
}

// The application gives up after 20 steps and wants successive rates to
// agree within 1e-7.
constexpr int kMaxIterations = 20;
constexpr double kTolerance = 1e-7;

bool Type(TCallContext& call, size_t i) { return call.Number(i, 0) != 0; }

// (1+rate)^nper and that less 1, the latter without cancellation for the
// small rates of monthly loans.
struct TGrowth {
  double Factor, LessOne;
  TGrowth(double rate, double nper) {
    if (rate > -1) {
      double ln = nper * std::log1p(rate);
      Factor = std::exp(ln);
      LessOne = std::expm1(ln);
    } else {
      Factor = std::pow(1 + rate, nper);
      LessOne = Factor - 1;
    }
  }
};

double FutureValue(double rate, double nper, double pmt, double pv, bool type) {
  if (rate == 0) return -(pv + pmt * nper);
  TGrowth growth(rate, nper);
  return -(pv * growth.Factor + pmt * (1 + rate * type) * growth.LessOne / rate);
}

double Payment(double rate, double nper, double pv, double fv, bool type) {
  if (nper == 0) Raise(TErrorValue::Num);
  if (rate == 0) return -(pv + fv) / nper;
  TGrowth growth(rate, nper);
  return -(fv + pv * growth.Factor) * rate / ((1 + rate * type) * growth.LessOne);
}

// The interest part of payment `per`.
double Interest(double rate, double per, double nper, double pv, double fv, bool type) {
  if (per < 1 || per > nper) Raise(TErrorValue::Num);
  double pmt = Payment(rate, nper, pv, fv, type);
  double interest;
  if (per == 1)
    interest = type ? 0 : -pv;
  else if (type)
    interest = FutureValue(rate, per - 2, pmt, pv, true) - pmt;
  else
    interest = FutureValue(rate, per - 1, pmt, pv, false);
  return interest * rate;
}

TValue Fv(TCallContext& call) {
  return Finite(FutureValue(call.Number(0), call.Number(1), call.Number(2), call.Number(3, 0), Type(call, 4)));
}

TValue Pv(TCallContext& call) {
  double rate = call.Number(0), nper = call.Number(1), pmt = call.Number(2), fv = call.Number(3, 0);
  bool type = Type(call, 4);
  if (rate == 0) return Finite(-(fv + pmt * nper));
  TGrowth growth(rate, nper);
  return Finite(-(fv + pmt * (1 + rate * type) * growth.LessOne / rate) / growth.Factor);
}

TValue Pmt(TCallContext& call) {
  return Finite(Payment(call.Number(0), call.Number(1), call.Number(2), call.Number(3, 0), Type(call, 4)));
}

TValue IPmt(TCallContext& call) {
  return Finite(
      Interest(call.Number(0), call.Number(1), call.Number(2), call.Number(3), call.Number(4, 0), Type(call, 5)));
}

TValue PPmt(TCallContext& call) {
  double rate = call.Number(0), per = call.Number(1), nper = call.Number(2), pv = call.Number(3),
         fv = call.Number(4, 0);
  bool type = Type(call, 5);
  double interest = Interest(rate, per, nper, pv, fv, type);
  return Finite(Payment(rate, nper, pv, fv, type) - interest);
}

TValue NPer(TCallContext& call) {
  double rate = call.Number(0), pmt = call.Number(1), pv = call.Number(2), fv = call.Number(3, 0);
  bool type = Type(call, 4);
  if (rate == 0) {
    if (pmt == 0) Raise(TErrorValue::Div0);
    return Finite(-(pv + fv) / pmt);
  }
  if (rate <= -1) Raise(TErrorValue::Num);
  double flow = pmt * (1 + rate * type);
  double ratio = (flow - fv * rate) / (flow + pv * rate);
  if (!(ratio > 0)) Raise(TErrorValue::Num);
  return Finite(std::log(ratio) / std::log1p(rate));
}

// The loan's balance at `rate` discounted to its start: zero at the answer.
// Discounting keeps the function gentle for long loans, where the balance
// itself grows like (1+rate)^nper and Newton's steps would crawl.
double DiscountedBalance(double rate, double nper, double pmt, double pv, double fv, bool type) {
  if (rate == 0) return pv + pmt * nper + fv;
  double lnGrowth = nper * std::log1p(rate);
  double annuity = -std::expm1(-lnGrowth) / rate;  // (1 - (1+rate)^-nper) / rate
  return pv + pmt * (1 + rate * type) * annuity + fv * std::exp(-lnGrowth);
}

TValue Rate(TCallContext& call) {
  double nper = call.Number(0), pmt = call.Number(1), pv = call.Number(2), fv = call.Number(3, 0);
  bool type = Type(call, 4);
  double rate = call.Number(5, 0.1);
  if (nper <= 0 || !(rate > -1)) Raise(TErrorValue::Num);
  auto balance = [&](double r) { return DiscountedBalance(r, nper, pmt, pv, fv, type); };
  double f = balance(rate);
  // Newton's method; a step that lands below -100% or leaves the balance
  // further from zero is halved until it does not, so that a guess far
  // from the answer still approaches it.
  for (int i = 0; i < kMaxIterations; ++i) {
    if (!std::isfinite(f)) Raise(TErrorValue::Num);
    double h = 1e-7 * std::max(1.0, std::fabs(rate));
    if (rate - h <= -1) h = (rate + 1) / 2;
    double slope = (balance(rate + h) - balance(rate - h)) / (2 * h);
    if (!std::isfinite(slope) || slope == 0) Raise(TErrorValue::Num);
    double step = f / slope, next = rate - step, fNext = 0;
    for (int halvings = 0;; ++halvings) {
      if (next > -1) {
        fNext = balance(next);
        if (std::isfinite(fNext) && std::fabs(fNext) <= std::fabs(f)) break;
      }
      if (halvings == 60) Raise(TErrorValue::Num);
      step /= 2;
      next = rate - step;
    }
    if (std::fabs(next - rate) < kTolerance) return Finite(next);
    rate = next;
    f = fNext;
  }
  Raise(TErrorValue::Num);
}

// The numbers of a cash-flow argument: numbers in ranges and arrays (text,
// Booleans and blanks there are skipped), numbers or numeric text written
// directly; errors anywhere are raised.
void CashFlows(TCallContext& call, size_t i, std::vector<double>& flows) {
  call.ForEach(i, [&](const TValue& v, bool direct) {
    if (v.IsError()) Raise(v.Err);
    if (v.IsNumber()) {
      flows.push_back(v.Number);
    } else if (direct && !v.IsBlank()) {
      flows.push_back(ToNumber(v));
    }
  });
}

TValue Npv(TCallContext& call) {
  double rate = call.Number(0);
  if (rate == -1) Raise(TErrorValue::Div0);
  std::vector<double> flows;
  for (size_t i = 1; i < call.Count(); ++i) CashFlows(call, i, flows);
  double sum = 0, discount = 1;
  for (double flow : flows) {
    discount *= 1 + rate;
    sum += flow / discount;
  }
  return Finite(sum);
}

TValue Irr(TCallContext& call) {
  std::vector<double> flows;
  CashFlows(call, 0, flows);
  double rate = call.Number(1, 0.1);
  bool positive = false, negative = false;
  for (double flow : flows) positive |= flow > 0, negative |= flow < 0;
  if (!positive || !negative) Raise(TErrorValue::Num);
  // Newton's method on the net present value, flows discounted from period 0.
  // Rates below -100% are no fault of the polynomial; only -100% itself
  // cannot discount.
  for (int i = 0; i < kMaxIterations; ++i) {
    if (rate == -1) Raise(TErrorValue::Num);
    double npv = 0, slope = 0, discount = 1;
    for (size_t k = 0; k < flows.size(); ++k) {
      npv += flows[k] / discount;
      slope -= static_cast<double>(k) * flows[k] / (discount * (1 + rate));
      discount *= 1 + rate;
    }
    if (!std::isfinite(npv) || !std::isfinite(slope) || slope == 0) Raise(TErrorValue::Num);
    double next = rate - npv / slope;
    if (std::fabs(next - rate) < kTolerance) return Finite(next);
    rate = next;
  }
  Raise(TErrorValue::Num);
}

constexpr TFunctionInfo kFinancial[] = {
    {"FV", 3, 5, &Fv},   {"IPMT", 4, 6, &IPmt}, {"IRR", 1, 2, &Irr}, {"NPER", 3, 5, &NPer}, {"NPV", 2, 255, &Npv},
    {"PMT", 3, 5, &Pmt}, {"PPMT", 4, 6, &PPmt}, {"PV", 3, 5, &Pv},   {"RATE", 3, 6, &Rate},
};

}  // namespace

std::span<const TFunctionInfo> FinancialFunctions() { return kFinancial; }

}  // namespace spreadsheet::calc
