// TPerlRegExList: several regular expressions searched together for the
// earliest match.
#include <algorithm>
#include <climits>

#include "bindings/PerlRegEx.h"
#include "bindings/regex/Utf8Steps.h"

namespace bindings {

rtl::TClass TPerlRegExList::StaticClass() {
  static const rtl::TMetaClass meta(u"TPerlRegExList", rtl::TObject::StaticClass(),
                                    &rtl::CreateInstance<TPerlRegExList>);
  return &meta;
}

TPerlRegExList::~TPerlRegExList() {
  for (TPerlRegEx* regEx : FList) Detach(regEx);
}

void TPerlRegExList::CheckIndex(int index, int count) const {
  if (index < 0 || index >= count) throw rtl::EListError::IndexError(index);
}

// Every reference the list holds is known to the object, so that the
// object's destructor can take itself out of the list.
void TPerlRegExList::Attach(TPerlRegEx* regEx) {
  if (!regEx) throw ERegularExpressionError(UnicodeString(SRegExNil));
  regEx->FLists.push_back(this);
  regEx->SetSubjectBytes(FSubject);
  regEx->SetStart(FStart);
  regEx->SetStop(FStop);
}

void TPerlRegExList::Detach(TPerlRegEx* regEx) {
  auto& lists = regEx->FLists;
  auto found = std::find(lists.begin(), lists.end(), this);
  if (found != lists.end()) lists.erase(found);
}

void TPerlRegExList::Forget(TPerlRegEx* regEx) {
  std::erase(FList, regEx);
  if (FMatchedRegEx == regEx) FMatchedRegEx = nullptr;
}

int TPerlRegExList::Add(TPerlRegEx* regEx) {
  Attach(regEx);
  FList.push_back(regEx);
  return Count() - 1;
}

void TPerlRegExList::Insert(int index, TPerlRegEx* regEx) {
  CheckIndex(index, Count() + 1);
  Attach(regEx);
  FList.insert(FList.begin() + index, regEx);
}

void TPerlRegExList::Delete(int index) {
  CheckIndex(index, Count());
  TPerlRegEx* regEx = FList[static_cast<size_t>(index)];
  FList.erase(FList.begin() + index);
  Detach(regEx);
  if (FMatchedRegEx == regEx && std::find(FList.begin(), FList.end(), regEx) == FList.end()) FMatchedRegEx = nullptr;
}

void TPerlRegExList::Clear() {
  for (TPerlRegEx* regEx : FList) Detach(regEx);
  FList.clear();
  FMatchedRegEx = nullptr;
}

int TPerlRegExList::IndexOf(const TPerlRegEx* regEx) const {
  auto found = std::find(FList.begin(), FList.end(), regEx);
  return found == FList.end() ? -1 : static_cast<int>(found - FList.begin());
}

TPerlRegEx* TPerlRegExList::RegEx(int index) const {
  CheckIndex(index, Count());
  return FList[static_cast<size_t>(index)];
}

void TPerlRegExList::SetRegEx(int index, TPerlRegEx* regEx) {
  CheckIndex(index, Count());
  Attach(regEx);
  TPerlRegEx*& slot = FList[static_cast<size_t>(index)];
  TPerlRegEx* old = slot;
  slot = regEx;
  Detach(old);
  if (FMatchedRegEx == old && std::find(FList.begin(), FList.end(), old) == FList.end()) FMatchedRegEx = nullptr;
}

void TPerlRegExList::SetSubject(const UnicodeString& value) {
  std::string bytes = rtl::UnicodeToUtf8(value);
  if (bytes == FSubject) return;
  FSubject = std::move(bytes);
  // The members now start at 1 and stop at the end; the list's own values
  // follow, so that setting them later is not taken for "no change".
  FStart = 1;
  FStop = static_cast<int>(std::min<size_t>(FSubject.size(), INT32_MAX));
  for (auto it = FList.rbegin(); it != FList.rend(); ++it) (*it)->SetSubjectBytes(FSubject);
  FMatchedRegEx = nullptr;
}

void TPerlRegExList::SetStart(int value) {
  if (value == FStart) return;
  FStart = value;
  for (auto it = FList.rbegin(); it != FList.rend(); ++it) (*it)->SetStart(value);
  FMatchedRegEx = nullptr;
}

void TPerlRegExList::SetStop(int value) {
  if (value == FStop) return;
  FStop = value;
  for (auto it = FList.rbegin(); it != FList.rend(); ++it) (*it)->SetStop(value);
  FMatchedRegEx = nullptr;
}

bool TPerlRegExList::Match() {
  rtl::TObjectUse use(*this);
  SetStart(1);
  FMatchedRegEx = nullptr;
  return MatchAgain();
}

bool TPerlRegExList::MatchAgain() {
  // Members' OnMatch handlers run inside: the list must stay alive.
  rtl::TObjectUse use(*this);
  int searchAt = FStart;
  if (FMatchedRegEx && FMatchedRegEx->FoundMatch()) {
    const TPerlRegEx& last = *FMatchedRegEx;
    searchAt = last.MatchedExpressionOffset() + last.MatchedExpressionLength();
    // After an empty match the search moves on by one character; restarting
    // at the match itself would find it again, for ever.
    if (last.MatchedExpressionLength() == 0)
      searchAt += static_cast<int>(
          regex::CharLengthAt(last.FSubject.data(), last.FSubject.size(), static_cast<size_t>(searchAt - 1)));
  }
  FMatchedRegEx = nullptr;
  TPerlRegEx* best = nullptr;
  int bestAt = 0;
  // By index: an OnMatch handler may change the list while it is searched,
  // or free a member (which leaves the list), even the best one so far.
  for (size_t i = 0; i < FList.size(); ++i) {
    TPerlRegEx* regEx = FList[i];
    if (!regEx->FoundMatch() || regEx->MatchedExpressionOffset() < searchAt) {
      regEx->SetStart(searchAt);
      regEx->MatchAgain();
      if (best && IndexOf(best) < 0) best = nullptr;
    }
    if (regEx->FoundMatch() && (!best || regEx->MatchedExpressionOffset() < bestAt)) {
      best = regEx;
      bestAt = regEx->MatchedExpressionOffset();
    }
    if (best && bestAt == searchAt) break;
  }
  FMatchedRegEx = best;
  return best != nullptr;
}

}  // namespace bindings
