// Observers of the window tree and the plain-text rendering of a window.
#include "Internal.h"

#include <algorithm>
#include <sstream>

namespace Mfc {
namespace {

using namespace detail;

std::mutex g_observerMutex;
std::vector<WindowObserver*> g_observers;

template <class Call>
void ForEachObserver(Call&& call) {
    std::vector<WindowObserver*> observers;
    {
        std::lock_guard lock(g_observerMutex);
        observers = g_observers;
    }
    for (WindowObserver* observer : observers) call(*observer);
}

// ----- Rendering

constexpr int kCellWidth = 6;    // pixels per column: 4 dialog units
constexpr int kCellHeight = 13;  // pixels per line: 8 dialog units

class Canvas {
public:
    Canvas(int columns, int lines)
        : lines_(static_cast<std::size_t>(std::max(lines, 1)),
                 std::u16string(static_cast<std::size_t>(std::max(columns, 1)), u' ')) {}

    void Put(int column, int line, std::u16string_view text, int width) {
        if (line < 0 || line >= static_cast<int>(lines_.size())) return;
        auto& row = lines_[static_cast<std::size_t>(line)];
        for (int i = 0; i < width && i < static_cast<int>(text.size()); ++i) {
            const int at = column + i;
            if (at >= 0 && at < static_cast<int>(row.size()))
                row[static_cast<std::size_t>(at)] = text[static_cast<std::size_t>(i)];
        }
    }

