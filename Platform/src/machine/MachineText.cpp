// Text forms of the machine kept on disk (see Platform/MachineFile.h).
#include "Platform/MachineFile.h"

#include "Platform/DockLink.h"

#include "TextEscapes.h"
#include "Utf.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <set>

namespace Platform {

namespace {

// The character that starts at `i` (a lone byte where no UTF-8 starts) and
// whether a message shows it escaped: C0 and C1 controls, DEL, and bytes
// that are no UTF-8.
struct QuotedCharacter {
    std::string_view text;
    bool escaped;
};

QuotedCharacter CharacterAt(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;  // by the lead byte; checked below
    if ((lead & 0xE0) == 0xC0)
        length = 2;
    else if ((lead & 0xF0) == 0xE0)
        length = 3;
    else if ((lead & 0xF8) == 0xF0)
        length = 4;
    const std::string_view character = text.substr(i, length);
    const auto decoded = Utf8ToUtf16(character);
    if (!decoded) return {text.substr(i, 1), true};
    const char16_t first = decoded->front();
    return {character, first < 0x20 || (first >= 0x7F && first <= 0x9F)};
}

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\\') {
            // Backslashes right before an escape or an 'x' are doubled, so
            // that a file holding the text \x1b never reads as one holding
            // ESC; elsewhere (key paths, \\server\share) they stay as typed.
            std::size_t end = text.find_first_not_of('\\', i);
            if (end == std::string_view::npos) end = text.size();
            const bool doubled = end < text.size() && (text[end] == 'x' || CharacterAt(text, end).escaped);
            out.append((end - i) * (doubled ? 2 : 1), '\\');
            i = end;
            continue;
        }
        const QuotedCharacter character = CharacterAt(text, i);
        if (character.escaped) {
            for (const unsigned char c : character.text) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            }
        } else {
            out += character.text;
        }
        i += character.text.size();
    }
    return out;
}

namespace {

constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;

struct TypeName {
    DWORD type;
    std::string_view name;
};

constexpr std::array<TypeName, 9> kTypeNames{{
    {REG_NONE, "REG_NONE"},
    {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},
    {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
}};

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_LINK;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsBlankOrComment(std::string_view line) {
    for (char c : line) {
        if (c == ' ' || c == '\t') continue;
        return c == '#';
    }
    return true;
}

class Line {
public:
    Line(std::string_view text, const std::string& source, std::size_t number)
        : text_(text), source_(source), number_(number) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw MachineFileError(EscapeControlCharacters(source_ + ":" + std::to_string(number_) + ": " + what));
    }

    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos_ >= text_.size();
    }
    char Peek() {
        SkipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    void Expect(char c, const std::string& what) {
        if (Peek() != c) Fail("expected " + what);
        ++pos_;
    }
    void ExpectEnd() {
        if (!AtEnd()) Fail("unexpected text at the end of the line: '" + std::string(text_.substr(pos_)) + "'");
    }

    // A bare word: up to a blank or one of = , " [ ].
    std::string_view Word() {
        SkipBlanks();
        const std::size_t start = pos_;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '=' || c == ',' || c == '"' || c == '[' || c == ']') break;
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    // Consumes the keyword when it is the next word.
    bool TryKeyword(std::string_view keyword) {
        SkipBlanks();
        const std::size_t start = pos_;
        if (Word() == keyword) return true;
        pos_ = start;
        return false;
    }

    std::uint64_t Number(std::uint64_t max, const char* what) {
        const auto word = Word();
        if (word.empty()) Fail(std::string("missing ") + what);
        return ParseNumber(word, max, what);
    }

    std::uint64_t ParseNumber(std::string_view word, std::uint64_t max, const char* what) const {
        std::uint64_t value = 0;
        std::from_chars_result result{};
        if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
            result = std::from_chars(word.data() + 2, word.data() + word.size(), value, 16);
        } else {
            result = std::from_chars(word.data(), word.data() + word.size(), value, 10);
        }
        if (result.ec == std::errc::result_out_of_range || (result.ec == std::errc() && value > max)) {
            Fail(std::string(what) + " out of range: " + std::string(word));
        }
        if (result.ec != std::errc() || result.ptr != word.data() + word.size()) {
            Fail(std::string(what) + " must be a decimal or 0x hexadecimal number, got '" + std::string(word) + "'");
        }
        return value;
    }

