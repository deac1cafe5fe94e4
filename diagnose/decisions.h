// What opcdiag concludes from what the walk saw: for each stage one
// decision, which holds the report's lines, the verdict in the monitor's
// own words when the stage decides the outcome, and the exit status that
// goes with it. Plain data in, plain data out, no platform calls, so that
// the rules build and are tested on any host (SystemText is the one seam).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "call_results.h"
#include "escaping.h"

typedef int32_t Code;  // an HRESULT

enum class Check { kOk, kFail, kInfo };

struct Line {
  Check kind;
  const char *stage;
  std::wstring fact;
  std::wstring next;  // for a failure, what to do next; may be empty
};

struct Decision {
  std::vector<Line> lines;
  std::wstring verdict;  // the monitor's outcome when this stage decides it; empty: the walk goes on
  int status;            // 0 when the monitor would show records, else 1
  Code asks;             // a failure code whose server text the decision would show; 0 for none
};

// A call the watchdog can name: the report's stage, the call, whether the
// monitor makes it too (a hang there is the monitor's), and how long
// opcdiag waits for it.
struct ServerCall {
  const char *stage;
  const wchar_t *name;
  bool monitorMakes;
  unsigned limitSeconds;
};

struct QualityCount {
  std::wstring word;
  int32_t count;
};

// The items that met one kind of read failure: how many, the first
// ("tag 2 of 7, Int32.Fixed") and its code.
struct ReadFailures {
  int32_t count;
  std::wstring firstTag;
  Code code;
};

// Everything the walk saw. Codes are 0 where a step was not reached; texts
// are shown already.
struct WalkSeen {
  std::wstring subject;  // "the monitor", or "a monitor built for X"
  std::wstring name;     // the ProgID or class asked for
  std::wstring cause;    // what the registration says stands in the way; empty: nothing
  ActivationResult activation;
  int contextsTried;  // the activations per class context after a failure
  Code contexts[3];   // S_OK: that context gives IOPCServer
  BrowseResult browse;
  Code group;
  int groupCreated, handlesMissing;
  int32_t tags, registered;  // the table's count, and how many were registered
  Code call, itemError;      // of the tag that was not registered,
  std::wstring failedTag;
  int nameless;  // whose entry is null
  int32_t records, unknownValues, otherTypes;
  std::vector<QualityCount> qualities;
  ReadFailures syncRefused, readsFailed;
  int gone;  // the server's process ended during the reads
  // Only opcdiag's: the server's status (state 0: not given), and a call of
  // its own in which the server's process ended.
  Code statusCode;
  uint32_t state, groups;
  std::wstring statusFact;  // "\"<vendor's text>\" version 1.1.1, "
  const wchar_t *diedIn;
  Code textOf;  // the code whose server text (GetErrorString) is held
  std::wstring serverText;
};

Decision DecideActivation(const WalkSeen &seen);
Decision DecideContexts(const WalkSeen &seen);
Decision DecideBrowse(const WalkSeen &seen);
Decision DecideGroup(const WalkSeen &seen);
Decision DecideItems(const WalkSeen &seen);
Decision DecideReads(const WalkSeen &seen);
Decision DecideStatus(const WalkSeen &seen);

// The closing verdict: the decided one, with what opcdiag's own calls add
// (the server's state, a death in one of them).
std::wstring FinalVerdict(const WalkSeen &seen, const std::wstring &decided, int status);
// The monitor removes its items only after polling: once every tag was registered.
bool RemovesItems(const WalkSeen &seen);
// What opcdiag leaves on the server when it ends on a call that never
// answered; empty when it holds nothing.
std::wstring LeftBehind(bool server, bool group, int32_t items);
// The verdict for a call without an answer within its limit (`what`: the
// call and its tag); a decision made before it stands.
std::wstring HungVerdict(const ServerCall &call, const std::wstring &what, const std::wstring &subject,
                         const std::wstring &decided, const std::wstring &left);

// "0xC0040007 (OPC_E_UNKNOWNITEMID: <server's text>; system: <text>)": the
// texts made one line and compared before they are shown, the system's left
// out when the server's says the same; the second form with the server's
// text the walk holds for that code.
std::wstring CodeText(Code code, const std::wstring &serverText);
std::wstring CodeText(const WalkSeen &seen, Code code);
const wchar_t *CodeName(Code code);
std::wstring HexCode(Code code);
// The server's process ended or cannot be reached.
bool ServerGone(Code code);
// The system's message for a code (the one seam: FormatMessage in the
// program, a stand-in in the tests).
std::wstring SystemText(Code code);
