// Reference counting, QueryInterface answers and the registry of live fakes;
// see ref_counting.h.
#include "ref_counting.h"

#include <algorithm>

namespace {

std::vector<const CountedObject *> &Alive() {
  static std::vector<const CountedObject *> alive;
  return alive;
}

}  // namespace

CountedObject::CountedObject(std::string name) : name_(std::move(name)) { Alive().push_back(this); }

CountedObject::~CountedObject() {
  auto &alive = Alive();
  alive.erase(std::remove(alive.begin(), alive.end(), this), alive.end());
  if (references_ != 0) {
    ADD_FAILURE() << name_ << " destroyed holding references: got " << references_ << ", expected 0";
  }
}

void CountedObject::Expose(REFIID iid, void *pointer) {
  if (Entry *entry = Find(iid)) {
    entry->pointer = pointer;
    entry->answer = Answer::Offer;
    return;
  }
  interfaces_.push_back(Entry{iid, pointer, Answer::Offer});
}

CountedObject::Entry *CountedObject::Find(REFIID iid) {
  for (Entry &entry : interfaces_) {
    if (IsEqualIID(entry.iid, iid)) return &entry;
  }
  return nullptr;
}

void CountedObject::SetAnswer(REFIID iid, Answer answer) {
  if (Entry *entry = Find(iid)) {
    entry->answer = answer;
    return;
  }
  if (answer == Answer::Offer || answer == Answer::RefuseHandingOut) {
    ADD_FAILURE() << name_ << " cannot hand out " << GuidText(iid) << ": it does not implement it";
    return;
  }
  interfaces_.push_back(Entry{iid, nullptr, answer});
}

size_t CountedObject::Queries(REFIID iid) const {
  return static_cast<size_t>(
      std::count_if(queryLog_.begin(), queryLog_.end(), [&](const IID &asked) { return IsEqualIID(asked, iid); }));
}

HRESULT CountedObject::AnswerQuery(REFIID iid, void **object) {
  queryLog_.push_back(iid);
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const Entry *entry = Find(iid);
  if (entry == nullptr || entry->answer == Answer::Refuse) return E_NOINTERFACE;
  if (entry->answer == Answer::SucceedNull) return S_OK;
  *object = entry->pointer;
  CountAddRef();
  return entry->answer == Answer::RefuseHandingOut ? E_NOINTERFACE : S_OK;
}

ULONG CountedObject::CountAddRef() { return static_cast<ULONG>(++references_); }

ULONG CountedObject::CountRelease() {
  if (references_ <= 0 && !overReleased_) {
    overReleased_ = true;
    ADD_FAILURE() << name_ << " released with no reference held: got " << references_
                  << " references before Release, expected at least 1";
  }
  return static_cast<ULONG>(--references_);
}

void CountedObject::ExpectEveryObjectReleased() {
  for (const CountedObject *object : Alive()) {
    if (object->references_ != 0) {
      ADD_FAILURE() << object->name_ << " at the end of the test: got " << object->references_
                    << " references, expected 0";
    }
  }
}