    std::u16string Quoted(const char* what) {
        if (Peek() != '"') Fail(std::string("expected ") + what + " in double quotes");
        ++pos_;
        auto extra = [&](char escape, std::u16string& out) {
            if (escape == '0') {
                out.push_back(u'\0');
            } else if (escape == 'u') {
                const auto unit = ParseHexDigits(text_, pos_, 4);
                if (!unit) Fail("\\u needs 4 hex digits");
                out.push_back(static_cast<char16_t>(*unit));
                pos_ += 4;
            } else {
                return false;
            }
            return true;
        };
        auto fail = [&](QuotedTextFault fault, char escape) {
            switch (fault) {
                case QuotedTextFault::NotUtf8:
                    Fail(std::string(what) + " is not valid UTF-8");
                case QuotedTextFault::NoClosingQuote:
                    Fail(std::string(what) + " has no closing quote");
                case QuotedTextFault::ControlCharacter:
                    Fail(std::string("control character in ") + what + " (escape it)");
                case QuotedTextFault::UnknownEscape:
                    break;
            }
            Fail(std::string("unknown escape \\") + escape + " in " + what);
        };
        return DecodeQuotedText(text_, pos_, extra, fail);
    }

    std::vector<BYTE> HexBytes() {
        std::vector<BYTE> bytes;
        while (!AtEnd()) {
            const auto word = Word();
            if (word.size() != 2)
                Fail("hex data must be pairs of hex digits separated by blanks, got '" +
                     std::string(word.empty() ? text_.substr(pos_, 1) : word) + "'");
            unsigned value = 0;
            const auto result = std::from_chars(word.data(), word.data() + 2, value, 16);
            if (result.ec != std::errc() || result.ptr != word.data() + 2) {
                Fail("not a hex byte: '" + std::string(word) + "'");
            }
            bytes.push_back(static_cast<BYTE>(value));
        }
        return bytes;
    }

private:
    std::string_view text_;
    const std::string& source_;
    std::size_t number_;
    std::size_t pos_ = 0;
};

std::u16string Units(const std::vector<BYTE>& data) {
    return Utf16FromLeBytes(data.data(), data.size());
}

std::vector<BYTE> Bytes(std::u16string_view units) {
    const std::string bytes = Utf16LeBytes(units);
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

RegValue ParseValue(Line& line) {
    RegValue value;
    const auto typeWord = line.Word();
    bool named = false;
    for (const auto& entry : kTypeNames) {
        if (entry.name == typeWord) {
            value.type = entry.type;
            named = true;
        }
    }
    if (!named) {
        if (typeWord.empty() || typeWord[0] < '0' || typeWord[0] > '9') {
            line.Fail("unknown value type '" + std::string(typeWord) + "'");
        }
        value.type = static_cast<DWORD>(line.ParseNumber(typeWord, 0xFFFFFFFFu, "value type"));
    }

    if (line.TryKeyword("hex")) {
        value.data = line.HexBytes();
        return value;
    }
    if (IsStringType(value.type)) {
        const bool terminated = !line.TryKeyword("unterminated");
        std::u16string text = line.Quoted("the text");
        if (terminated) text.push_back(u'\0');
        value.data = Bytes(text);
    } else if (value.type == REG_MULTI_SZ) {
        std::u16string units;
        for (;;) {
            const std::u16string item = line.Quoted("each text of a REG_MULTI_SZ");
            if (item.empty()) line.Fail("a REG_MULTI_SZ list cannot hold an empty text (write it in hex)");
            if (item.find(u'\0') != std::u16string::npos) line.Fail("a REG_MULTI_SZ text cannot hold \\0");
            units += item;
            units.push_back(u'\0');
            if (line.Peek() != ',') break;
            line.Expect(',', "','");
        }
        units.push_back(u'\0');
        value.data = Bytes(units);
    } else if (value.type == REG_DWORD) {
        value = RegValue::Dword(static_cast<DWORD>(line.Number(0xFFFFFFFFu, "REG_DWORD value")));
    } else if (value.type == REG_QWORD) {
        value = RegValue::Qword(line.Number(~std::uint64_t{0}, "REG_QWORD value"));
    } else {
        line.Fail("a value of this type is written as hex bytes: hex 01 02 ...");
    }
    line.ExpectEnd();
    return value;
}

void AppendQuoted(std::string& out, std::u16string_view units) {
    out.push_back('"');
    std::u16string plain;
    auto flush = [&] {
        out += Utf16ToUtf8(plain);
        plain.clear();
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            plain.push_back(u);
            plain.push_back(units[++i]);
            continue;
        }
        const char* escape = nullptr;
        switch (u) {
            case u'\\':
                escape = "\\\\";
                break;
            case u'"':
                escape = "\\\"";
                break;
            case u'\n':
                escape = "\\n";
                break;
            case u'\r':
                escape = "\\r";
                break;
            case u'\t':
                escape = "\\t";
                break;
            case u'\0':
                escape = "\\0";
                break;
            default:
                break;
        }
        if (escape != nullptr) {
            flush();
            out += escape;
        } else if (u < 0x20 || u == 0x7F || high || low) {
            flush();
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(u));
            out += buffer;
        } else {
            plain.push_back(u);
        }
    }
    flush();
    out.push_back('"');
}