    std::string Frame(std::u16string_view caption) const {
        const std::size_t width = lines_.front().size();
        std::u16string top = u"+-";
        if (!caption.empty()) top += std::u16string(u" ") + std::u16string(caption) + u" ";
        while (top.size() < width + 1) top += u'-';
        top.resize(width + 1);
        top += u'+';
        std::string out = ToUtf8(top) + "\n";
        for (const auto& line : lines_) out += "|" + ToUtf8(line) + "|\n";
        out += "+" + std::string(width, '-') + "+\n";
        return out;
    }

private:
    std::vector<std::u16string> lines_;
};

std::u16string Fit(std::u16string text, int width, char16_t fill = u' ') {
    if (width <= 0) return u"";
    if (static_cast<int>(text.size()) > width) text.resize(static_cast<std::size_t>(width));
    while (static_cast<int>(text.size()) < width) text += fill;
    return text;
}

// At most `lines` lines of at most `width` units, broken at blanks and line
// ends where it can; what does not fit is cut.
std::vector<std::u16string> Wrap(std::u16string_view text, int width, int lines) {
    std::vector<std::u16string> out;
    if (width <= 0) return out;
    const auto w = static_cast<std::size_t>(width);
    while (!text.empty() && static_cast<int>(out.size()) < lines) {
        std::size_t end = std::min(text.find(u'\n'), text.size());
        std::size_t next = end + 1;
        if (end > w) {
            const std::size_t blank = text.substr(0, w + 1).find_last_of(u' ');
            end = blank == std::u16string_view::npos || blank == 0 ? w : blank;
            next = blank == std::u16string_view::npos || blank == 0 ? w : blank + 1;
        }
        std::u16string line(text.substr(0, end));
        while (!line.empty() && line.back() == u' ') line.pop_back();
        out.push_back(std::move(line));
        text.remove_prefix(std::min(next, text.size()));
        while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
    }
    return out;
}

std::u16string StripMnemonic(const std::u16string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

std::u16string ShownText(const Window& w) {
    if (w.kind == Kind::Edit && (w.style & ES_PASSWORD) != 0) {
        return std::u16string(w.text.size(), w.passwordChar ? w.passwordChar : u'*');
    }
    if (w.kind == Kind::ComboBox) return w.current >= 0 ? w.items[static_cast<std::size_t>(w.current)].text : u"";
    if (w.kind == Kind::IPAddress) return IPAddressText(w);
    return w.text;
}

// "7 of 10" on a range from 0, "7 in 5-10" on any other.
std::string ProgressText(const Window& w) {
    std::string text = std::to_string(w.position);
    if (w.rangeLow == 0) return text + " of " + std::to_string(w.rangeHigh);
    return text + " in " + std::to_string(w.rangeLow) + "-" + std::to_string(w.rangeHigh);
}

std::u16string Cell(const ListRow& row, std::size_t column) {
    return column < row.cells.size() ? row.cells[column] : u"";
}

void Draw(Canvas& canvas, const Window& w, POINT origin) {
    if ((w.style & WS_VISIBLE) == 0) return;
    const int x = origin.x + w.rect.left;
    const int y = origin.y + w.rect.top;
    const int width = w.rect.right - w.rect.left;
    const int height = w.rect.bottom - w.rect.top;
    const int column = x / kCellWidth;
    const int columns = std::max((width + kCellWidth / 2) / kCellWidth, 1);
    const int line = (y + height / 2) / kCellHeight;
    const bool enabled = (w.style & WS_DISABLED) == 0;
    const std::u16string text = StripMnemonic(ShownText(w));
    switch (w.kind) {
        case Kind::Button:
            switch (w.style & BS_TYPEMASK) {
                case BS_AUTOCHECKBOX:
                case BS_CHECKBOX:
                    canvas.Put(column, line, (w.check ? u"[x] " : u"[ ] ") + text, columns);
                    break;
                case BS_AUTORADIOBUTTON:
                case BS_RADIOBUTTON:
                    canvas.Put(column, line, (w.check ? u"(o) " : u"( ) ") + text, columns);
                    break;
                case BS_GROUPBOX:
                    canvas.Put(column, y / kCellHeight, Fit(u"-- " + text + u" ", columns, u'-'), columns);
                    break;
                default: {
                    const std::u16string open = enabled ? u"[" : u"{", close = enabled ? u"]" : u"}";
                    std::u16string inner = Fit(u"", std::max(columns - 2, 0));
                    const int pad = std::max((static_cast<int>(inner.size()) - static_cast<int>(text.size())) / 2, 0);
                    for (std::size_t i = 0; i < text.size() && pad + i < inner.size(); ++i) inner[pad + i] = text[i];
                    canvas.Put(column, line, open + inner + close, columns);
                    break;
                }
            }
            break;
        case Kind::Edit:
        case Kind::IPAddress:
            canvas.Put(column, line, u"[" + Fit(text, std::max(columns - 2, 0), u'_') + u"]", columns);
            break;
        case Kind::ComboBox:
            canvas.Put(column, line, u"[" + Fit(text, std::max(columns - 3, 0)) + u"v]", columns);
            break;
        case Kind::Static:
            if ((w.style & SS_TYPEMASK) == SS_ETCHEDHORZ) {
                canvas.Put(column, line, Fit(u"", columns, u'-'), columns);
            } else if ((w.style & SS_TYPEMASK) == SS_BITMAP) {
                canvas.Put(column, line, Fit(u"<picture>", columns), columns);
            } else {
                // A label as tall as several lines wraps at blanks, as a
                // multi-line static control does.
                const int lines = (height + kCellHeight / 2) / kCellHeight;
                if (lines <= 1) {
                    // On the line of the control it labels.
                    canvas.Put(column, line, text, columns);
                    break;
                }
                const auto wrapped = Wrap(text, columns, lines);
                for (std::size_t i = 0; i < wrapped.size(); ++i)
                    canvas.Put(column, y / kCellHeight + static_cast<int>(i), wrapped[i], columns);
            }
            break;
        case Kind::ListView: {
            const int top = y / kCellHeight;
            const int lines = std::max(height / kCellHeight, 2);
            std::u16string header;
            for (const auto& c : w.columns) header += Fit(c.text, std::max(c.width / kCellWidth, 1)) + u"|";
            canvas.Put(column, top, Fit(header, columns, u' '), columns);
            for (int r = 0; r + 1 < lines && w.topIndex + r < static_cast<int>(w.rows.size()); ++r) {
                const auto& row = w.rows[static_cast<std::size_t>(w.topIndex + r)];
                std::u16string cells = (row.state & LVIS_SELECTED) ? u">" : u" ";
                for (std::size_t c = 0; c < std::max<std::size_t>(w.columns.size(), 1); ++c) {
                    const int cw = c < w.columns.size() ? std::max(w.columns[c].width / kCellWidth, 1) : columns;
                    cells += Fit(Cell(row, c), c == 0 ? cw - 1 : cw) + u"|";
                }
                canvas.Put(column, top + 1 + r, cells, columns);
            }
            break;
        }
        case Kind::Progress: {
            // A bar of cells filled in proportion, then the count.
            const std::string countText = " " + ProgressText(w);
            const std::u16string count(countText.begin(), countText.end());
            const int cells = std::max(columns - 2 - static_cast<int>(count.size()), 1);
            const long long span = static_cast<long long>(w.rangeHigh) - w.rangeLow;
            const int filled =
                span <= 0 ? 0 : static_cast<int>((static_cast<long long>(w.position - w.rangeLow) * cells) / span);
            canvas.Put(column, line,
                       u"[" + std::u16string(static_cast<std::size_t>(filled), u'#') +
                           std::u16string(static_cast<std::size_t>(cells - filled), u'.') + u"]" + count,
                       std::max(columns, cells + 2 + static_cast<int>(count.size())));
            break;
        }
        case Kind::Dialog:
            for (const auto& child : Children(w)) Draw(canvas, *child, POINT{x, y});
            break;
        default:
            break;
    }
}

const char* KindName(const Window& w) {
    switch (w.kind) {
        case Kind::Dialog:
            return "dialog";
        case Kind::Button:
            switch (w.style & BS_TYPEMASK) {
                case BS_AUTOCHECKBOX:
                case BS_CHECKBOX:
                    return "checkbox";
                case BS_AUTORADIOBUTTON:
                case BS_RADIOBUTTON:
                    return "radio";
                case BS_GROUPBOX:
                    return "group";
                default:
                    return "button";
            }
        case Kind::Edit:
            return "edit";
        case Kind::Static:
            return "static";
        case Kind::ComboBox:
            return "combo";
        case Kind::ListView:
            return "list";
        case Kind::Header:
            return "header";
        case Kind::IPAddress:
            return "ipaddress";
        case Kind::Progress:
            return "progress";
        default:
            return "window";
    }
}

std::string Quoted(const std::u16string& text) {
    std::string out = "\"";
    for (char c : ToUtf8(text)) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

void Describe(std::ostringstream& out, const Window& w, int depth) {
    if (w.kind == Kind::Header) return;
    const std::string indent(static_cast<std::size_t>(2 + 2 * depth), ' ');
    out << indent;
    if (w.kind == Kind::Dialog) {
        out << "pane " << Quoted(w.text);
    } else {
        out << w.id << ' ' << KindName(w) << ' ' << Quoted(ShownText(w));
    }
    if ((w.style & WS_VISIBLE) == 0) out << " hidden";
    if ((w.style & WS_DISABLED) != 0) out << " disabled";
    if (GetFocus() == w.handle) out << " focus";
    if (w.kind == Kind::Button && (w.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) out << " default";
    if (w.kind == Kind::Button && w.check == BST_CHECKED) out << " checked";
    if (w.kind == Kind::Edit) {
        if (w.selStart != w.selEnd) out << " sel " << w.selStart << '-' << w.selEnd;
        if (w.limit < 0x7FFFFFFE) out << " limit " << w.limit;
        if ((w.style & ES_PASSWORD) != 0) out << " password";
        if ((w.style & ES_READONLY) != 0) out << " readonly";
    }
    if (w.picture && (w.picture->size.cx > 0 || w.picture->size.cy > 0)) {
        out << " picture " << w.picture->size.cx << 'x' << w.picture->size.cy;
        if (w.picture->frames > 0) out << " frame " << w.picture->frame + 1 << '/' << w.picture->frames;
    }
    if (w.kind == Kind::Progress) out << " at " << ProgressText(w);
    if (w.kind == Kind::ComboBox) {
        out << " items [";
        for (std::size_t i = 0; i < w.items.size(); ++i) out << (i ? ", " : "") << Quoted(w.items[i].text);
        out << "]";
    }
    out << '\n';
    if (w.kind == Kind::ListView) {
        out << indent << "  columns:";
        for (const auto& c : w.columns) out << ' ' << Quoted(c.text);
        out << '\n';
        for (std::size_t r = 0; r < w.rows.size(); ++r) {
            const auto& row = w.rows[r];
            out << indent << "  " << ((row.state & LVIS_SELECTED) ? "> " : "  ") << "row " << r << ':';
            // Not the item data: programs keep pointers there, which mean nothing to a reader.
            for (std::size_t c = 0; c < std::max(w.columns.size(), row.cells.size()); ++c)
                out << ' ' << Quoted(Cell(row, c));
            out << '\n';
        }
    }
    if (w.kind == Kind::Dialog) {
        for (const auto& child : Children(w)) Describe(out, *child, depth + 1);
    }
}

}  // namespace

void AddWindowObserver(WindowObserver* observer) {
    std::lock_guard lock(g_observerMutex);
    g_observers.push_back(observer);
}

void RemoveWindowObserver(WindowObserver* observer) {
    std::lock_guard lock(g_observerMutex);
    g_observers.erase(std::remove(g_observers.begin(), g_observers.end(), observer), g_observers.end());
}

std::string RenderWindow(HWND window) {
    auto w = OwnWindow(window);
    if (!w) return "(no window)\n";
    const int width = w->rect.right - w->rect.left;
    const int height = w->rect.bottom - w->rect.top;
    Canvas canvas((width + kCellWidth - 1) / kCellWidth, (height + kCellHeight - 1) / kCellHeight);
    for (const auto& child : Children(*w)) Draw(canvas, *child, POINT{0, 0});
    std::ostringstream out;
    out << canvas.Frame(StripMnemonic(w->text));
    if ((w->style & WS_VISIBLE) == 0) out << "  (window hidden)\n";
    if ((w->style & WS_DISABLED) != 0) out << "  (window disabled)\n";
    for (const auto& child : Children(*w)) Describe(out, *child, 0);
    return out.str();
}

std::string Utf8(std::u16string_view text) {
    return ToUtf8(text);
}

std::string DescribeWindow(HWND window) {
    auto w = OwnWindow(window);
    if (!w) return IsWindow(window) ? "a window of another thread" : "a destroyed window";
    std::ostringstream out;
    out << KindName(*w) << ' ' << w->id << ' ' << Quoted(ShownText(*w));
    return out.str();
}

}  // namespace Mfc

namespace Mfc::detail {

void Notify(HWND window, WindowChange change) {
    ForEachObserver([&](WindowObserver& o) { o.OnWindowChanged(window, change); });
}

void NotifyCreated(HWND window) {
    ForEachObserver([&](WindowObserver& o) { o.OnWindowCreated(window); });
}

void NotifyDestroyed(HWND window) {
    ForEachObserver([&](WindowObserver& o) { o.OnWindowDestroyed(window); });
}

void NotifyModal(HWND window, bool entering) {
    ForEachObserver([&](WindowObserver& o) { o.OnModalLoop(window, entering); });
}

void NotifyBeep(UINT type) {
    ForEachObserver([&](WindowObserver& o) { o.OnBeep(type); });
}

}  // namespace Mfc::detail
