// The bytes opcproxy.dll puts on the wire for the calls that carry a
// server's text out (IOPCServer::GetErrorString, IOPCServer::GetStatus' vendor
// text, IOPCBrowseServerAddressSpace::GetItemID), compared with the NDR form of
// their published declarations written out below, never with our own other
// half: what our proxy sends and how it reads a response built here, and what
// our stub answers to a request built here. A channel of the test's own stands
// where COM's would. Proxy and stub see the NDR body alone (COM's channel adds
// ORPCTHIS/ORPCTHAT before it and strips them), so the body is compared, whole,
// from its first byte to the length the proxy or stub gave. Nothing is
// written to the registry.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "com_test.h"
#include "fake_server.h"

namespace {

using ::testing::NotNull;
using ::testing::StrEq;
using ::testing::StrictMock;

// ---- The published declarations' bytes, by the NDR rules ----

// An NDR body in data representation 0x10 (little-endian, ASCII, IEEE).
// `referents` holds the offsets of unique pointers' referent ids: the sender
// chooses them, so any non-zero value matches there.
struct Wire {
  std::vector<unsigned char> bytes;
  std::vector<size_t> referents;
};

// Each primitive starts at a multiple of its size from the body's start;
// the padding before it is zero.
void Put(Wire &wire, uint32_t value, size_t size) {
  while (wire.bytes.size() % size != 0) wire.bytes.push_back(0);
  for (size_t i = 0; i < size; ++i) wire.bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void Long(Wire &wire, uint32_t value) { Put(wire, value, 4); }
void Short(Wire &wire, uint16_t value) { Put(wire, value, 2); }

// A unique pointer: a 4-byte referent id on x86 and x64 alike, non-zero for a
// pointee, 0 for null. Written here as 0x00020000.
void Referent(Wire &wire, bool present) {
  Long(wire, present ? 0x00020000u : 0u);
  if (present) wire.referents.push_back(wire.bytes.size() - 4);
}

// The pointee of a [string] wide pointer, a conformant varying string: its
// maximum count, offset 0 and actual count, both counts with the terminator,
// then the UTF-16 code units, the terminator last.
void WideString(Wire &wire, const wchar_t *text) {
  const auto count = static_cast<uint32_t>(std::wcslen(text) + 1);
  Long(wire, count);
  Long(wire, 0);
  Long(wire, count);
  for (uint32_t i = 0; i < count; ++i) Short(wire, static_cast<uint16_t>(text[i]));
}

// The record GetStatus hands out in the tests; every field's bytes differ.
OPCSERVERSTATUS Status() {
  return {{0x04030201, 0x08070605}, {0x14131211, 0x18171615}, {0x24232221, 0x28272625}, OPC_STATUS_SUSPENDED,
          0x34333231, 0x38373635, 0x4241, 0x4443, 0x4645, 0x4847, nullptr};
}

// OPCSERVERSTATUS, a structure with an embedded pointer: its fields in order,
// each aligned; the enum as 16 bits (an IDL enum without [v1_enum]), its
// padding to the next long zero, so that a reader of a 32-bit enum reads the
// same value; szVendorInfo's referent id, its string after the whole record.
void StatusRecord(Wire &wire, const wchar_t *vendor) {
  const OPCSERVERSTATUS status = Status();
  for (const FILETIME &time : {status.ftStartTime, status.ftCurrentTime, status.ftLastUpdateTime}) {
    Long(wire, time.dwLowDateTime);
    Long(wire, time.dwHighDateTime);
  }
  Short(wire, static_cast<uint16_t>(status.dwServerState));
  Long(wire, status.dwGroupCount);
  Long(wire, status.dwBandWidth);
  for (WORD word : {status.wMajorVersion, status.wMinorVersion, status.wBuildNumber, status.wReserved}) {
    Short(wire, word);
  }
  Referent(wire, vendor != nullptr);
  if (vendor != nullptr) WideString(wire, vendor);
}

enum class Call { kGetErrorString, kGetItemID, kGetStatus };
struct CallRow {
  Call call;
  const char *name;
  const IID *iid;
  ULONG method;  // the vtable slot, IUnknown's three included
};
const CallRow kCalls[] = {{Call::kGetErrorString, "GetErrorString", &IID_IOPCServer, 4},
                          {Call::kGetItemID, "GetItemID", &IID_IOPCBrowseServerAddressSpace, 6},
                          {Call::kGetStatus, "GetStatus", &IID_IOPCServer, 6}};
const HRESULT kError = static_cast<HRESULT>(0xC0040007);  // OPC_E_UNKNOWNITEMID
const LCID kLocale = 0x0407;
const wchar_t kItemDataID[] = L"Sim.Ramp.Int16";

// The [in] arguments: GetErrorString's two longs; GetItemID's [in, string]
// top-level pointer, a reference pointer (no referent id), its string; nothing
// for GetStatus. The [out] reference pointers send nothing.
Wire Request(Call call) {
  Wire wire;
  if (call == Call::kGetErrorString) {
    Long(wire, static_cast<uint32_t>(kError));
    Long(wire, kLocale);
  }
  if (call == Call::kGetItemID) WideString(wire, kItemDataID);
  return wire;
}

// What the server answered, one row of the table below. A failure hands out
// nothing: null text, null record.
struct Case {
  const char *name;
  const wchar_t *text;
  HRESULT hr;
};
const Case kCases[] = {
    {"a text of an odd count (padding before the result)", L"the device does not answer", S_OK},
    {"a text of an even count, not ASCII", L"Druck \u00fc \u540d\xD83D\xDE00", S_OK},
    {"an empty text", L"", S_OK},
    {"a null text", nullptr, S_OK},
    {"a failure", nullptr, E_INVALIDARG},
};

// [out, string] LPWSTR *: the reference pointer sends nothing, its pointee is
// a unique pointer, then its string. [out] OPCSERVERSTATUS **: likewise, the
// record as the pointee. The HRESULT last, aligned.
Wire Response(Call call, const Case &row) {
  Wire wire;
  const bool record = call == Call::kGetStatus && SUCCEEDED(row.hr);
  Referent(wire, record || (call != Call::kGetStatus && row.text != nullptr));
  if (record) {
    StatusRecord(wire, row.text);
  } else if (call != Call::kGetStatus && row.text != nullptr) {
    WideString(wire, row.text);
  }
  Long(wire, static_cast<uint32_t>(row.hr));
  return wire;
}

std::string Hex(const unsigned char *bytes, size_t size) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    snprintf(byte, sizeof byte, i % 4 == 3 ? "%02x " : "%02x", bytes[i]);
    text += byte;
  }
  return text;
}