void AppendHex(std::string& out, const std::vector<BYTE>& data) {
    out += "hex";
    char buffer[4];
    for (BYTE b : data) {
        std::snprintf(buffer, sizeof buffer, " %02x", static_cast<unsigned>(b));
        out += buffer;
    }
}

void AppendValue(std::string& out, const RegValue& value) {
    bool named = false;
    for (const auto& entry : kTypeNames) {
        if (entry.type == value.type) {
            out += entry.name;
            named = true;
        }
    }
    if (!named) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%08x", static_cast<unsigned>(value.type));
        out += buffer;
    }
    out.push_back(' ');

    const bool even = value.data.size() % 2 == 0;
    if (IsStringType(value.type) && even) {
        std::u16string units = Units(value.data);
        if (!units.empty() && units.back() == u'\0') {
            units.pop_back();
        } else {
            out += "unterminated ";
        }
        AppendQuoted(out, units);
        return;
    }
    if (value.type == REG_MULTI_SZ && even && value.data.size() >= 4) {
        const std::u16string units = Units(value.data);
        // Canonical only: non-empty texts, each with its zero, then a zero.
        bool canonical = units[units.size() - 1] == u'\0' && units[units.size() - 2] == u'\0' && units[0] != u'\0';
        for (std::size_t i = 1; canonical && i + 1 < units.size(); ++i) {
            if (units[i] == u'\0' && units[i - 1] == u'\0') canonical = false;
        }
        if (canonical) {
            std::size_t start = 0;
            while (start + 1 < units.size()) {
                const std::size_t end = units.find(u'\0', start);
                if (start != 0) out += ", ";
                AppendQuoted(out, std::u16string_view(units).substr(start, end - start));
                start = end + 1;
            }
            return;
        }
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        out += std::to_string(*value.AsDword());
        return;
    }
    if (value.type == REG_QWORD && value.data.size() == 8) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | value.data[static_cast<std::size_t>(i)];
        out += std::to_string(v);
        return;
    }
    AppendHex(out, value.data);
}

void AppendNamedValues(std::string& out, const NamedValues& values, const std::string& prefix) {
    for (const auto& [folded, named] : values) {
        out += prefix;
        AppendQuoted(out, named.name);
        out += " = ";
        AppendValue(out, named.value);
        out.push_back('\n');
    }
}

void AddValue(Line& line, NamedValues& values, std::u16string name, RegValue value) {
    if (name.size() > kMaxValueNameUnits) line.Fail("value name longer than 16383 characters");
    const auto [it, inserted] = values.emplace(FoldName(name), NamedValue{name, std::move(value)});
    if (!inserted) line.Fail("value \"" + Utf16ToUtf8(name) + "\" is given twice");
}

// The predefined roots by their names, with the case the registry uses.
std::u16string CanonicalRoot(std::u16string_view name) {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
        std::u16string canonical = RootName(root);
        if (FoldName(canonical) == FoldName(name)) return canonical;
    }
    return {};
}

}  // namespace

