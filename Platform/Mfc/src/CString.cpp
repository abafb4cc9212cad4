// CString and printf-style formatting into UTF-16.
#include "Internal.h"

#include "Utf.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <stdexcept>

namespace Mfc::detail {

std::string ToUtf8(std::u16string_view text) {
    return Platform::Utf16ToUtf8(text);
}

std::u16string FromUtf8(std::string_view text) {
    if (auto strict = Platform::Utf8ToUtf16(text)) return *strict;
    // Lenient: every byte that starts no valid sequence becomes U+FFFD.
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        if (lead >= 0xE0 && lead <= 0xEF) length = 3;
        if (lead >= 0xF0 && lead <= 0xF4) length = 4;
        std::optional<std::u16string> decoded;
        if (i + length <= text.size()) decoded = Platform::Utf8ToUtf16(text.substr(i, length));
        if (decoded) {
            out += *decoded;
            i += length;
        } else {
            out += u'\uFFFD';
            ++i;
        }
    }
    return out;
}

namespace {

char16_t Fold(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF)) return c;
    return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
}

}  // namespace

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace Mfc::detail

namespace Mfc {
namespace {

// Formats longer than this are refused rather than allocated.
constexpr int kMaxField = 1 << 16;

[[noreturn]] void Refuse(const std::string& why) {
    throw std::invalid_argument("CString::Format: " + why);
}

struct Directive {
    std::string flags;
    int width = -1;
    int precision = -1;
    std::string length;
    char conversion = 0;
};

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

template <class... Args>
std::string Printf(const std::string& format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (n < 0) Refuse("cannot format '" + format + "'");
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), args...);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string NarrowDirective(const Directive& directive, const char* length, char conversion) {
    std::string f = "%" + directive.flags;
    if (directive.width >= 0) f += std::to_string(directive.width);
    if (directive.precision >= 0) f += "." + std::to_string(directive.precision);
    return f + length + conversion;
}

std::u16string Pad(std::u16string text, const Directive& directive) {
    if (directive.width > static_cast<int>(text.size())) {
        const std::u16string fill(static_cast<std::size_t>(directive.width) - text.size(), u' ');
        text = directive.flags.find('-') != std::string::npos ? text + fill : fill + text;
    }
    return text;
}

bool IsInteger(const FormatArg& a) {
    return a.kind == FormatArg::Kind::Signed || a.kind == FormatArg::Kind::Unsigned || a.kind == FormatArg::Kind::Char;
}

std::uint64_t Masked(const FormatArg& a, int size) {
    if (size >= 8) return a.bits;
    return a.bits & ((std::uint64_t{1} << (8 * size)) - 1);
}

std::int64_t SignExtended(std::uint64_t value, int size) {
    if (size >= 8) return static_cast<std::int64_t>(value);
    const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
    return static_cast<std::int64_t>((value ^ sign) - sign);
}

int ValueSize(const FormatArg& a, const std::string& length) {
    if (length == "hh") return 1;
    if (length == "h") return 2;
    return a.size;
}

}  // namespace

