#include "Platform/Files.h"

#include "DeviceState.h"
#include "Platform/Machine.h"

using namespace Platform;
using namespace Platform::detail;

namespace {

std::atomic<std::size_t> g_liveDeviceFiles{0};

BOOL Finish(DWORD error, DWORD count, LPDWORD countOut) {
    if (countOut != nullptr) *countOut = count;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

namespace Platform::detail {

DeviceFile::DeviceFile(std::shared_ptr<Node> node, std::shared_ptr<Attachment> attachment,
                       std::shared_ptr<UsbDeviceModel> model, Channel channel, DWORD access)
    : node_(std::move(node)),
      attachment_(std::move(attachment)),
      model_(std::move(model)),
      channel_(channel),
      access_(access) {
    ++g_liveDeviceFiles;
}

DeviceFile::~DeviceFile() {
    --g_liveDeviceFiles;
}

std::size_t DeviceFile::LiveCount() {
    return g_liveDeviceFiles.load();
}

DWORD DeviceFile::Read(BYTE* buffer, DWORD length, DWORD& read) {
    read = 0;
    if (!attachment_->connected) return ERROR_DEVICE_NOT_CONNECTED;
    if (channel_ != Channel::Printer) return ERROR_INVALID_FUNCTION;
    if (!(access_ & GENERIC_READ)) return ERROR_ACCESS_DENIED;
    const DWORD error = model_->Read(buffer, length, read);
    // Pulled while the read waited.
    if (!attachment_->connected) {
        read = 0;
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    return error;
}

DWORD DeviceFile::Write(const BYTE* data, DWORD length, DWORD& written) {
    written = 0;
    if (!attachment_->connected) return ERROR_DEVICE_NOT_CONNECTED;
    if (channel_ != Channel::Printer) return ERROR_INVALID_FUNCTION;
    if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
    return model_->Write(data, length, written);
}

DWORD DeviceFile::IoControl(DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& returned) {
    returned = 0;
    if (!attachment_->connected) return ERROR_DEVICE_NOT_CONNECTED;
    switch (channel_) {
        case Channel::HostController:
        case Channel::Hub:
            return HubIoControl(node_, channel_, code, in, inSize, out, outSize, returned);
        case Channel::Printer:
            return model_->Control(code, in, inSize, out, outSize, returned);
        case Channel::None:
            break;
    }
    return ERROR_INVALID_FUNCTION;
}

HANDLE OpenDevicePath(const std::u16string& name, DWORD access, DWORD disposition) {
    auto& s = GetMachine().Devices().State();
    std::shared_ptr<Node> node;
    std::shared_ptr<Attachment> attachment;
    std::shared_ptr<UsbDeviceModel> model;
    Channel channel = Channel::None;
    {
        std::lock_guard lock(s.mutex);
        const DeviceInterface* itf = nullptr;
        node = s.FindInterface(name, &itf);
        if (!node || !node->present || !node->attachment->connected) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (node->faults.openError != ERROR_SUCCESS) {
            SetLastError(node->faults.openError);
            return INVALID_HANDLE_VALUE;
        }
        attachment = node->attachment;
        model = node->model;
        channel = itf->channel;
    }
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(
        std::make_shared<DeviceFile>(std::move(node), std::move(attachment), std::move(model), channel, access));
}

}  // namespace Platform::detail

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, void*, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (flagsAndAttributes & FILE_FLAG_OVERLAPPED) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string text(path);
    if (text.starts_with(u"\\\\?\\") || text.starts_with(u"\\\\.\\"))
        return OpenDevicePath(text.substr(4), access, creationDisposition);
    // The machine has no file system yet: only device paths exist.
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read != nullptr) *read = 0;
    if (overlapped != nullptr) return Finish(ERROR_NOT_SUPPORTED, 0, read);
    auto object = LookupHandleAs<FileObject>(file);
    if (!object) return Finish(ERROR_INVALID_HANDLE, 0, read);
    if (read == nullptr || (buffer == nullptr && toRead != 0)) return Finish(ERROR_INVALID_PARAMETER, 0, read);
    DWORD count = 0;
    const DWORD error = object->Read(static_cast<BYTE*>(buffer), toRead, count);
    return Finish(error, count, read);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    if (overlapped != nullptr) return Finish(ERROR_NOT_SUPPORTED, 0, written);
    auto object = LookupHandleAs<FileObject>(file);
    if (!object) return Finish(ERROR_INVALID_HANDLE, 0, written);
    if (written == nullptr || (buffer == nullptr && toWrite != 0)) return Finish(ERROR_INVALID_PARAMETER, 0, written);
    DWORD count = 0;
    const DWORD error = object->Write(static_cast<const BYTE*>(buffer), toWrite, count);
    return Finish(error, count, written);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped) {
    if (returned != nullptr) *returned = 0;
    if (overlapped != nullptr) return Finish(ERROR_NOT_SUPPORTED, 0, returned);
    auto object = LookupHandleAs<FileObject>(device);
    if (!object) return Finish(ERROR_INVALID_HANDLE, 0, returned);
    if (returned == nullptr || (in == nullptr && inSize != 0) || (out == nullptr && outSize != 0))
        return Finish(ERROR_INVALID_PARAMETER, 0, returned);
    DWORD count = 0;
    const DWORD error =
        object->IoControl(code, static_cast<const BYTE*>(in), inSize, static_cast<BYTE*>(out), outSize, count);
    return Finish(error, count, returned);
}