RegistryData ParseRegistryText(std::string_view text, const std::string& sourceName) {
    RegistryData data;
    std::set<std::u16string> declared;
    RegistryKeyData* current = nullptr;
    const auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (IsBlankOrComment(lines[n])) continue;
        Line line(lines[n], sourceName, n + 1);
        if (line.Peek() == '[') {
            std::string_view raw = lines[n];
            while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t')) raw.remove_suffix(1);
            const std::size_t open = raw.find('[');
            if (raw.back() != ']') line.Fail("a key line ends with ']'");
            const auto path = Utf8ToUtf16(raw.substr(open + 1, raw.size() - open - 2));
            if (!path) line.Fail("key path is not valid UTF-8");
            if (path->empty()) line.Fail("empty key path");

            std::vector<std::u16string_view> parts;
            std::size_t start = 0;
            for (;;) {
                const std::size_t end = path->find(u'\\', start);
                parts.push_back(
                    std::u16string_view(*path).substr(start, end == std::u16string::npos ? end : end - start));
                if (end == std::u16string::npos) break;
                start = end + 1;
            }
            const std::u16string root = CanonicalRoot(parts[0]);
            if (root.empty()) line.Fail("key path must start with a root such as HKEY_LOCAL_MACHINE");
            std::u16string folded = FoldName(root);
            RegistryKeyData* key = &data.keys.at(folded);
            for (std::size_t i = 1; i < parts.size(); ++i) {
                const auto part = parts[i];
                if (part.empty()) line.Fail("empty key name in the path");
                if (part.size() > kMaxKeyNameUnits) line.Fail("key name longer than 255 characters");
                for (char16_t c : part) {
                    if (c < 0x20 || c == 0x7F) line.Fail("control character in a key name");
                }
                folded += u'\\';
                folded += FoldName(part);
                auto [it, inserted] = data.keys.try_emplace(folded);
                if (inserted) it->second.path = key->path + u'\\' + std::u16string(part);
                key = &it->second;
            }
            if (!declared.insert(folded).second) line.Fail("key [" + Utf16ToUtf8(key->path) + "] is given twice");
            current = key;
            continue;
        }
        if (line.Peek() != '"') line.Fail("expected a [key] line or a \"value\" = line");
        if (current == nullptr) line.Fail("a value before the first [key] line");
        std::u16string name = line.Quoted("the value name");
        line.Expect('=', "'=' after the value name");
        RegValue value = ParseValue(line);
        AddValue(line, current->values, std::move(name), std::move(value));
    }
    return data;
}

std::string FormatRegistryText(const RegistryData& data) {
    std::string out = "# Registry of the simulated machine. See Platform/MachineFile.h for the format.\n";
    for (const auto& [folded, key] : data.keys) {
        const auto child = data.keys.lower_bound(folded + u'\\');
        const bool hasChildren = child != data.keys.end() && child->first.starts_with(folded + u'\\');
        const bool isRoot = folded.find(u'\\') == std::u16string::npos;
        // A key with children is implied by them unless it holds values.
        if (key.values.empty() && (hasChildren || isRoot)) continue;
        out += "\n[" + Utf16ToUtf8(key.path) + "]\n";
        AppendNamedValues(out, key.values, "");
    }
    return out;
}