std::u16string FormatText(std::u16string_view format, const std::vector<FormatArg>& args) {
    std::u16string out;
    std::size_t next = 0;
    auto take = [&](char conversion) -> const FormatArg& {
        if (next >= args.size()) Refuse(std::string("%") + conversion + " has no argument");
        return args[next++];
    };
    auto number = [&](std::size_t& i) {
        int value = 0;
        while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
            value = value * 10 + (format[i] - u'0');
            if (value > kMaxField) Refuse("field width or precision too large");
            ++i;
        }
        return value;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            out += format[i];
            continue;
        }
        if (++i >= format.size()) Refuse("format ends with %");
        if (format[i] == u'%') {
            out += u'%';
            continue;
        }
        Directive directive;
        while (i < format.size() && std::u16string_view(u"-+ #0").find(format[i]) != std::u16string_view::npos) {
            if (directive.flags.find(static_cast<char>(format[i])) == std::string::npos)
                directive.flags += static_cast<char>(format[i]);
            ++i;
        }
        if (i < format.size() && format[i] == u'*') {
            ++i;
            const auto& a = take('*');
            if (!IsInteger(a)) Refuse("* needs an integer argument");
            const auto w = SignExtended(a.bits, a.kind == FormatArg::Kind::Signed ? a.size : 8);
            if (w < -kMaxField || w > kMaxField) Refuse("field width too large");
            if (w < 0) directive.flags += '-';
            directive.width = static_cast<int>(w < 0 ? -w : w);
        } else {
            directive.width = i < format.size() && format[i] >= u'1' && format[i] <= u'9' ? number(i) : -1;
        }
        if (i < format.size() && format[i] == u'.') {
            ++i;
            if (i < format.size() && format[i] == u'*') {
                ++i;
                const auto& a = take('*');
                if (!IsInteger(a)) Refuse("* needs an integer argument");
                const auto p = SignExtended(a.bits, a.kind == FormatArg::Kind::Signed ? a.size : 8);
                if (p > kMaxField) Refuse("precision too large");
                directive.precision = p < 0 ? -1 : static_cast<int>(p);
            } else {
                directive.precision = number(i);
            }
        }
        for (const char* modifier : {"I64", "I32", "hh", "ll", "h", "l", "L", "I", "z", "j", "t", "w"}) {
            const std::u16string m(modifier, modifier + std::char_traits<char>::length(modifier));
            if (format.substr(i, m.size()) == m) {
                directive.length = modifier;
                i += m.size();
                break;
            }
        }
        if (i >= format.size()) Refuse("format ends inside a conversion");
        const auto conversion = static_cast<char>(format[i] < 0x80 ? format[i] : '?');
        switch (conversion) {
            case 'd':
            case 'i': {
                const auto& a = take(conversion);
                if (!IsInteger(a)) Refuse(std::string("%") + conversion + " needs an integer argument");
                const int size = ValueSize(a, directive.length);
                const auto value = static_cast<long long>(SignExtended(Masked(a, size), size));
                out += Widen(Printf(NarrowDirective(directive, "ll", 'd'), value));
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                const auto& a = take(conversion);
                if (!IsInteger(a)) Refuse(std::string("%") + conversion + " needs an integer argument");
                const auto value = static_cast<unsigned long long>(Masked(a, ValueSize(a, directive.length)));
                out += Widen(Printf(NarrowDirective(directive, "ll", conversion), value));
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A': {
                const auto& a = take(conversion);
                if (a.kind != FormatArg::Kind::Float)
                    Refuse(std::string("%") + conversion + " needs a floating argument");
                out += Widen(Printf(NarrowDirective(directive, "", conversion), a.real));
                break;
            }
            case 'c':
            case 'C': {
                const auto& a = take(conversion);
                if (!IsInteger(a)) Refuse("%c needs a character argument");
                std::u16string unit;
                const auto value = static_cast<char32_t>(Masked(a, std::min(a.size, 4)));
                if (value > 0xFFFF && value <= 0x10FFFF) {
                    unit += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
                    unit += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
                } else {
                    unit += static_cast<char16_t>(value & 0xFFFF);
                }
                out += Pad(unit, directive);
                break;
            }
            case 's':
            case 'S': {
                const auto& a = take(conversion);
                std::u16string text;
                if (a.null) {
                    text = u"(null)";
                } else if (a.kind == FormatArg::Kind::Wide) {
                    text = a.wide;
                } else if (a.kind == FormatArg::Kind::Narrow) {
                    text = detail::FromUtf8(a.narrow);
                } else {
                    Refuse("%s needs a string argument");
                }
                if (directive.precision >= 0 && static_cast<int>(text.size()) > directive.precision) {
                    text.resize(static_cast<std::size_t>(directive.precision));
                }
                out += Pad(std::move(text), directive);
                break;
            }
            case 'p': {
                const auto& a = take(conversion);
                if (a.kind != FormatArg::Kind::Pointer && a.kind != FormatArg::Kind::Wide &&
                    a.kind != FormatArg::Kind::Narrow) {
                    Refuse("%p needs a pointer argument");
                }
                const void* p = a.kind == FormatArg::Kind::Pointer ? a.pointer
                                : a.kind == FormatArg::Kind::Wide  ? static_cast<const void*>(a.wide.data())
                                                                   : static_cast<const void*>(a.narrow);
                out += Widen(Printf(NarrowDirective(directive, "", 'p'), p));
                break;
            }
            case 'n':
                Refuse("%n is not supported");
            default:
                Refuse(std::string("unknown conversion %") + conversion);
        }
    }
    return out;
}

}  // namespace Mfc

