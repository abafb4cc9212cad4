#include "Platform/Resource.h"

#include "Utf.h"

#include <fstream>

namespace Platform {
namespace {

constexpr std::size_t kMaxFileSize = 16u << 20;
constexpr std::size_t kMaxTextUnits = 65535;

class LineParser {
public:
    LineParser(std::string_view line, const std::string& source, std::size_t number)
        : line_(line), source_(source), number_(number) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw ResourceFileError(source_ + ":" + std::to_string(number_) + ": " + what);
    }

    void SkipBlanks() {
        while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t')) ++pos_;
    }
    bool AtEnd() const { return pos_ >= line_.size(); }
    char Peek() const { return line_[pos_]; }

    std::string_view Word() {
        const std::size_t start = pos_;
        while (pos_ < line_.size() && line_[pos_] != ' ' && line_[pos_] != '\t') ++pos_;
        return line_.substr(start, pos_ - start);
    }

    UINT Id() {
        const auto word = Word();
        if (word.empty()) Fail("missing string id");
        unsigned long value = 0;
        for (char c : word) {
            if (c < '0' || c > '9') Fail("string id must be a decimal number, got '" + std::string(word) + "'");
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 65535) Fail("string id out of range (0 to 65535): " + std::string(word));
        }
        return static_cast<UINT>(value);
    }

    unsigned Hex(std::size_t digits) {
        if (line_.size() - pos_ < digits) Fail("escape needs " + std::to_string(digits) + " hex digits");
        unsigned value = 0;
        for (std::size_t k = 0; k < digits; ++k) {
            const char c = line_[pos_++];
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                Fail("escape needs " + std::to_string(digits) + " hex digits");
            }
            value = value * 16 + digit;
        }
        return value;
    }

    std::u16string QuotedText() {
        if (AtEnd() || Peek() != '"') Fail("expected a quoted text");
        ++pos_;
        std::u16string out;
        std::size_t runStart = pos_;  // plain bytes not yet decoded
        auto flush = [&] {
            auto decoded = Utf8ToUtf16(line_.substr(runStart, pos_ - runStart));
            if (!decoded) Fail("text is not valid UTF-8");
            out += *decoded;
        };
        for (;;) {
            if (AtEnd()) Fail("text has no closing quote");
            const auto c = static_cast<unsigned char>(Peek());
            if (c == '"') {
                flush();
                ++pos_;
                break;
            }
            if ((c < 0x20 && c != '\t') || c == 0x7F) Fail("control character in text (use an escape)");
            if (c != '\\') {
                ++pos_;
                continue;
            }
            flush();
            ++pos_;
            if (AtEnd()) Fail("text has no closing quote");
            const char escape = line_[pos_++];
            switch (escape) {
                case '\\':
                    out.push_back(u'\\');
                    break;
                case '"':
                    out.push_back(u'"');
                    break;
                case 'n':
                    out.push_back(u'\n');
                    break;
                case 'r':
                    out.push_back(u'\r');
                    break;
                case 't':
                    out.push_back(u'\t');
                    break;
                case 'u':
                case 'U': {
                    const unsigned cp = Hex(escape == 'u' ? 4 : 8);
                    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                        Fail("escape names no valid character");
                    }
                    AppendUtf16(out, static_cast<char32_t>(cp));
                    break;
                }
                default:
                    Fail(std::string("unknown escape \\") + escape);
            }
            runStart = pos_;
        }
        if (out.size() > kMaxTextUnits) Fail("text longer than 65535 UTF-16 units");
        return out;
    }

private:
    std::string_view line_;
    const std::string& source_;
    std::size_t number_;
    std::size_t pos_ = 0;
};

}  // namespace

ResourceTable ParseResourceText(std::string_view text, const std::string& sourceName) {
    ResourceTable table;
    std::map<UINT, std::size_t> firstLine;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);

        LineParser parser(line, sourceName, number);
        parser.SkipBlanks();
        if (parser.AtEnd() || parser.Peek() == '#') continue;
        const auto keyword = parser.Word();
        if (keyword != "STRING") parser.Fail("unknown entry '" + std::string(keyword) + "'");
        parser.SkipBlanks();
        const UINT id = parser.Id();
        parser.SkipBlanks();
        auto value = parser.QuotedText();
        parser.SkipBlanks();
        if (!parser.AtEnd() && parser.Peek() != '#') parser.Fail("unexpected text after the closing quote");
        if (auto [it, added] = firstLine.emplace(id, number); !added) {
            parser.Fail("string id " + std::to_string(id) + " already defined on line " + std::to_string(it->second));
        }
        table.strings.emplace(id, std::move(value));
    }
    return table;
}

ResourceTable LoadResourceFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ResourceFileError(path + ": cannot be read");
    std::string content;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        content.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (content.size() > kMaxFileSize) throw ResourceFileError(path + ": larger than 16 MiB");
    }
    if (in.bad()) throw ResourceFileError(path + ": read error");
    return ParseResourceText(content, path);
}

}  // namespace Platform
