#include "PtpTransport.h"

#include "Jorvale.h"

#include <memory>
#include <new>

namespace {

template <class... Arguments>
int NotOffered(Arguments...) {
    return kPtpNotOffered;
}

int Reserved(void* first, void* second) {
    return first == nullptr || second == nullptr ? kPtpBadArgument : kPtpNotOffered;
}

const PtpiDeviceOps* Ops(PtpDeviceTable* table) {
    return table != nullptr && table->device != nullptr ? table->device->ops : nullptr;
}

// The library's blocks are packed; the layer's records are not.
void ToBlock(const PtpCommand& from, PtpCommandBlock& to) {
    to.operationCode = from.operationCode;
    to.dataOutLength = from.dataOutLength;
    to.transactionId = from.transactionId;
    to.parameterCount = from.parameterCount;
    for (int i = 0; i < 5; ++i) to.parameters[i] = from.parameters[i];
}

int SendCommand(PtpDeviceTable* table, PtpCommand* command) {
    const auto* ops = Ops(table);
    if (ops == nullptr || command == nullptr) return kPtpBadArgument;
    PtpCommandBlock block{};
    ToBlock(*command, block);
    const int code = PtpResultCode(ops->SendCmd(table->device, &block));
    command->transactionId = block.transactionId;
    return code;
}

int WriteData(PtpDeviceTable* table, const void* data, DWORD* length) {
    const auto* ops = Ops(table);
    if (ops == nullptr || length == nullptr) return kPtpBadArgument;
    return PtpResultCode(ops->WriteData(table->device, data, length));
}

int WaitAck(PtpDeviceTable* table, DWORD* dataLength) {
    const auto* ops = Ops(table);
    if (ops == nullptr || dataLength == nullptr) return kPtpBadArgument;
    return PtpResultCode(ops->WaitAck(table->device, dataLength));
}

int ReadData(PtpDeviceTable* table, void* buffer, DWORD* length) {
    const auto* ops = Ops(table);
    if (ops == nullptr || length == nullptr) return kPtpBadArgument;
    return PtpResultCode(ops->ReadData(table->device, buffer, length));
}

int GetResponse(PtpDeviceTable* table, PtpResponse* response) {
    const auto* ops = Ops(table);
    if (ops == nullptr || response == nullptr) return kPtpBadArgument;
    PtpResponseBlock block{};
    const int code = PtpResultCode(ops->GetRsp(table->device, &block));
    response->responseCode = block.responseCode;
    response->transactionId = block.transactionId;
    response->parameterCount = block.parameterCount;
    for (int i = 0; i < 5; ++i) response->parameters[i] = block.parameters[i];
    return code;
}

int CancelTransaction(PtpDeviceTable* table, DWORD transactionId) {
    const auto* ops = Ops(table);
    if (ops == nullptr) return kPtpBadArgument;
    return PtpResultCode(ops->CancelTransaction(table->device, transactionId));
}

int GetEvent(PtpDeviceTable* table, PtpEvent* event) {
    const auto* ops = Ops(table);
    if (ops == nullptr || event == nullptr) return kPtpBadArgument;
    PtpEventBlock block{};
    const int code = PtpResultCode(ops->GetEvt(table->device, &block));
    event->eventCode = block.eventCode;
    event->transactionId = block.transactionId;
    event->parameterCount = block.parameterCount;
    for (int i = 0; i < 3; ++i) event->parameters[i] = block.parameters[i];
    return code;
}

int CancelGetEvent(PtpDeviceTable* table) {
    const auto* ops = Ops(table);
    if (ops == nullptr) return kPtpBadArgument;
    return PtpResultCode(ops->CancelGetEvt(table->device));
}

int OpenDevice(PtpTransportContext* context, LPCWSTR url, PtpDeviceTable** device) {
    if (context == nullptr || context->transport == nullptr || url == nullptr || device == nullptr)
        return kPtpBadArgument;
    std::unique_ptr<PtpDeviceTable> table(new (std::nothrow) PtpDeviceTable{});
    if (!table) return kPtpNoMemory;
    PtpiDevice* opened = nullptr;
    const int code = PtpResultCode(context->transport->ops->OpenDevice(context->transport, url, 0, &opened));
    if (code != 0) return code;
    *table = PtpDeviceTable{opened,       &SendCommand,       &WriteData, &WaitAck,  &ReadData,
                            &GetResponse, &CancelTransaction, &Reserved,  &GetEvent, &CancelGetEvent};
    *device = table.release();
    return 0;
}

int CloseDevice(PtpDeviceTable* device) {
    if (device == nullptr) return kPtpBadArgument;
    std::unique_ptr<PtpDeviceTable> table(device);
    if (table->device != nullptr) table->device->ops->Release(table->device);
    return 0;
}

}  // namespace

int PtpResultCode(HRESULT result) {
    switch (static_cast<std::uint32_t>(result)) {
        case 0x00000000u:
            return 0;
        case 0x80070057u:
            return -1;
        case 0x80070008u:
            return -2;
        case 0x80070005u:
            return -52;
        case 0x80070001u:
            return -53;
        case 0x800703E3u:
            return -51;
        case 0x80070037u:
            return -100;
        case 0x8007045Du:
            return -109;
        case 0x80000005u:
            return -110;
        case 0x800700AAu:
            return -111;
        case 0x8000000Au:
            return -112;
        default:
            return kPtpFailed;
    }
}

int CreatePtpTransportFrom(LPCSTR library, PtpTransportTable** out) {
    if (out == nullptr) return kPtpBadArgument;
    std::unique_ptr<PtpTransportTable> table(new (std::nothrow) PtpTransportTable{});
    std::unique_ptr<PtpTransportContext> context(new (std::nothrow) PtpTransportContext{});
    if (!table || !context) return kPtpNoMemory;

    // Loaded once per transport and never unloaded: the transport's
    // threads may outlive it.
    HRESULT created = static_cast<HRESULT>(0x80004005u);
    if (HMODULE module = LoadLibraryA(library)) {
        if (auto create = reinterpret_cast<PtpiCreateTransportFn>(GetProcAddress(module, "PtpiCreateTransport")))
            created = create(&context->transport);
    }
    const int code = PtpResultCode(created);
    if (code < 0) return code;

    context->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (context->event == nullptr) {
        context->transport->ops->Release(context->transport);
        return kPtpNoEvent;
    }
    table->context = context.release();
    table->enumerate = &NotOffered<PtpTransportContext*, PtpFoundCallback, void*>;
    table->stop = &NotOffered<PtpTransportContext*>;
    table->third = &NotOffered<PtpTransportContext*, void*>;
    table->openDevice = &OpenDevice;
    table->closeDevice = &CloseDevice;
    *out = table.release();
    return 0;
}

int CreatePtpTransport(LPCWSTR, DWORD, PtpTransportTable** table) {
    return CreatePtpTransportFrom("Jorvale.dll", table);
}

int DestroyPtpTransport(PtpTransportTable* table) {
    if (table == nullptr || table->context == nullptr) return kPtpBadArgument;
    std::unique_ptr<PtpTransportTable> owned(table);
    std::unique_ptr<PtpTransportContext> context(table->context);
    if (context->transport != nullptr) context->transport->ops->Release(context->transport);
    CloseHandle(context->event);
    return 0;
}