SpoolerData ParseSpoolerText(std::string_view text, const std::string& sourceName) {
    SpoolerData data;
    PrinterQueue* printer = nullptr;
    MonitorEntry* monitor = nullptr;
    PortEntry* port = nullptr;
    std::string kind;  // of the current section
    std::set<std::string> fields;
    const auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (IsBlankOrComment(lines[n])) continue;
        Line line(lines[n], sourceName, n + 1);
        if (line.Peek() == '[') {
            line.Expect('[', "'['");
            kind = line.Word();
            if (kind != "printer" && kind != "monitor" && kind != "port") {
                line.Fail("unknown section kind '" + kind + "'");
            }
            std::u16string name = line.Quoted(("the " + kind + " name").c_str());
            line.Expect(']', "']' after the " + kind + " name");
            line.ExpectEnd();
            printer = nullptr;
            monitor = nullptr;
            port = nullptr;
            fields.clear();
            const std::string shown = Utf16ToUtf8(name);
            if (kind == "printer") {
                if (!IsValidPrinterName(name)) {
                    line.Fail("invalid printer name \"" + shown +
                              "\" (1 to 220 characters, no '\\', ',' or control character)");
                }
                auto [it, inserted] = data.printers.try_emplace(FoldName(name));
                if (!inserted) line.Fail("printer \"" + shown + "\" is given twice");
                it->second.name = std::move(name);
                printer = &it->second;
                continue;
            }
            if (name.empty()) line.Fail("empty " + kind + " name");
            bool inserted = false;
            if (kind == "monitor") {
                auto [it, added] = data.monitors.try_emplace(FoldName(name));
                it->second.name = std::move(name);
                monitor = &it->second;
                inserted = added;
            } else {
                auto [it, added] = data.ports.try_emplace(FoldName(name));
                it->second.name = std::move(name);
                port = &it->second;
                inserted = added;
            }
            if (!inserted) line.Fail(kind + " \"" + shown + "\" is given twice");
            continue;
        }
        const std::string word(line.Word());
        if (word.empty()) line.Fail("expected a [printer \"name\"] line or a setting");
        if (printer == nullptr && monitor == nullptr && port == nullptr) {
            line.Fail("'" + word + "' before the first [printer \"name\"] line");
        }
        if (printer != nullptr && word == "data") {
            std::u16string key = line.Quoted("the data key");
            if (key.empty()) line.Fail("empty data key");
            std::u16string name = line.Quoted("the value name");
            line.Expect('=', "'=' after the value name");
            RegValue value = ParseValue(line);
            auto& slot = printer->data[FoldName(key)];
            if (slot.name.empty()) slot.name = key;
            AddValue(line, slot.values, std::move(name), std::move(value));
            continue;
        }
        if (printer != nullptr && word == "access") {
            // access = "EVERYONE" grant 0x001fffff 0x1
            line.Expect('=', "'=' after 'access'");
            AccessEntry entry;
            entry.trustee = line.Quoted("the trustee name");
            if (entry.trustee.empty()) line.Fail("empty trustee name");
            const auto mode = line.Word();
            if (mode == "grant") {
                entry.mode = 1;
            } else if (mode == "deny") {
                entry.mode = 3;
            } else {
                line.Fail("access mode is grant or deny, got '" + std::string(mode) + "'");
            }
            entry.mask = static_cast<DWORD>(line.Number(0xFFFFFFFFu, "access mask"));
            entry.inheritance = static_cast<DWORD>(line.Number(0xFFFFFFFFu, "inheritance"));
            line.ExpectEnd();
            printer->access.push_back(std::move(entry));
            continue;
        }
        if (!fields.insert(word).second) line.Fail("'" + word + "' is given twice for this " + kind);
        line.Expect('=', "'=' after '" + word + "'");
        if (printer != nullptr && word == "port") {
            printer->port = line.Quoted("the port name");
        } else if (printer != nullptr && word == "driver") {
            printer->driver = line.Quoted("the driver name");
        } else if (printer != nullptr && word == "processor") {
            printer->printProcessor = line.Quoted("the print processor");
        } else if (printer != nullptr && word == "attributes") {
            printer->attributes = static_cast<DWORD>(line.Number(0xFFFFFFFFu, "attributes"));
        } else if (monitor != nullptr && word == "environment") {
            monitor->environment = line.Quoted("the environment");
        } else if (monitor != nullptr && word == "library") {
            monitor->library = line.Quoted("the library name");
        } else if (port != nullptr && word == "vendor") {
            port->vendorId = static_cast<DWORD>(line.Number(0xFFFFFFFFu, "vendor id"));
        } else if (port != nullptr && word == "product") {
            port->productId = static_cast<DWORD>(line.Number(0xFFFFFFFFu, "product id"));
        } else if (port != nullptr && word == "device") {
            port->deviceName = line.Quoted("the device name");
        } else if (port != nullptr && word == "address") {
            port->address = line.Quoted("the device address");
        } else {
            line.Fail("unknown " + kind + " setting '" + word + "'");
        }
        line.ExpectEnd();
    }
    return data;
}

std::string FormatSpoolerText(const SpoolerData& data) {
    std::string out = "# Print spooler of the simulated machine. See Platform/MachineFile.h for the format.\n";
    char buffer[64];
    for (const auto& [folded, monitor] : data.monitors) {
        out += "\n[monitor ";
        AppendQuoted(out, monitor.name);
        out += "]\nenvironment = ";
        AppendQuoted(out, monitor.environment);
        out += "\nlibrary = ";
        AppendQuoted(out, monitor.library);
        out += "\n";
    }
    for (const auto& [folded, port] : data.ports) {
        out += "\n[port ";
        AppendQuoted(out, port.name);
        out += "]\n";
        // Plain ports need nothing more.
        if (port.vendorId == 0 && port.productId == 0 && port.deviceName.empty() && port.address.empty()) continue;
        std::snprintf(buffer, sizeof buffer,
                      "vendor = 0x%04x\nproduct = 0x%04x\ndevice = ", static_cast<unsigned>(port.vendorId),
                      static_cast<unsigned>(port.productId));
        out += buffer;
        AppendQuoted(out, port.deviceName);
        out += "\naddress = ";
        AppendQuoted(out, port.address);
        out += "\n";
    }
    for (const auto& [folded, queue] : data.printers) {
        out += "\n[printer ";
        AppendQuoted(out, queue.name);
        out += "]\nport = ";
        AppendQuoted(out, queue.port);
        out += "\ndriver = ";
        AppendQuoted(out, queue.driver);
        out += "\nprocessor = ";
        AppendQuoted(out, queue.printProcessor);
        std::snprintf(buffer, sizeof buffer, "\nattributes = 0x%08x\n", static_cast<unsigned>(queue.attributes));
        out += buffer;
        for (const auto& entry : queue.access) {
            out += "access = ";
            AppendQuoted(out, entry.trustee);
            std::snprintf(buffer, sizeof buffer, " %s 0x%08x 0x%x\n", entry.mode == 3 ? "deny" : "grant",
                          static_cast<unsigned>(entry.mask), static_cast<unsigned>(entry.inheritance));
            out += buffer;
        }
        for (const auto& [foldedKey, key] : queue.data) {
            std::string prefix = "data ";
            AppendQuoted(prefix, key.name);
            prefix.push_back(' ');
            AppendNamedValues(out, key.values, prefix);
        }
    }
    return out;
}

