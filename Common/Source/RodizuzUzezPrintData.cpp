// The printer data values the driver plug-ins keep on a print queue.
#include "RodizuzUzezProperties.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Common/ConfigSupport/PrinterIDs.h"
#include "Common/ConfigSupport/PrinterIdentification.h"
#include "Common/Headers/PrinterDescription.h"
#include "Platform/Registry.h"
#include "Tessary/i8n/UTFConversion.h"

namespace {

// Every text value is read through a buffer of this size.
constexpr DWORD kTextBytes = 900;
constexpr unsigned kDeviceIdBytes = 255;
constexpr unsigned kNameBytes = 255;
constexpr const char* kDefaultFilter = "ORVDynCC.dll";
constexpr const char* kUnidentifiedFilterData = "Natural";

// UTF-16 to UTF-8 into buffer, at most size - 1 bytes and only whole
// characters, then a zero. A lone surrogate becomes '?'.
void NarrowInto(const std::u16string& text, char* buffer, unsigned size) {
    if (buffer == nullptr || size == 0) return;
    const std::size_t room = size - 1;
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = u'?';
        }
        char bytes[4];
        std::size_t n;
        if (c < 0x80) {
            bytes[0] = static_cast<char>(c);
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
            n = 4;
        }
        if (at + n > room) break;
        std::memcpy(buffer + at, bytes, n);
        at += n;
    }
    buffer[at] = '\0';
}

void CopyNarrow(const char* text, char* buffer, unsigned size) {
    if (buffer == nullptr || size == 0) return;
    const std::size_t n = std::min<std::size_t>(std::strlen(text), size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

}  // namespace

RodizuzUzezProperties::RodizuzUzezProperties(HANDLE driverPrinter) : printer(driverPrinter), opened(FALSE) {}

int RodizuzUzezProperties::ReadPrinterData(const WCHAR* name, BYTE* buffer, DWORD size) {
    if (printer == nullptr || buffer == nullptr) return -1;
    DWORD type = 0;
    DWORD needed = 0;
    return static_cast<int>(GetPrinterDataW(printer, name, &type, buffer, size, &needed));
}

int RodizuzUzezProperties::WritePrinterData(const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes) {
    if (printer == nullptr) return -1;
    return static_cast<int>(SetPrinterDataW(printer, name, type, data, bytes));
}

namespace {

// A text value: read into a zeroed buffer with two spare bytes, so a value
// that fills the whole read is still terminated.
int ReadText(RodizuzUzezProperties& queue, const WCHAR* name, std::u16string& out) {
    out.clear();
    if (queue.Handle() == nullptr) return -1;
    std::vector<BYTE> buffer(kTextBytes + 2, 0);
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD result = GetPrinterDataW(queue.Handle(), name, &type, buffer.data(), kTextBytes, &needed);
    if (result != ERROR_SUCCESS) return static_cast<int>(result);
    const std::size_t units = std::min<DWORD>(needed, kTextBytes) / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = static_cast<char16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
        if (unit == 0) break;
        out.push_back(unit);
    }
    return 0;
}

int ReadDword(RodizuzUzezProperties& queue, const WCHAR* name, DWORD& value) {
    BYTE bytes[4] = {};
    const int result = queue.ReadPrinterData(name, bytes, sizeof bytes);
    if (result == 0) value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<DWORD>(bytes[3]) << 24);
    return result;
}

int WriteDword(RodizuzUzezProperties& queue, const WCHAR* name, int value) {
    const DWORD v = static_cast<DWORD>(value);
    const BYTE bytes[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                           static_cast<BYTE>(v >> 24)};
    return queue.WritePrinterData(name, REG_DWORD, bytes, sizeof bytes);
}

