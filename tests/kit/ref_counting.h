// What every fake COM object of the kit shares: a real reference count, the
// answers it gives to QueryInterface (per interface: offer, refuse, or the
// misbehaving "S_OK with null" and "refused, yet handed out"), a log of the
// interfaces asked for, and a registry of the fakes alive, so that the end
// of each test can check that every one is back to zero references. Also RefCount(), the AddRef-then-
// Release probe, and EXPECT_REFS built on it.
//
// The fakes belong to the test (a local or a fixture member); reaching zero
// references does not delete them. A Release with no reference held, or a
// fake destroyed or left at the end of a test with references, fails the
// running test with a message naming the object.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_text.h"

// How a fake answers QueryInterface for one interface.
enum class Answer {
  Offer,        // S_OK, the interface, one reference added
  Refuse,       // E_NOINTERFACE, null
  SucceedNull,  // S_OK but null: a misbehaving object
  // E_NOINTERFACE, yet the interface handed out with one reference, as an
  // out-of-process answer carries a pointer back whatever the result
  RefuseHandingOut,
};

// Every answer that gives the caller no usable interface, each with how a
// test trace names it.
struct NamedAnswer {
  Answer answer;
  const char *name;
};
constexpr NamedAnswer NO_INTERFACE_ANSWERS[] = {
    {Answer::Refuse, "refused"},
    {Answer::SucceedNull, "S_OK with null"},
    {Answer::RefuseHandingOut, "refused, yet handed out"},
};

class CountedObject {
 public:
  explicit CountedObject(std::string name);
  virtual ~CountedObject();
  CountedObject(const CountedObject &) = delete;
  CountedObject &operator=(const CountedObject &) = delete;

  const std::string &Name() const { return name_; }
  // Negative after a Release with no reference held.
  LONG References() const { return references_; }

  // Changes the answer for an interface. Offer and RefuseHandingOut are
  // possible only for the interfaces the fake implements.
  void SetAnswer(REFIID iid, Answer answer);

  // How often QueryInterface was asked for `iid`, and every IID asked for.
  size_t Queries(REFIID iid) const;
  const std::vector<IID> &QueryLog() const { return queryLog_; }

  // Fails the running test for every fake alive that holds references.
  static void ExpectEveryObjectReleased();

 protected:
  // An interface the fake implements; offered until SetAnswer says not.
  void Expose(REFIID iid, void *pointer);

  // The IUnknown methods of every fake delegate here.
  HRESULT AnswerQuery(REFIID iid, void **object);
  ULONG CountAddRef();
  ULONG CountRelease();

 private:
  struct Entry {
    IID iid;
    void *pointer;
    Answer answer;
  };
  Entry *Find(REFIID iid);

  std::string name_;
  LONG references_ = 0;
  bool overReleased_ = false;
  std::vector<Entry> interfaces_;
  std::vector<IID> queryLog_;
};

// The Wine tests' idiom: AddRef then Release, giving the count in force.
template <typename Interface>
ULONG RefCount(Interface *object) {
  object->AddRef();
  return object->Release();
}

template <typename Interface>
::testing::AssertionResult ReferencesAre(const char *objectText, const char *, Interface *object, ULONG expected) {
  const ULONG got = RefCount(object);
  if (got == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "references of " << objectText << ": got " << static_cast<LONG>(got)
                                       << ", expected " << expected;
}

// EXPECT_REFS(&server, 1u): the object's reference count is exactly 1.
#define EXPECT_REFS(object, expected) EXPECT_PRED_FORMAT2(ReferencesAre, object, expected)
