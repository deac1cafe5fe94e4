// The bytes opcmon-ps.dll puts on the wire for the calls that carry a server's
// text out (IOPCServer::GetErrorString, GetStatus' vendor text,
// IOPCBrowseServerAddressSpace::GetItemID), against the NDR form of their
// published declarations written out below, never against our other half:
// our proxy's request and its reading of a response built here, our stub's
// response to a request built here. A channel of the test's own stands where
// COM's would; proxy and stub see the NDR body alone (COM's channel puts
// ORPCTHIS/ORPCTHAT before it and takes them off), so the whole body is
// compared, from the buffer's first byte to the length they gave.
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
using ::testing::WithArg;

// An NDR body in data representation 0x10 (little-endian, ASCII, IEEE), with
// the offsets of its referent ids: the sender picks those, any non-zero matches.
struct Wire {
  std::vector<unsigned char> bytes;
  std::vector<size_t> referents;
};

// Each primitive starts at a multiple of its size from the body's start; the
// padding before it is zero.
void Put(Wire &wire, uint32_t value, size_t size) {
  while (wire.bytes.size() % size != 0) wire.bytes.push_back(0);
  for (size_t i = 0; i < size; ++i) wire.bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A unique pointer: a 4-byte referent id on x86 and x64 alike, non-zero (here
// 0x00020000) when it points somewhere, 0 for null.
void Referent(Wire &wire, bool present) {
  Put(wire, present ? 0x00020000u : 0u, 4);
  if (present) wire.referents.push_back(wire.bytes.size() - 4);
}

// A [string] wide pointer's pointee, a conformant varying string: maximum
// count, offset 0, actual count (both counts with the terminator), then the
// UTF-16 code units, the terminator last.
void WideString(Wire &wire, const wchar_t *text) {
  const auto count = static_cast<uint32_t>(std::wcslen(text) + 1);
  for (uint32_t value : {count, 0u, count}) Put(wire, value, 4);
  for (uint32_t i = 0; i < count; ++i) Put(wire, static_cast<uint16_t>(text[i]), 2);
}

// The record GetStatus hands out here, every field's bytes different, and
// its fields but the text as (value, size on the wire) in order: the enum is
// 16 bits (an IDL enum without [v1_enum]), its padding zero.
OPCSERVERSTATUS Status() {
  return {{0x04030201, 0x08070605}, {0x14131211, 0x18171615}, {0x24232221, 0x28272625}, OPC_STATUS_SUSPENDED,
          0x34333231, 0x38373635, 0x4241, 0x4443, 0x4645, 0x4847, nullptr};
}
std::vector<std::pair<uint32_t, size_t>> Fields(const OPCSERVERSTATUS &s) {
  return {{s.ftStartTime.dwLowDateTime, 4}, {s.ftStartTime.dwHighDateTime, 4}, {s.ftCurrentTime.dwLowDateTime, 4},
          {s.ftCurrentTime.dwHighDateTime, 4}, {s.ftLastUpdateTime.dwLowDateTime, 4},
          {s.ftLastUpdateTime.dwHighDateTime, 4}, {static_cast<uint32_t>(s.dwServerState), 2}, {s.dwGroupCount, 4},
          {s.dwBandWidth, 4}, {s.wMajorVersion, 2}, {s.wMinorVersion, 2}, {s.wBuildNumber, 2}, {s.wReserved, 2}};
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
const HRESULT kError = static_cast<HRESULT>(0xC0040007);
const LCID kLocale = 0x0407;
const wchar_t kItemDataID[] = L"Sim.Ramp.Int16";

// The [in] arguments: GetErrorString's two longs; GetItemID's [in, string]
// pointer, a top-level reference pointer (no referent id), as its string;
// nothing for GetStatus. The [out] reference pointers send nothing.
Wire Request(Call call) {
  Wire wire;
  if (call == Call::kGetErrorString) {
    Put(wire, static_cast<uint32_t>(kError), 4);
    Put(wire, kLocale, 4);
  }
  if (call == Call::kGetItemID) WideString(wire, kItemDataID);
  return wire;
}

// The server's answer, a row of the table. A failure hands out nothing.
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

// [out, string] LPWSTR *: the reference pointer sends nothing; its pointee, a
// unique pointer, its string. [out] OPCSERVERSTATUS **: likewise the record,
// whose embedded pointer's string follows the whole record. The HRESULT last.
Wire Response(Call call, const Case &row) {
  Wire wire;
  if (call == Call::kGetStatus) {
    Referent(wire, SUCCEEDED(row.hr));
    if (SUCCEEDED(row.hr)) {
      for (const auto &field : Fields(Status())) Put(wire, field.first, field.second);
      Referent(wire, row.text != nullptr);
    }
  } else {
    Referent(wire, row.text != nullptr);
  }
  if (row.text != nullptr) WideString(wire, row.text);
  Put(wire, static_cast<uint32_t>(row.hr), 4);
  return wire;
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
  const auto hex = [](const unsigned char *data, size_t count) {
    std::string text;
    for (size_t at = 0; at < count; ++at) {
      text += {"0123456789abcdef"[data[at] >> 4], "0123456789abcdef"[data[at] & 15]};
      if (at % 4 == 3) text += ' ';
    }
    return text;
  };
  return ::testing::AssertionFailure() << "NDR body: got " << size << " bytes " << hex(bytes, size) << "\nexpected "
                                       << expected.bytes.size() << " bytes "
                                       << hex(expected.bytes.data(), expected.bytes.size())
                                       << "(referent ids: any non-zero)";
}

// Blocks of 8-byte words: NDR aligns to the buffer's address, so a buffer must
// start 8-aligned for the padding to fall where the rules put it.
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
    message->Buffer = Fill(buffer, std::vector<unsigned char>(message->cbBuffer));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SendReceive(RPCOLEMESSAGE *message, ULONG *status) override {
    const auto *sent = static_cast<const unsigned char *>(message->Buffer);
    request.assign(sent, sent + message->cbBuffer);
    message->Buffer = Fill(buffer, response);
    message->cbBuffer = static_cast<ULONG>(response.size());
    message->dataRepresentation = 0x10;
    if (status != nullptr) *status = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeBuffer(RPCOLEMESSAGE *) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetDestCtx(DWORD *context, void **reserved) override {
    *context = MSHCTX_DIFFERENTMACHINE;
    *reserved = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsConnected() override { return S_OK; }

  std::vector<unsigned char> request, response;
  Block buffer;
};

// What a caller's out variable held before the call: an [out] is never read.
wchar_t g_staleText[] = L"stale";
OPCSERVERSTATUS g_staleStatus = {};

struct Returned {
  HRESULT hr;
  LPWSTR text;  // for GetStatus the record's vendor text
  OPCSERVERSTATUS *status;
};

// `call` as the monitor makes it, on `object` of the call's interface.
Returned CallThrough(Call call, void *object) {
  Returned got = {E_UNEXPECTED, g_staleText, nullptr};
  if (call == Call::kGetErrorString) {
    got.hr = static_cast<IOPCServer *>(object)->GetErrorString(kError, kLocale, &got.text);
  } else if (call == Call::kGetItemID) {
    got.hr = static_cast<IOPCBrowseServerAddressSpace *>(object)->GetItemID(const_cast<LPWSTR>(kItemDataID), &got.text);
  } else {
    got.status = &g_staleStatus;
    got.hr = static_cast<IOPCServer *>(object)->GetStatus(&got.status);
    got.text = got.status != nullptr ? got.status->szVendorInfo : nullptr;
  }
  return got;
}

// The fake server's answer to `call`: its text, and record, from the task
// allocator (the stub frees them); nothing for a failure.
void Answer(StrictMock<FakeServer> &server, Call call, const Case &row) {
  const auto text = [row](LPWSTR *out) {
    *out = row.text != nullptr ? TaskString(row.text) : nullptr;
    return row.hr;
  };
  if (call == Call::kGetErrorString) {
    EXPECT_CALL(server, GetErrorString(kError, kLocale, NotNull())).WillOnce(WithArg<2>(text));
  } else if (call == Call::kGetItemID) {
    EXPECT_CALL(server, GetItemID(StrEq(kItemDataID), NotNull())).WillOnce(WithArg<1>(text));
  } else {
    EXPECT_CALL(server, GetStatus(NotNull())).WillOnce([=](OPCSERVERSTATUS **out) {
      *out = SUCCEEDED(row.hr) ? TaskArray<OPCSERVERSTATUS>(1) : nullptr;
      if (*out == nullptr) return row.hr;
      **out = Status();
      return text(&(*out)->szVendorInfo);
    });
  }
}

class WireFormTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    if (HasFatalFailure()) return;
    // The proxy/stub factory of opcmon-ps.dll (OPCPROXY_DLL), loaded to the
    // end of the process as COM may use it until then.
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"OPCPROXY_DLL", path, MAX_PATH);
    static HMODULE module = length > 0 && length < MAX_PATH ? LoadLibraryW(path) : nullptr;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
    const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(module != nullptr ? GetProcAddress(module, "DllGetClassObject") : nullptr));
    CLSID clsid = {};
    ASSERT_TRUE(getClassObject != nullptr &&
                SUCCEEDED(CLSIDFromString(L"{D0CD6F78-410B-4371-B619-43EF6A33B157}", &clsid)) &&
                SUCCEEDED(getClassObject(clsid, IID_IPSFactoryBuffer, reinterpret_cast<void **>(&factory_))))
        << "opcmon-ps.dll (OPCPROXY_DLL) gives no IPSFactoryBuffer";
  }
  void TearDown() override {
    if (factory_ != nullptr) factory_->Release();
    ComTest::TearDown();
  }

  IPSFactoryBuffer *factory_ = nullptr;
};