namespace {

// "SSID" channel N open | wep "key" | wpa "passphrase"
AccessPoint ParseNetwork(Line& line) {
    AccessPoint point;
    point.ssid = Utf16ToUtf8(line.Quoted("the network's SSID"));
    if (point.ssid.empty() || point.ssid.size() > 32) line.Fail("an SSID has 1 to 32 bytes");
    if (line.Word() != "channel") line.Fail("expected 'channel' after the SSID");
    point.channel = static_cast<int>(line.Number(14, "the channel"));
    if (point.channel < 1) line.Fail("the channel is 1 to 14");
    const std::string security(line.Word());
    if (security == "wep") {
        point.authentication = WifiAuthentication::Shared;
        point.wepKeys[0] = Utf16ToUtf8(line.Quoted("the WEP key"));
        // 5 or 13 characters, or their 10 or 26 hexadecimal digits.
        const std::string& key = point.wepKeys[0];
        const std::size_t size = key.size();
        // Ten or 26 characters are the key's bytes in hexadecimal; other
        // characters there would make a key no client can type.
        if ((size == 10 || size == 26) &&
            !std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
            line.Fail("a WEP key of 10 or 26 characters is hexadecimal");
        }
        if (size == 5 || size == 10) {
            point.encryption = WifiEncryption::Wep64;
        } else if (size == 13 || size == 26) {
            point.encryption = WifiEncryption::Wep128;
        } else {
            line.Fail("a WEP key has 5, 10, 13 or 26 characters");
        }
    } else if (security == "wpa") {
        point.authentication = WifiAuthentication::WpaPsk;
        point.encryption = WifiEncryption::Aes;
        point.wpaKey = Utf16ToUtf8(line.Quoted("the passphrase"));
        if (point.wpaKey.size() < 8 || point.wpaKey.size() > 63) line.Fail("a passphrase has 8 to 63 characters");
    } else if (security != "open") {
        line.Fail("security is open, wep or wpa, got '" + security + "'");
    }
    return point;
}

// Bytes that are not UTF-8 are kept one unit each.
std::u16string WideText(const std::string& text) {
    return Utf8ToUtf16(text).value_or(std::u16string(text.begin(), text.end()));
}

void AppendNetwork(std::string& out, const AccessPoint& point) {
    out += "network = ";
    AppendQuoted(out, WideText(point.ssid));
    out += " channel " + std::to_string(point.channel);
    switch (point.encryption) {
        case WifiEncryption::Wep64:
        case WifiEncryption::Wep128:
            out += " wep ";
            AppendQuoted(out, WideText(point.wepKeys[0]));
            break;
        case WifiEncryption::Tkip:
        case WifiEncryption::Aes:
            out += " wpa ";
            AppendQuoted(out, WideText(point.wpaKey));
            break;
        case WifiEncryption::None:
            out += " open";
            break;
    }
    out += "\n";
}

}  // namespace

