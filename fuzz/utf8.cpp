// Arbitrary bytes through the UTF-8 decoder. What decodes must encode back
// to the same bytes; what does not decode must fail the same way in every
// form.
#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"
#include "Tessary/i8n/UTFConversion.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckDecoding(const char* bytes, int size) {
    const int units = Tessary::UTF8ToUTF16(bytes, size, nullptr, 0);
    // Never more units than bytes, so a failed size query is checked with
    // room to spare: the conversion must then fail too.
    const int capacity = units >= 0 ? units : size;
    std::vector<char16_t> wide(static_cast<std::size_t>(capacity) + 1, u'#');
    Check(Tessary::UTF8ToUTF16(bytes, size, wide.data(), capacity) == units);

    // The wide text and the throwing form agree with the buffer forms.
    std::string zeroTerminated(bytes, static_cast<std::size_t>(size));
    zeroTerminated.resize(std::strlen(zeroTerminated.c_str()));
    const Tessary::I8NString text(zeroTerminated);
    Check(text.c_str() != nullptr);
    bool threw = false;
    try {
        Tessary::UTF8ToUTF16Buffer(bytes, size);
    } catch (const Tessary::TSException& e) {
        threw = true;
        Check(std::strcmp(e.what(), "Can't convert string") == 0);
    }
    Check(threw == (units < 0));
    if (units < 0) {
        Check(text.empty());
        return;
    }
    Check(wide[static_cast<std::size_t>(units)] == u'#');
    Check(text.length() == static_cast<std::size_t>(units));
    Check(std::memcmp(text.c_str(), wide.data(), static_cast<std::size_t>(units) * sizeof(char16_t)) == 0);

    // A smaller buffer takes a prefix that ends on a code point.
    if (units > 1) {
        std::vector<char16_t> part(static_cast<std::size_t>(units - 1));
        const int n = Tessary::UTF8ToUTF16(bytes, size, part.data(), units - 1);
        Check(n == units - 1 || n == units - 2);
        Check(std::memcmp(part.data(), wide.data(), static_cast<std::size_t>(n) * sizeof(char16_t)) == 0);
    }

    // Back to UTF-8: the input up to its first zero byte.
    const int back = Tessary::UTF16ToUTF8(wide.data(), units, nullptr, 0);
    Check(back >= 0);
    std::string narrow(static_cast<std::size_t>(back), '\0');
    Check(Tessary::UTF16ToUTF8(wide.data(), units, narrow.data(), back) == back);
    Check(narrow == zeroTerminated);
}

// The same bytes read as UTF-16 units: encoding either fails in both forms
// or decodes back to the units less U+FFFE, which encoding drops.
void CheckEncoding(const std::uint8_t* data, std::size_t size) {
    std::vector<char16_t> units(size / 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    const int count = static_cast<int>(units.size());
    const int bytes = Tessary::UTF16ToUTF8(units.data(), count, nullptr, 0);
    bool threw = false;
    std::string narrow;
    try {
        narrow = Tessary::UTF16ToUTF8String(units.data(), count);
    } catch (const Tessary::TSException& e) {
        threw = true;
        Check(std::strcmp(e.what(), "Can't convert string") == 0);
    }
    Check(threw == (bytes < 0));
    if (bytes < 0) return;
    Check(narrow.size() == static_cast<std::size_t>(bytes));

    std::u16string expected;
    for (char16_t unit : units) {
        if (unit == 0) break;
        if (unit != 0xFFFE) expected.push_back(unit);
    }
    const std::vector<char16_t> back = Tessary::UTF8ToUTF16Buffer(narrow.data(), bytes);
    Check(std::u16string(back.begin(), back.end()) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    CheckDecoding(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CheckEncoding(data, size);
    return 0;
}
