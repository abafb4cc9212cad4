// A transport library for the loader's tests: its transport's creation
// answers a chosen result and its devices record every call.
#include "Jorvale.h"

#include <cstring>
#include <string>

namespace {

HRESULT g_createResult = 0;
HRESULT g_openResult = 0;
HRESULT g_operationResult = 0;
std::string g_log;
int g_liveObjects = 0;

void Log(const std::string& entry) {
    g_log += entry;
    g_log += ';';
}

struct TestDevice : PtpiDevice {};
struct TestTransport : PtpiTransport {};

ULONG DeviceAddRef(PtpiDevice*) {
    return 1;
}
ULONG DeviceRelease(PtpiDevice* self) {
    Log("release device");
    delete static_cast<TestDevice*>(self);
    --g_liveObjects;
    return 0;
}
HRESULT SendCmd(PtpiDevice*, PtpCommandBlock* command) {
    Log("send " + std::to_string(command->operationCode) + " n" + std::to_string(command->parameterCount) + " p" +
        std::to_string(command->parameters[0]) + "," + std::to_string(command->parameters[4]));
    command->transactionId = 77;
    return g_operationResult;
}
HRESULT WriteData(PtpiDevice*, const void*, DWORD* length) {
    Log("write " + std::to_string(*length));
    return g_operationResult;
}
HRESULT WaitAck(PtpiDevice*, DWORD*) {
    Log("wait ack");
    return g_operationResult;
}
HRESULT ReadData(PtpiDevice*, void*, DWORD* length) {
    Log("read " + std::to_string(*length));
    return g_operationResult;
}
HRESULT GetRsp(PtpiDevice*, PtpResponseBlock* response) {
    Log("response");
    response->responseCode = 0x2001;
    response->transactionId = 77;
    response->parameterCount = 1;
    response->parameters[0] = 5;
    return g_operationResult;
}
HRESULT CancelTransaction(PtpiDevice*, DWORD id) {
    Log("cancel " + std::to_string(id));
    return g_operationResult;
}
HRESULT GetEvt(PtpiDevice*, PtpEventBlock* event) {
    Log("event");
    event->eventCode = 0x4006;
    event->parameterCount = 3;
    event->parameters[2] = 9;
    return g_operationResult;
}
HRESULT CancelGetEvt(PtpiDevice*) {
    Log("cancel event");
    return g_operationResult;
}

const PtpiDeviceOps kDeviceOps = {&DeviceAddRef, &DeviceRelease, &SendCmd,           &WriteData, &WaitAck,
                                  &ReadData,     &GetRsp,        &CancelTransaction, &GetEvt,    &CancelGetEvt};

ULONG TransportAddRef(PtpiTransport*) {
    return 1;
}
ULONG TransportRelease(PtpiTransport* self) {
    Log("release transport");
    delete static_cast<TestTransport*>(self);
    --g_liveObjects;
    return 0;
}
HRESULT Enumerate(PtpiTransport*, DWORD, PtpEnumCallback, void*) {
    Log("enumerate");
    return 0;
}
HRESULT OpenDevice(PtpiTransport*, LPCWSTR url, DWORD flags, PtpiDevice** device) {
    std::string narrow;
    for (const WCHAR* p = url; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
    Log("open " + narrow + " " + std::to_string(flags));
    if (g_openResult != 0) return g_openResult;
    auto* created = new TestDevice;
    created->ops = &kDeviceOps;
    ++g_liveObjects;
    *device = created;
    return 0;
}
HRESULT Refresh(PtpiTransport*) {
    return 0;
}

const PtpiTransportOps kTransportOps = {&TransportAddRef, &TransportRelease, &Enumerate, &OpenDevice, &Refresh};

}  // namespace

extern "C" {

#ifndef TEST_TRANSPORT_WITHOUT_EXPORT
HRESULT PtpiCreateTransport(PtpiTransport** transport) {
    Log("create");
    if (g_createResult != 0) return g_createResult;
    auto* created = new TestTransport;
    created->ops = &kTransportOps;
    ++g_liveObjects;
    *transport = created;
    return 0;
}
#endif

void TestTransportConfigure(HRESULT create, HRESULT open, HRESULT operation) {
    g_createResult = create;
    g_openResult = open;
    g_operationResult = operation;
    g_log.clear();
}

const char* TestTransportLog() {
    return g_log.c_str();
}

int TestTransportLiveObjects() {
    return g_liveObjects;
}
}