MachineSettings ParseMachineSettingsText(std::string_view text, const std::string& sourceName) {
    MachineSettings settings;
    std::set<std::string> seen;
    const auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (IsBlankOrComment(lines[n])) continue;
        Line line(lines[n], sourceName, n + 1);
        const std::string word(line.Word());
        if (word != "administrator" && word != "version" && word != "servicepack" && word != "network")
            line.Fail("unknown setting '" + word + "'");
        if (word != "network" && !seen.insert(word).second) line.Fail("'" + word + "' is given twice");
        line.Expect('=', "'=' after '" + word + "'");
        if (word == "network") {
            settings.networks.push_back(ParseNetwork(line));
        } else if (word == "servicepack") {
            settings.version.servicePack = line.Quoted("the service pack");
            if (settings.version.servicePack.size() > 127) line.Fail("the service pack has at most 127 characters");
        } else if (word == "version") {
            // major.minor.build
            const std::string value(line.Word());
            DWORD* parts[] = {&settings.version.major, &settings.version.minor, &settings.version.build};
            std::size_t start = 0;
            for (std::size_t i = 0; i < 3; ++i) {
                const std::size_t end = i < 2 ? value.find('.', start) : value.size();
                if (end == std::string::npos || end == start)
                    line.Fail("version is major.minor.build, got '" + value + "'");
                *parts[i] = static_cast<DWORD>(
                    line.ParseNumber(std::string_view(value).substr(start, end - start), 0xFFFFFFFFu, "version"));
                start = end + 1;
            }
        } else {
            const auto value = line.Word();
            if (value == "true") {
                settings.administrator = true;
            } else if (value == "false") {
                settings.administrator = false;
            } else {
                line.Fail("administrator is true or false, got '" + std::string(value) + "'");
            }
        }
        line.ExpectEnd();
    }
    return settings;
}

std::string FormatMachineSettingsText(const MachineSettings& settings) {
    std::string out = std::string("# Settings of the simulated machine's user.\nadministrator = ") +
                      (settings.administrator ? "true" : "false") + "\n";
    const auto& v = settings.version;
    out +=
        "version = " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "\n";
    if (!v.servicePack.empty()) {
        out += "servicepack = ";
        AppendQuoted(out, v.servicePack);
        out += "\n";
    }
    for (const AccessPoint& point : settings.networks) AppendNetwork(out, point);
    return out;
}

DriverStoreData ParseDriverStoreText(std::string_view text, const std::string& sourceName) {
    DriverStoreData data;
    DriverPackage* current = nullptr;
    std::set<std::string> fields;
    auto finish = [&](const Line& line) {
        if (current != nullptr && (current->infPath.empty() || current->section.empty()))
            line.Fail("driver \"" + Utf16ToUtf8(current->description) + "\" needs an inf and a section");
    };
    const auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (IsBlankOrComment(lines[n])) continue;
        Line line(lines[n], sourceName, n + 1);
        if (line.Peek() == '[') {
            finish(line);
            line.Expect('[', "'['");
            if (line.Word() != "driver") line.Fail("unknown section kind (expected [driver \"name\"])");
            std::u16string name = line.Quoted("the driver description");
            line.Expect(']', "']' after the driver description");
            line.ExpectEnd();
            if (name.empty()) line.Fail("empty driver description");
            for (const auto& d : data.drivers)
                if (FoldName(d.description) == FoldName(name))
                    line.Fail("driver \"" + Utf16ToUtf8(name) + "\" is given twice");
            data.drivers.push_back(DriverPackage{std::move(name), {}, {}, {}, {}});
            current = &data.drivers.back();
            fields.clear();
            continue;
        }
        const std::string word(line.Word());
        if (word == "associate") {
            ProfileAssociation association;
            association.profile = line.Quoted("the profile");
            association.device = line.Quoted("the device");
            line.ExpectEnd();
            if (association.profile.empty() || association.device.empty()) line.Fail("empty profile or device");
            data.profiles.push_back(std::move(association));
            continue;
        }
        if (word.empty()) line.Fail("expected a [driver \"name\"] line or a setting");
        if (current == nullptr) line.Fail("'" + word + "' before the first [driver \"name\"] line");
        line.Expect('=', "'=' after '" + word + "'");
        if (word == "inf" || word == "section") {
            if (!fields.insert(word).second) line.Fail("'" + word + "' is given twice for this driver");
            auto value = line.Quoted(word == "inf" ? "the INF path" : "the section");
            if (value.empty()) line.Fail("empty " + word);
            (word == "inf" ? current->infPath : current->section) = std::move(value);
        } else if (word == "hardwareid") {
            current->hardwareIds.push_back(line.Quoted("the hardware id"));
        } else if (word == "file") {
            current->targetFiles.push_back(line.Quoted("the target file"));
        } else {
            line.Fail("unknown driver setting '" + word + "'");
        }
        line.ExpectEnd();
    }
    if (!lines.empty()) finish(Line(lines.back(), sourceName, lines.size()));
    return data;
}