CString::CString(const char* utf8) : text_(utf8 ? Mfc::detail::FromUtf8(utf8) : u"") {}

int CString::Compare(const char16_t* other) const {
    const std::u16string_view b = other ? other : u"";
    const int c = std::u16string_view(text_).compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CString::CompareNoCase(const char16_t* other) const {
    return Mfc::detail::CompareNoCase(text_, other ? other : u"");
}

CString CString::Left(int count) const {
    return CString(text_.substr(0, static_cast<std::size_t>(std::clamp(count, 0, GetLength()))));
}

CString CString::Right(int count) const {
    const int n = std::clamp(count, 0, GetLength());
    return CString(text_.substr(text_.size() - static_cast<std::size_t>(n)));
}

CString CString::Mid(int first, int count) const {
    const int start = std::clamp(first, 0, GetLength());
    const int available = GetLength() - start;
    const int n = count < 0 ? available : std::min(count, available);
    return CString(text_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(n)));
}

int CString::Find(char16_t unit, int start) const {
    if (start < 0 || start > GetLength()) return -1;
    const auto at = text_.find(unit, static_cast<std::size_t>(start));
    return at == std::u16string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char16_t* text, int start) const {
    if (text == nullptr || start < 0 || start > GetLength()) return -1;
    const auto at = text_.find(text, static_cast<std::size_t>(start));
    return at == std::u16string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char16_t unit) const {
    const auto at = text_.rfind(unit);
    return at == std::u16string::npos ? -1 : static_cast<int>(at);
}

CString& CString::MakeUpper() {
    for (auto& c : text_) {
        if (c < 0xD800 || c > 0xDFFF) c = static_cast<char16_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return *this;
}

CString& CString::MakeLower() {
    for (auto& c : text_) {
        if (c < 0xD800 || c > 0xDFFF) c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return *this;
}

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

}  // namespace

CString& CString::TrimLeft() {
    std::size_t i = 0;
    while (i < text_.size() && IsBlank(text_[i])) ++i;
    text_.erase(0, i);
    return *this;
}

CString& CString::TrimRight() {
    while (!text_.empty() && IsBlank(text_.back())) text_.pop_back();
    return *this;
}

CString& CString::Trim() {
    return TrimRight().TrimLeft();
}

int CString::Replace(const char16_t* from, const char16_t* to) {
    if (from == nullptr || *from == 0) return 0;
    const std::u16string_view f(from);
    const std::u16string_view t = to ? to : u"";
    int count = 0;
    for (std::size_t at = text_.find(f); at != std::u16string::npos; at = text_.find(f, at + t.size())) {
        text_.replace(at, f.size(), t);
        ++count;
    }
    return count;
}

int CString::Insert(int index, const char16_t* text) {
    if (text != nullptr) text_.insert(static_cast<std::size_t>(std::clamp(index, 0, GetLength())), text);
    return GetLength();
}

int CString::Delete(int index, int count) {
    if (index >= 0 && index < GetLength() && count > 0) {
        text_.erase(static_cast<std::size_t>(index), static_cast<std::size_t>(count));
    }
    return GetLength();
}

LPWSTR CString::GetBuffer(int minLength) {
    const auto size = std::max<std::size_t>(text_.size(), static_cast<std::size_t>(std::max(minLength, 0)));
    buffer_.assign(size + 1, u'\0');
    std::copy(text_.begin(), text_.end(), buffer_.begin());
    return buffer_.data();
}

void CString::ReleaseBuffer(int length) {
    if (buffer_.empty()) return;
    std::size_t n = 0;
    if (length < 0) {
        while (n + 1 < buffer_.size() && buffer_[n] != 0) ++n;
    } else {
        n = std::min<std::size_t>(static_cast<std::size_t>(length), buffer_.size() - 1);
    }
    text_.assign(buffer_.data(), n);
    buffer_.clear();
}

BOOL CString::LoadString(UINT id) {
    text_.clear();
    auto resources = Platform::GetModuleResources(AfxGetResourceHandle());
    if (!resources) return FALSE;
    auto it = resources->strings.find(id);
    if (it == resources->strings.end() || it->second.empty()) return FALSE;
    text_ = it->second;
    return TRUE;
}