// Each row both ways: the proxy's request, and what it makes of the row's
// response, the out text whole in a block the caller frees; the stub's
// response to the request. Nothing left in task memory, every reference back.
TEST_F(WireFormTest, ProxyAndStubSendAndReadThePublishedBytes) {
  for (const CallRow &call : kCalls) {
    for (const Case &row : kCases) {
      SCOPED_TRACE(std::string(call.name) + ", " + row.name);
      FakeChannel channel;
      channel.response = Response(call.call, row).bytes;
      IRpcProxyBuffer *proxyBuffer = nullptr;
      void *proxy = nullptr;
      ASSERT_HR(S_OK, factory_->CreateProxy(nullptr, *call.iid, &proxyBuffer, &proxy));
      ASSERT_HR(S_OK, proxyBuffer->Connect(&channel));
      size_t live = Ledger().Live();
      const Returned got = CallThrough(call.call, proxy);
      EXPECT_TRUE(SameBody(Request(call.call), channel.request.data(), channel.request.size())) << "proxy's request";
      EXPECT_HR(row.hr, got.hr);
      EXPECT_EQ(call.call == Call::kGetStatus && SUCCEEDED(row.hr), got.status != nullptr) << "a record came back";
      EXPECT_TRUE(got.status == nullptr || Ledger().IsLive(got.status)) << "the record: not a block of the caller's";
      if (got.status != nullptr) {
        EXPECT_EQ(Fields(Status()), Fields(*got.status)) << "the record's fields";
      }
      EXPECT_TRUE(got.text == nullptr || Ledger().IsLive(got.text)) << "the text: not a block of the caller's";
      EXPECT_EQ(std::wstring(row.text ? row.text : L"(null)"), got.text ? got.text : L"(null)");
      for (void *block : {static_cast<void *>(got.text), static_cast<void *>(got.status)}) {
        if (Ledger().IsLive(block)) CoTaskMemFree(block);
      }
      EXPECT_EQ(live, Ledger().Live()) << "left in task memory by the proxy: " << Ledger().DescribeLive();
      static_cast<IUnknown *>(proxy)->Release();
      proxyBuffer->Disconnect();
      proxyBuffer->Release();

      StrictMock<FakeServer> server;
      Answer(server, call.call, row);
      IRpcStubBuffer *stub = nullptr;
      ASSERT_HR(S_OK, factory_->CreateStub(*call.iid, static_cast<IOPCServer *>(&server), &stub));
      live = Ledger().Live();
      Block request;
      RPCOLEMESSAGE message = {};
      message.Buffer = Fill(request, Request(call.call).bytes);
      message.cbBuffer = static_cast<ULONG>(Request(call.call).bytes.size());
      message.iMethod = call.method;
      message.dataRepresentation = 0x10;
      EXPECT_HR(S_OK, stub->Invoke(&message, &channel));
      EXPECT_TRUE(SameBody(Response(call.call, row), message.Buffer, message.cbBuffer)) << "stub's response";
      EXPECT_EQ(live, Ledger().Live()) << "left in task memory by the stub: " << Ledger().DescribeLive();
      stub->Disconnect();
      stub->Release();
      EXPECT_REFS(&channel, 0u);
      EXPECT_REFS(&server, 0u);
    }
  }
}

}  // namespace
