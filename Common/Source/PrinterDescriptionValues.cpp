#include "PrinterDescriptionValues.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "Tessary/StrToL.h"

namespace PrinterDescription {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool ParseIntegerA(std::string_view text, int& value) {
    std::size_t consumed = 0;
    value = Tessary::StrToL(text, &consumed);
    return consumed != 0;
}

bool ParseIntegerB(std::string_view text, int& value) {
    value = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Stream extraction fails on a value out of range rather than saturate.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<int>::max()} + 1;
    std::int64_t magnitude = 0;
    const std::size_t firstDigit = i;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) return false;
    }
    if (i == firstDigit) return false;
    if (!negative && magnitude == kLimit) return false;
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

int ParseIntegerC(std::string_view text) {
    return Tessary::StrToL(text);
}

bool ParseFloatF(std::string_view text, float& value) {
    value = 0;
    std::size_t consumed = 0;
    const double number = Tessary::StrToD(text, &consumed);
    if (consumed == 0) return false;
    // Narrowing a double beyond float's range is undefined; a single-precision
    // read gives infinity there.
    if (std::isfinite(number) && std::fabs(number) > static_cast<double>(std::numeric_limits<float>::max())) {
        value = number > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    } else {
        value = static_cast<float>(number);
    }
    return true;
}

bool ParseBoolean(std::string_view text, bool& value) {
    value = false;
    if (text == "true") {
        value = true;
        return true;
    }
    return text == "false";
}

int OutputFormatCode(std::string_view text) {
    if (text == "cmy-cmd-planar") return OUTPUT_FORMAT_CMY_CMD_PLANAR;
    if (text == "jpeg") return OUTPUT_FORMAT_JPEG;
    return 0;
}

int DiscoveryProtocolCode(std::string_view text) {
    if (text == "rendezvous") return DISCOVERY_PROTOCOL_RENDEZVOUS;
    if (text == "udp-mw") return DISCOVERY_PROTOCOL_UDP_MW;
    return 0;
}

bool SizeSlots(std::string_view units, PaperDimension& width, PaperDimension& height) {
    if (units == "inches") {
        width = WidthInches;
        height = HeightInches;
    } else if (units == "pixels") {
        width = WidthPixels;
        height = HeightPixels;
    } else if (units == "mm_tenths") {
        width = WidthMmTenths;
        height = HeightMmTenths;
    } else {
        return false;
    }
    return true;
}

}  // namespace PrinterDescription
