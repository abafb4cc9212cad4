#include "Platform/Resource.h"

#include "Platform/MachineFile.h"

#include "TextEscapes.h"
#include "Utf.h"

#include <fstream>
#include <optional>

namespace Platform {
namespace {

constexpr std::size_t kMaxFileSize = 16u << 20;
constexpr std::size_t kMaxTextUnits = 65535;

class LineParser {
public:
    LineParser(std::string_view line, const std::string& source, std::size_t number)
        : line_(line), source_(source), number_(number) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw ResourceFileError(EscapeControlCharacters(source_ + ":" + std::to_string(number_) + ": " + what));
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

    std::u16string QuotedText() {
        if (AtEnd() || Peek() != '"') Fail("expected a quoted text");
        ++pos_;
        auto extra = [&](char escape, std::u16string& out) {
            if (escape != 'u' && escape != 'U') return false;
            const std::size_t digits = escape == 'u' ? 4 : 8;
            const auto cp = ParseHexDigits(line_, pos_, digits);
            if (!cp) Fail("escape needs " + std::to_string(digits) + " hex digits");
            pos_ += digits;
            if (*cp == 0 || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) {
                Fail("escape names no valid character");
            }
            AppendUtf16(out, static_cast<char32_t>(*cp));
            return true;
        };
        auto fail = [&](QuotedTextFault fault, char escape) {
            switch (fault) {
                case QuotedTextFault::NotUtf8:
                    Fail("text is not valid UTF-8");
                case QuotedTextFault::NoClosingQuote:
                    Fail("text has no closing quote");
                case QuotedTextFault::ControlCharacter:
                    Fail("control character in text (use an escape)");
                case QuotedTextFault::UnknownEscape:
                    break;
            }
            Fail(std::string("unknown escape \\") + escape);
        };
        auto out = DecodeQuotedText(line_, pos_, extra, fail);
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

namespace {

struct ItemKind {
    std::string_view keyword;
    const char16_t* windowClass;
    DWORD style;
};

// What each control keyword makes; buttons, edits, combo boxes and lists
// are tab stops by default, which the dialog templates rely on.
constexpr ItemKind kItemKinds[] = {
    {"PUSHBUTTON", WC_BUTTON, BS_PUSHBUTTON | WS_TABSTOP},
    {"DEFPUSHBUTTON", WC_BUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {"CHECKBOX", WC_BUTTON, BS_AUTOCHECKBOX | WS_TABSTOP},
    {"RADIOBUTTON", WC_BUTTON, BS_AUTORADIOBUTTON | WS_TABSTOP},
    {"GROUPBOX", WC_BUTTON, BS_GROUPBOX},
    {"LTEXT", WC_STATIC, SS_LEFT},
    {"CTEXT", WC_STATIC, SS_CENTER},
    {"RTEXT", WC_STATIC, SS_RIGHT},
    {"EDITTEXT", WC_EDIT, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP},
    {"COMBOBOX", WC_COMBOBOX, CBS_DROPDOWNLIST | WS_TABSTOP},
    {"LISTVIEW", WC_LISTVIEW, LVS_REPORT | WS_TABSTOP},
    {"IPADDRESS", WC_IPADDRESS, WS_TABSTOP},
    {"ETCHEDLINE", WC_STATIC, SS_ETCHEDHORZ},
    {"PICTURE", WC_STATIC, SS_BITMAP},
    {"PROGRESS", WC_PROGRESS, 0},
};

struct ItemFlag {
    std::string_view keyword;
    DWORD set;
    DWORD clear;
    DWORD exStyle;
};

constexpr ItemFlag kItemFlags[] = {
    {"GROUP", WS_GROUP, 0, 0},          {"TABSTOP", WS_TABSTOP, 0, 0},
    {"NOTABSTOP", 0, WS_TABSTOP, 0},    {"DISABLED", WS_DISABLED, 0, 0},
    {"HIDDEN", 0, WS_VISIBLE, 0},       {"PASSWORD", ES_PASSWORD, 0, 0},
    {"READONLY", ES_READONLY, 0, 0},    {"NUMBER", ES_NUMBER, 0, 0},
    {"SINGLESEL", LVS_SINGLESEL, 0, 0}, {"SHOWSELALWAYS", LVS_SHOWSELALWAYS, 0, 0},
    {"RTL", 0, 0, WS_EX_LAYOUTRTL},
};

constexpr std::size_t kMaxItems = 65535;

unsigned Number(LineParser& parser, const char* what, unsigned low, unsigned high) {
    parser.SkipBlanks();
    const auto word = parser.Word();
    if (word.empty()) parser.Fail(std::string("missing ") + what);
    unsigned long value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            parser.Fail(std::string(what) + " must be a decimal number, got '" + std::string(word) + "'");
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > high) break;
    }
    if (value < low || value > high) {
        parser.Fail(std::string(what) + " out of range (" + std::to_string(low) + " to " + std::to_string(high) +
                    "): " + std::string(word));
    }
    return static_cast<unsigned>(value);
}

UINT ControlId(LineParser& parser) {
    parser.SkipBlanks();
    if (!parser.AtEnd() && parser.Peek() == '-') {
        if (parser.Word() != "-1") parser.Fail("control id out of range (-1 or 0 to 65535)");
        return 65535;
    }
    return Number(parser, "control id", 0, 65535);
}

std::u16string Text(LineParser& parser) {
    parser.SkipBlanks();
    return parser.QuotedText();
}

// Flags up to the end of the line or a comment.
template <class Apply>
void Flags(LineParser& parser, Apply&& apply) {
    for (;;) {
        parser.SkipBlanks();
        if (parser.AtEnd() || parser.Peek() == '#') return;
        const auto flag = parser.Word();
        if (!apply(flag)) parser.Fail("unknown flag '" + std::string(flag) + "'");
    }
}

DialogTemplate DialogHeader(LineParser& parser) {
    DialogTemplate dialog;
    dialog.cx = static_cast<int>(Number(parser, "dialog width", 1, 32767));
    dialog.cy = static_cast<int>(Number(parser, "dialog height", 1, 32767));
    dialog.caption = Text(parser);
    bool child = false;
    Flags(parser, [&](std::string_view flag) {
        if (flag == "CHILD") {
            child = true;
        } else if (flag == "VISIBLE") {
            dialog.style |= WS_VISIBLE;
        } else if (flag == "RTL") {
            dialog.exStyle |= WS_EX_LAYOUTRTL;
        } else {
            return false;
        }
        return true;
    });
    dialog.style |= child ? (WS_CHILD | DS_CONTROL) : (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    return dialog;
}

DialogItemTemplate DialogItem(LineParser& parser, std::string_view keyword) {
    const ItemKind* kind = nullptr;
    for (const auto& k : kItemKinds) {
        if (k.keyword == keyword) kind = &k;
    }
    if (kind == nullptr) parser.Fail("unknown control kind '" + std::string(keyword) + "'");
    DialogItemTemplate item;
    item.windowClass = kind->windowClass;
    item.style = kind->style | WS_CHILD | WS_VISIBLE;
    item.id = ControlId(parser);
    item.text = Text(parser);
    item.x = static_cast<int>(Number(parser, "x", 0, 32767));
    item.y = static_cast<int>(Number(parser, "y", 0, 32767));
    item.cx = static_cast<int>(Number(parser, "width", 0, 32767));
    item.cy = static_cast<int>(Number(parser, "height", 0, 32767));
    Flags(parser, [&](std::string_view flag) {
        for (const auto& f : kItemFlags) {
            if (f.keyword == flag) {
                item.style = (item.style | f.set) & ~f.clear;
                item.exStyle |= f.exStyle;
                return true;
            }
        }
        return false;
    });
    return item;
}

std::u16string BinaryType(LineParser& parser) {
    parser.SkipBlanks();
    const auto word = parser.Word();
    if (word.empty()) parser.Fail("missing resource type");
    if (word.size() > 32) parser.Fail("resource type longer than 32 characters");
    std::u16string type;
    for (char c : word) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter && !(c >= '0' && c <= '9') && c != '_') {
            parser.Fail("resource type must be letters, digits or '_', got '" + std::string(word) + "'");
        }
        type.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c));
    }
    return type;
}

// Groups of hex digits up to the end of the line or a comment.
void HexBytes(LineParser& parser, std::vector<std::uint8_t>& out) {
    auto digit = [&](char c) -> unsigned {
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
        parser.Fail("hex bytes must be hex digits, got '" + std::string(1, c) + "'");
    };
    bool any = false;
    for (;;) {
        parser.SkipBlanks();
        if (parser.AtEnd() || parser.Peek() == '#') break;
        const auto word = parser.Word();
        if (word.size() % 2 != 0) parser.Fail("hex bytes need an even number of digits");
        if (out.size() + word.size() / 2 > kMaxFileSize) parser.Fail("binary resource larger than 16 MiB");
        for (std::size_t i = 0; i < word.size(); i += 2) {
            out.push_back(static_cast<std::uint8_t>(digit(word[i]) * 16 + digit(word[i + 1])));
        }
        any = true;
    }
    if (!any) parser.Fail("missing hex bytes");
}

}  // namespace