// Whether `body` is the expected bytes, a referent id matching any non-zero one.
::testing::AssertionResult SameBody(const Wire &expected, const void *body, size_t size) {
  const auto *bytes = static_cast<const unsigned char *>(body);
  std::vector<unsigned char> got(bytes, bytes + size);
  for (size_t at : expected.referents) {
    if (at + 4 <= size && (got[at] | got[at + 1] | got[at + 2] | got[at + 3]) != 0) {
      std::memcpy(&got[at], &expected.bytes[at], 4);
    }
  }
  if (got == expected.bytes) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "NDR body: got " << size << " bytes " << Hex(bytes, size) << "\nexpected "
                                       << expected.bytes.size() << " bytes "
                                       << Hex(expected.bytes.data(), expected.bytes.size())
                                       << "(referent ids: any non-zero)";
}

// ---- Our proxy and stub, through a channel of the test's own ----

// Blocks of 8-byte words: NDR aligns to the buffer's address, so a buffer
// must start 8-aligned for the padding to fall where the rules put it.
using Block = std::vector<uint64_t>;
void *Fill(Block &block, const std::vector<unsigned char> &bytes) {
  block.assign(bytes.size() / 8 + 1, 0);
  std::memcpy(block.data(), bytes.data(), bytes.size());
  return block.data();
}