// Stored as UTF-16 without the terminating zero.
int WriteText(RodizuzUzezProperties& queue, const WCHAR* name, const char* text) {
    if (text == nullptr || queue.Handle() == nullptr) return -1;
    std::vector<char16_t> wide;
    try {
        wide = Tessary::UTF8ToUTF16Buffer(text, static_cast<int>(std::strlen(text)));
    } catch (...) {
        return -1;
    }
    std::vector<BYTE> bytes;
    bytes.reserve(wide.size() * 2);
    for (char16_t unit : wide) {
        bytes.push_back(static_cast<BYTE>(unit));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return queue.WritePrinterData(name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

}  // namespace

int RodizuzUzezProperties::GetDeviceID(char* buffer, unsigned size) {
    if (buffer == nullptr || size == 0) return -1;
    std::memset(buffer, 0, size);
    std::u16string text;
    const int result = ReadText(*this, u"DEVICE_ID", text);
    if (result != 0) return result;
    NarrowInto(text, buffer, size);
    return 0;
}

bool RodizuzUzezProperties::IdentifyPrinter(PrinterConfig& out) {
    char id[kDeviceIdBytes];
    if (GetDeviceID(id, sizeof id) != 0) return false;
    DeviceID1284 deviceId;
    if (!deviceId.Parse(id)) return false;
    char manufacturer[kNameBytes];
    char model[kNameBytes];
    if (!deviceId.GetManufacturer(manufacturer, sizeof manufacturer) || !deviceId.GetModel(model, sizeof model))
        return false;
    return LookupPrinterByDeviceNames(GetPrinterConfigPath(), GetPrinterIDsPath(), manufacturer, model, out);
}

int RodizuzUzezProperties::GetCCIndex(int* out) {
    if (out == nullptr) return -1;
    DWORD stored = 0;
    const int result = ReadDword(*this, u"CC_INDEX", stored);
    if (result == 0) {
        *out = static_cast<int>(stored);
        return 0;
    }
    PrinterConfig model;
    if (!IdentifyPrinter(model)) {
        *out = 0;
        return -1;
    }
    int position = 0;
    for (const auto& entry : model.lutNames) {
        if (entry.first == model.defaultLut) {
            *out = position;
            return 0;
        }
        ++position;
    }
    return result;
}

int RodizuzUzezProperties::GetCCFilter(char* buffer, unsigned size) {
    if (buffer == nullptr || size == 0) return -1;
    std::memset(buffer, 0, size);
    std::u16string text;
    const int result = ReadText(*this, u"CC_FILTER", text);
    if (result == 0)
        NarrowInto(text, buffer, size);
    else
        CopyNarrow(kDefaultFilter, buffer, size);
    return result;
}

int RodizuzUzezProperties::GetCCFilterData(char* buffer, unsigned size) {
    if (buffer == nullptr || size == 0) return -1;
    std::memset(buffer, 0, size);
    std::u16string text;
    if (ReadText(*this, u"CC_FILTER_DATA", text) == 0) {
        NarrowInto(text, buffer, size);
        return 0;
    }
    PrinterConfig model;
    if (!IdentifyPrinter(model)) {
        CopyNarrow(kUnidentifiedFilterData, buffer, size);
        return -1;
    }
    char id[kDeviceIdBytes];
    const int result = GetDeviceID(id, sizeof id);
    if (result != 0) return result;
    DeviceID1284 deviceId;
    deviceId.Parse(id);
    const std::string* headId = deviceId.Field(DeviceID1284::PHD);
    const HeadDefinition head = headId != nullptr ? model.GetHead(*headId) : model.GetDefaultHead();
    for (const auto& entry : model.lutNames) {
        if (entry.first == model.defaultLut) CopyNarrow(head.GetLut(entry.first).lutRef.c_str(), buffer, size);
    }
    return 0;
}

int RodizuzUzezProperties::GetPinSticky(int* out) {
    if (out == nullptr) return -1;
    *out = 0;
    DWORD value = 0;
    const int result = ReadDword(*this, u"PIN_STICKY", value);
    if (result == 0) *out = static_cast<int>(value);
    return result;
}

int RodizuzUzezProperties::GetPinValue(unsigned* out) {
    if (out == nullptr) return -1;
    *out = 0;
    DWORD value = 0;
    const int result = ReadDword(*this, u"PIN_VALUE", value);
    if (result == 0) *out = value;
    return result;
}

int RodizuzUzezProperties::SetCCIndex(int value) {
    return WriteDword(*this, u"CC_INDEX", value);
}

int RodizuzUzezProperties::SetPinSticky(int value) {
    return WriteDword(*this, u"PIN_STICKY", value);
}

int RodizuzUzezProperties::SetPinValue(int value) {
    return WriteDword(*this, u"PIN_VALUE", value);
}

int RodizuzUzezProperties::SetCCFilter(const char* text) {
    return WriteText(*this, u"CC_FILTER", text);
}

int RodizuzUzezProperties::SetCCFilterData(const char* text) {
    return WriteText(*this, u"CC_FILTER_DATA", text);
}