ResourceTable ParseResourceText(std::string_view text, const std::string& sourceName) {
    ResourceTable table;
    std::map<UINT, std::size_t> firstLine;
    std::map<UINT, std::size_t> firstDialogLine;
    std::map<std::pair<std::u16string, UINT>, std::size_t> firstBinaryLine;
    std::pair<std::u16string, UINT> lastBinary;  // of the line before, when it was BINARY
    bool continuing = false;
    std::optional<std::pair<UINT, DialogTemplate>> open;  // the dialog being read
    std::size_t openLine = 0;
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
        const bool afterBinary = std::exchange(continuing, false);
        if (!open && keyword == "BINARY") {
            auto key = std::make_pair(BinaryType(parser), 0u);
            parser.SkipBlanks();
            key.second = Number(parser, "resource id", 0, 65535);
            const bool appends = afterBinary && key == lastBinary;
            if (auto [it, added] = firstBinaryLine.emplace(key, number); !added && !appends) {
                parser.Fail("binary resource " + std::to_string(key.second) + " already defined on line " +
                            std::to_string(it->second));
            }
            auto& bytes = table.binaries[key];
            HexBytes(parser, bytes);
            lastBinary = std::move(key);
            continuing = true;
            continue;
        }
        if (open) {
            if (keyword == "END") {
                Flags(parser, [](std::string_view) { return false; });
                table.dialogs.emplace(open->first, std::move(open->second));
                open.reset();
                continue;
            }
            if (keyword == "DIALOG" || keyword == "STRING") {
                parser.Fail("dialog " + std::to_string(open->first) + " has no END");
            }
            if (open->second.items.size() >= kMaxItems) parser.Fail("dialog has more than 65535 controls");
            open->second.items.push_back(DialogItem(parser, keyword));
            continue;
        }
        if (keyword == "DIALOG") {
            parser.SkipBlanks();
            const UINT id = Number(parser, "dialog id", 0, 65535);
            if (auto [it, added] = firstDialogLine.emplace(id, number); !added) {
                parser.Fail("dialog id " + std::to_string(id) + " already defined on line " +
                            std::to_string(it->second));
            }
            open.emplace(id, DialogHeader(parser));
            openLine = number;
            continue;
        }
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
    if (open) {
        throw ResourceFileError(sourceName + ":" + std::to_string(openLine) + ": dialog " +
                                std::to_string(open->first) + " has no END");
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