// GetBuffer hands out a block of the size asked for; SendReceive keeps the
// request and answers with `response`.
class FakeChannel : public IRpcChannelBuffer, public CountedObject {
 public:
  FakeChannel() : CountedObject("fake channel") {
    Expose(IID_IUnknown, static_cast<IRpcChannelBuffer *>(this));
    Expose(IID_IRpcChannelBuffer, static_cast<IRpcChannelBuffer *>(this));
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override { return AnswerQuery(iid, object); }
  ULONG STDMETHODCALLTYPE AddRef() override { return CountAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CountRelease(); }

  HRESULT STDMETHODCALLTYPE GetBuffer(RPCOLEMESSAGE *message, REFIID) override {
    message->Buffer = Fill(buffer_, std::vector<unsigned char>(message->cbBuffer));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SendReceive(RPCOLEMESSAGE *message, ULONG *status) override {
    const auto *sent = static_cast<const unsigned char *>(message->Buffer);
    request.assign(sent, sent + message->cbBuffer);
    message->Buffer = Fill(buffer_, response);
    message->cbBuffer = static_cast<ULONG>(response.size());
    message->dataRepresentation = 0x10;
    if (status != nullptr) *status = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeBuffer(RPCOLEMESSAGE *) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetDestCtx(DWORD *context, void **reserved) override {
    *context = MSHCTX_DIFFERENTMACHINE;
    if (reserved != nullptr) *reserved = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsConnected() override { return S_OK; }

  std::vector<unsigned char> request;
  std::vector<unsigned char> response;

 private:
  Block buffer_;
};

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);

// The proxy/stub factory of opcproxy.dll (OPCPROXY_DLL), from its
// DllGetClassObject; null when it cannot be had.
IPSFactoryBuffer *ProxyStubFactory() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"OPCPROXY_DLL", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  static HMODULE module = LoadLibraryW(path);  // kept: COM may use it to the end of the process
  if (module == nullptr) return nullptr;
  const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  CLSID clsid;
  if (getClassObject == nullptr || FAILED(CLSIDFromString(L"{D0CD6F78-410B-4371-B619-43EF6A33B157}", &clsid))) {
    return nullptr;
  }
  void *factory = nullptr;
  return SUCCEEDED(getClassObject(clsid, IID_IPSFactoryBuffer, &factory)) ? static_cast<IPSFactoryBuffer *>(factory)
                                                                          : nullptr;
}

// What a caller's out variable held before the call: an [out] is never read.
wchar_t g_staleText[] = L"stale";
OPCSERVERSTATUS g_staleStatus = {};

struct Returned {
  HRESULT hr;
  LPWSTR text;  // GetStatus: the record's vendor text
  OPCSERVERSTATUS *status;
};

// `call` as the monitor makes it, on `object` of the call's interface.
Returned CallThrough(Call call, void *object) {
  Returned got = {E_UNEXPECTED, g_staleText, &g_staleStatus};
  if (call == Call::kGetErrorString) {
    got.hr = static_cast<IOPCServer *>(object)->GetErrorString(kError, kLocale, &got.text);
  } else if (call == Call::kGetItemID) {
    got.hr = static_cast<IOPCBrowseServerAddressSpace *>(object)->GetItemID(const_cast<LPWSTR>(kItemDataID), &got.text);
  } else {
    got.hr = static_cast<IOPCServer *>(object)->GetStatus(&got.status);
    got.text = got.status != nullptr && got.status != &g_staleStatus ? got.status->szVendorInfo : nullptr;
  }
  return got;
}

// The fake server's answer to `call` for the row: its text or record from
// the task allocator (the stub frees it), nothing for a failure.
void Answer(StrictMock<FakeServer> &server, Call call, const Case &row) {
  const auto text = [row](LPWSTR *out) { *out = row.text != nullptr ? TaskString(row.text) : nullptr; };
  if (call == Call::kGetErrorString) {
    EXPECT_CALL(server, GetErrorString(kError, kLocale, NotNull())).WillOnce([=](HRESULT, LCID, LPWSTR *out) {
      return text(out), row.hr;
    });
  } else if (call == Call::kGetItemID) {
    EXPECT_CALL(server, GetItemID(StrEq(kItemDataID), NotNull())).WillOnce([=](LPWSTR, LPWSTR *out) {
      return text(out), row.hr;
    });
  } else {
    EXPECT_CALL(server, GetStatus(NotNull())).WillOnce([=](OPCSERVERSTATUS **out) {
      *out = SUCCEEDED(row.hr) ? TaskArray<OPCSERVERSTATUS>(1) : nullptr;
      if (*out != nullptr) **out = Status(), text(&(*out)->szVendorInfo);
      return row.hr;
    });
  }
}

class WireFormTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    if (HasFatalFailure()) return;
    factory_ = ProxyStubFactory();
    ASSERT_NE(nullptr, factory_) << "opcproxy.dll (OPCPROXY_DLL) gives no IPSFactoryBuffer";
  }
  void TearDown() override {
    if (factory_ != nullptr) factory_->Release();
    ComTest::TearDown();
  }

