#include "Tessary/StrToL.h"

#include <locale.h>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <string>

namespace Tessary {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

}  // namespace

std::int32_t StrToL(std::string_view text, std::size_t* consumed, int base) {
    if (consumed) *consumed = 0;
    if (base != 0 && (base < 2 || base > 36)) return 0;

    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // A "0x" prefix counts only when a hexadecimal digit follows it; "0xg"
    // reads as the number 0 followed by junk, as strtol does.
    const bool hexPrefix =
        i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(text[i + 2]) < 16;
    if (base == 0) {
        base = hexPrefix ? 16 : (i < n && text[i] == '0') ? 8 : 10;
    }
    if (base == 16 && hexPrefix) i += 2;

    // The magnitude is capped just above what 32 bits can hold, so it never
    // overflows however long the digit run is.
    constexpr std::uint64_t kCap = std::uint64_t{1} << 32;
    std::uint64_t magnitude = 0;
    const std::size_t firstDigit = i;
    while (i < n) {
        const int digit = DigitValue(text[i]);
        if (digit >= base) break;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > kCap) magnitude = kCap;
        ++i;
    }
    if (i == firstDigit) return 0;
    if (consumed) *consumed = i;

    if (negative) {
        constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 31;
        return magnitude >= kMinMagnitude ? INT32_MIN : -static_cast<std::int32_t>(magnitude);
    }
    return magnitude > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(magnitude);
}

double StrToD(std::string_view text, std::size_t* consumed) {
    if (consumed) *consumed = 0;

    // Plain decimal numbers, the usual case, are read by from_chars, which
    // never looks at the locale. Hexadecimal floats, numbers out of range
    // and whatever from_chars refuses go the long way.
    std::size_t start = 0;
    const std::size_t n = text.size();
    while (start < n && IsSpace(text[start])) ++start;
    std::size_t p = start;
    const bool plus = p < n && text[p] == '+';
    if (p < n && (text[p] == '+' || text[p] == '-')) ++p;
    const bool hex = p + 1 < n && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X');
    const bool secondSign = p < n && (text[p] == '+' || text[p] == '-');
    if (!hex && !secondSign) {
        double value = 0;
        const char* first = text.data() + (plus ? start + 1 : start);  // from_chars takes '-' only
        const auto [end, error] = std::from_chars(first, text.data() + n, value);
        if (error == std::errc()) {
            if (consumed) *consumed = static_cast<std::size_t>(end - text.data());
            return value;
        }
    }

    // One "C" locale for the life of the process; never freed, like the
    // locale objects of the run-time library.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (cLocale == static_cast<locale_t>(nullptr)) return 0.0;

    const std::string copy(text);  // strtod_l needs a terminated string
    char* end = nullptr;
    const double value = strtod_l(copy.c_str(), &end, cLocale);
    const auto used = static_cast<std::size_t>(end - copy.c_str());
    if (used == 0) return 0.0;
    if (consumed) *consumed = used;
    return value;
}

}  // namespace Tessary