std::string FormatDriverStoreText(const DriverStoreData& data) {
    std::string out = "# Driver store of the simulated machine. See Platform/MachineFile.h for the format.\n";
    auto setting = [&](const char* name, const std::u16string& value) {
        out += name;
        out += " = ";
        AppendQuoted(out, value);
        out += "\n";
    };
    for (const auto& driver : data.drivers) {
        out += "\n[driver ";
        AppendQuoted(out, driver.description);
        out += "]\n";
        setting("inf", driver.infPath);
        setting("section", driver.section);
        for (const auto& id : driver.hardwareIds) setting("hardwareid", id);
        for (const auto& file : driver.targetFiles) setting("file", file);
    }
    if (!data.profiles.empty()) out += "\n";
    for (const auto& association : data.profiles) {
        out += "associate ";
        AppendQuoted(out, association.profile);
        out += " ";
        AppendQuoted(out, association.device);
        out += "\n";
    }
    return out;
}

std::vector<DockEntry> ParseDocksText(std::string_view text, const std::string& sourceName) {
    std::vector<DockEntry> docks;
    std::set<std::string> seen;
    std::size_t header = 0;
    // Two docks cannot share a port, so each names its own.
    auto close = [&] {
        if (!docks.empty() && !seen.contains("port"))
            Line(std::string_view(), sourceName, header).Fail("dock \"" + docks.back().serial + "\" has no port");
    };
    const auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (IsBlankOrComment(lines[n])) continue;
        Line line(lines[n], sourceName, n + 1);
        if (line.Peek() == '[') {
            close();
            header = n + 1;
            line.Expect('[', "'['");
            if (!line.TryKeyword("dock")) line.Fail("expected [dock \"serial\"]");
            const std::string serial = Utf16ToUtf8(line.Quoted("the serial number"));
            line.Expect(']', "']'");
            line.ExpectEnd();
            // The serial names the dock's state file too.
            if (serial.empty() || serial.size() > 64 ||
                serial.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") !=
                    std::string::npos)
                line.Fail("a serial number has 1 to 64 letters, digits, '-' or '_'");
            for (const auto& dock : docks)
                if (dock.serial == serial) line.Fail("dock \"" + serial + "\" is given twice");
            DockEntry entry;
            entry.serial = serial;
            docks.push_back(entry);
            seen.clear();
            continue;
        }
        if (docks.empty()) line.Fail("a setting before the first [dock \"serial\"]");
        auto& dock = docks.back();
        const std::string word(line.Word());
        if (!seen.insert(word).second) line.Fail("'" + word + "' is given twice");
        line.Expect('=', "'=' after '" + word + "'");
        if (word == "vendor") {
            dock.vendorId = static_cast<WORD>(line.Number(0xFFFF, "vendor id"));
        } else if (word == "product") {
            dock.productId = static_cast<WORD>(line.Number(0xFFFF, "product id"));
        } else if (word == "name") {
            dock.product = Utf16ToUtf8(line.Quoted("the product name"));
        } else if (word == "port") {
            dock.port = static_cast<unsigned>(line.Number(127, "port"));
            if (dock.port == 0) line.Fail("ports count from 1");
            for (std::size_t i = 0; i + 1 < docks.size(); ++i)
                if (docks[i].port == dock.port) line.Fail("port " + std::to_string(dock.port) + " is taken twice");
        } else {
            line.Fail("unknown setting '" + word + "'");
        }
        line.ExpectEnd();
    }
    close();
    return docks;
}

std::string FormatDocksText(const std::vector<DockEntry>& docks) {
    std::string out = "# Docks plugged into the simulated machine, served by the dock simulator.\n";
    char number[16];
    for (const auto& dock : docks) {
        out += "[dock ";
        AppendQuoted(out, Utf8ToUtf16(dock.serial).value_or(u""));
        out += "]\n";
        std::snprintf(number, sizeof number, "0x%04X", dock.vendorId);
        out += std::string("vendor = ") + number + "\n";
        std::snprintf(number, sizeof number, "0x%04X", dock.productId);
        out += std::string("product = ") + number + "\n";
        out += "name = ";
        AppendQuoted(out, Utf8ToUtf16(dock.product).value_or(u""));
        out += "\nport = " + std::to_string(dock.port) + "\n";
    }
    return out;
}

}  // namespace Platform