  IPSFactoryBuffer *factory_ = nullptr;
};

TEST_F(WireFormTest, ProxySendsThePublishedRequestAndReadsThePublishedResponse) {
  for (const CallRow &call : kCalls) {
    for (const Case &row : kCases) {
      SCOPED_TRACE(std::string(call.name) + ", " + row.name);
      FakeChannel channel;
      channel.response = Response(call.call, row).bytes;
      IRpcProxyBuffer *proxyBuffer = nullptr;
      void *proxy = nullptr;
      ASSERT_HR(S_OK, factory_->CreateProxy(nullptr, *call.iid, &proxyBuffer, &proxy));
      ASSERT_HR(S_OK, proxyBuffer->Connect(&channel));
      const size_t live = Ledger().Live();

      const Returned got = CallThrough(call.call, proxy);
      EXPECT_TRUE(SameBody(Request(call.call), channel.request.data(), channel.request.size())) << "request";
      EXPECT_HR(row.hr, got.hr);
      const bool record = call.call == Call::kGetStatus && SUCCEEDED(row.hr);
      EXPECT_TRUE(record ? got.status != nullptr && Ledger().IsLive(got.status) : got.status == nullptr ||
                                                                                     call.call != Call::kGetStatus)
          << "the record: not the caller's block, or not null";
      if (record && got.status != nullptr) {
        OPCSERVERSTATUS fields = *got.status;
        fields.szVendorInfo = nullptr;
        const OPCSERVERSTATUS sent = Status();
        EXPECT_EQ(0, std::memcmp(&sent, &fields, sizeof sent)) << "the record's fields";
      }
      EXPECT_TRUE(got.text == nullptr || Ledger().IsLive(got.text)) << "the text: not the caller's block";
      EXPECT_EQ(row.text != nullptr ? std::wstring(row.text) : L"(null)",
                got.text != nullptr && Ledger().IsLive(got.text) ? std::wstring(got.text) : L"(null)");
      if (got.text != nullptr && Ledger().IsLive(got.text)) CoTaskMemFree(got.text);
      if (got.status != nullptr && Ledger().IsLive(got.status)) CoTaskMemFree(got.status);
      EXPECT_EQ(live, Ledger().Live()) << "left in task memory: " << Ledger().DescribeLive();

      static_cast<IUnknown *>(proxy)->Release();
      proxyBuffer->Disconnect();
      proxyBuffer->Release();
      EXPECT_REFS(&channel, 0u);
    }
  }
}

TEST_F(WireFormTest, StubReadsThePublishedRequestAndSendsThePublishedResponse) {
  for (const CallRow &call : kCalls) {
    for (const Case &row : kCases) {
      SCOPED_TRACE(std::string(call.name) + ", " + row.name);
      StrictMock<FakeServer> server;
      Answer(server, call.call, row);
      FakeChannel channel;
      IRpcStubBuffer *stub = nullptr;
      ASSERT_HR(S_OK, factory_->CreateStub(*call.iid, static_cast<IOPCServer *>(&server), &stub));
      const size_t live = Ledger().Live();

      Block request;
      RPCOLEMESSAGE message = {};
      message.Buffer = Fill(request, Request(call.call).bytes);
      message.cbBuffer = static_cast<ULONG>(Request(call.call).bytes.size());
      message.iMethod = call.method;
      message.dataRepresentation = 0x10;
      EXPECT_HR(S_OK, stub->Invoke(&message, &channel));
      EXPECT_TRUE(SameBody(Response(call.call, row), message.Buffer, message.cbBuffer)) << "response";
      EXPECT_EQ(live, Ledger().Live()) << "the server's answer left in task memory: " << Ledger().DescribeLive();

      stub->Disconnect();
      stub->Release();
      EXPECT_REFS(&channel, 0u);
      EXPECT_REFS(&server, 0u);
    }
  }
}

}  // namespace
