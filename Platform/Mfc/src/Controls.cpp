// What the controls do with their messages: state, user input and the
// notifications they send their parents.
#include "Internal.h"

#include <algorithm>

namespace Mfc::detail {
namespace {

std::u16string_view TextArg(LPARAM lParam) {
    const auto* text = reinterpret_cast<const char16_t*>(lParam);
    return text ? std::u16string_view(text) : std::u16string_view();
}

LRESULT CopyText(std::u16string_view text, WPARAM size, LPARAM buffer) {
    auto* out = reinterpret_cast<char16_t*>(buffer);
    if (out == nullptr || size == 0) return 0;
    const auto count = std::min<std::size_t>(text.size(), size - 1);
    std::copy_n(text.begin(), count, out);
    out[count] = 0;
    return static_cast<LRESULT>(count);
}

// ----- Buttons

void UncheckGroupMates(Window& button) {
    auto parent = FindWindowRecord(button.parent);
    if (!parent) return;
    auto siblings = Children(*parent);
    auto self = std::find_if(siblings.begin(), siblings.end(), [&](const WindowPtr& w) { return w.get() == &button; });
    if (self == siblings.end()) return;
    auto first = self;
    while (first != siblings.begin() && ((*first)->style & WS_GROUP) == 0) --first;
    for (auto it = first; it != siblings.end(); ++it) {
        if (it != first && ((*it)->style & WS_GROUP) != 0) break;
        Window& other = **it;
        if (&other == &button || other.kind != Kind::Button) continue;
        if ((other.style & BS_TYPEMASK) != BS_AUTORADIOBUTTON || other.check == BST_UNCHECKED) continue;
        other.check = BST_UNCHECKED;
        Notify(other.handle, WindowChange::Check);
    }
}

void ButtonClicked(Window& w) {
    switch (w.style & BS_TYPEMASK) {
        case BS_GROUPBOX:
            return;
        case BS_AUTOCHECKBOX:
            w.check = w.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            Notify(w.handle, WindowChange::Check);
            break;
        case BS_AUTORADIOBUTTON:
            if (w.check != BST_CHECKED) {
                w.check = BST_CHECKED;
                Notify(w.handle, WindowChange::Check);
            }
            UncheckGroupMates(w);
            break;
        default:
            break;
    }
    NotifyParent(w, BN_CLICKED);
}

// ----- Edits

void ReplaceSelection(Window& w, std::u16string_view text) {
    const auto start = static_cast<std::size_t>(std::min(w.selStart, w.selEnd));
    const auto end = static_cast<std::size_t>(std::max(w.selStart, w.selEnd));
    w.text.replace(start, end - start, text);
    w.selStart = w.selEnd = static_cast<int>(start + text.size());
    Notify(w.handle, WindowChange::Text);
    NotifyParent(w, EN_CHANGE);
}

bool FitsLimit(const Window& w, std::size_t inserted) {
    const auto selected = static_cast<std::size_t>(std::abs(w.selEnd - w.selStart));
    return w.text.size() - selected + inserted <= static_cast<std::size_t>(w.limit);
}

void Refuse(Window& w) {
    MessageBeep(0);
    NotifyParent(w, EN_MAXTEXT);
}

// ----- Combo boxes

int FindItem(const Window& w, int start, std::u16string_view text, bool exact) {
    const int count = static_cast<int>(w.items.size());
    if (count == 0) return CB_ERR;
    const int from = (start < 0 || start >= count) ? 0 : start + 1;
    for (int k = 0; k < count; ++k) {
        const int i = (from + k) % count;
        std::u16string_view item = w.items[static_cast<std::size_t>(i)].text;
        if (!exact && item.size() >= text.size()) item = item.substr(0, text.size());
        if (CompareNoCase(item, text) == 0) return i;
    }
    return CB_ERR;
}

void SetCurrent(Window& w, int index) {
    if (w.current == index) return;
    w.current = index;
    Notify(w.handle, WindowChange::Selection);
}

// ----- List views

int RowsPerPage(const Window& w) {
    const int height = w.rect.bottom - w.rect.top - CListCtrl::kHeaderHeight;
    return std::max(height / CListCtrl::kRowHeight, 0);
}

void HitTest(const Window& w, LVHITTESTINFO& info) {
    info.iItem = -1;
    info.iSubItem = 0;
    const int width = w.rect.right - w.rect.left;
    const int height = w.rect.bottom - w.rect.top;
    if (info.pt.x < 0 || info.pt.x >= width || info.pt.y < CListCtrl::kHeaderHeight || info.pt.y >= height) {
        info.flags = LVHT_NOWHERE;
        return;
    }
    const int row = w.topIndex + (info.pt.y - CListCtrl::kHeaderHeight) / CListCtrl::kRowHeight;
    if (row >= static_cast<int>(w.rows.size())) {
        info.flags = LVHT_NOWHERE;
        return;
    }
    info.flags = LVHT_ONITEMLABEL;
    info.iItem = row;
}

// One state change of one row, announced and cancellable. In a single-
// selection list, selecting a row first deselects the others; a row gaining
// the focus state takes it from the others.
bool ChangeState(Window& w, int index, UINT state, UINT mask) {
    if (index < 0 || index >= static_cast<int>(w.rows.size())) return false;
    const UINT old = w.rows[static_cast<std::size_t>(index)].state;
    const UINT wanted = (old & ~mask) | (state & mask);
    if (wanted == old) return true;
    // The rows that hold what this row gains exclusively give it up first,
    // each in one announced change.
    const UINT exclusive = LVIS_FOCUSED | ((w.style & LVS_SINGLESEL) != 0 ? LVIS_SELECTED : 0);
    const UINT taken = wanted & ~old & exclusive;
    if (taken != 0) {
        for (int other = 0; other < static_cast<int>(w.rows.size()); ++other) {
            if (other == index) continue;
            const UINT lose = w.rows[static_cast<std::size_t>(other)].state & taken;
            if (lose != 0 && !ChangeState(w, other, 0, lose)) return false;
        }
    }
    if (index >= static_cast<int>(w.rows.size())) return false;
    NMLISTVIEW change;
    change.hdr.code = LVN_ITEMCHANGING;
    change.iItem = index;
    change.uNewState = wanted;
    change.uOldState = w.rows[static_cast<std::size_t>(index)].state;
    change.uChanged = LVIF_STATE;
    change.lParam = w.rows[static_cast<std::size_t>(index)].data;
    if (NotifyParent(w, change.hdr) != 0) return false;
    // A handler may have changed the rows meanwhile.
    if (index >= static_cast<int>(w.rows.size())) return false;
    w.rows[static_cast<std::size_t>(index)].state = wanted;
    Notify(w.handle, WindowChange::Selection);
    change.hdr.code = LVN_ITEMCHANGED;
    NotifyParent(w, change.hdr);
    return true;
}

void EnsureVisible(Window& w, int index) {
    const int page = std::max(RowsPerPage(w), 1);
    if (index < w.topIndex) {
        w.topIndex = index;
    } else if (index >= w.topIndex + page) {
        w.topIndex = index - page + 1;
    }
}

std::u16string& Cell(ListRow& row, std::size_t column) {
    if (row.cells.size() <= column) row.cells.resize(column + 1);
    return row.cells[column];
}

// ----- IP address controls

bool ParseAddress(std::u16string_view text, std::array<int, 4>& fields) {
    std::array<int, 4> parsed{-1, -1, -1, -1};
    std::size_t field = 0;
    int digits = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            if (++field >= 4) return false;
            digits = 0;
            continue;
        }
        if (c < u'0' || c > u'9' || ++digits > 3) return false;
        parsed[field] = std::max(parsed[field], 0) * 10 + (c - u'0');
        if (parsed[field] > 255) return false;
    }
    fields = parsed;
    return true;
}

void AddressChanged(Window& w) {
    Notify(w.handle, WindowChange::Text);
    NotifyParent(w, EN_CHANGE);
}

int DigitsOf(int value) {
    return value < 0 ? 0 : value >= 100 ? 3 : value >= 10 ? 2 : 1;
}

void EnterField(Window& w, int field, bool advanced) {
    w.field = field;
    w.fieldDigits = DigitsOf(w.fields[static_cast<std::size_t>(field)]);
    w.fieldReplace = true;
    w.fieldAdvanced = advanced;
    w.fieldClosed = false;
}

// As the system's address control does: the user is told, and the field
// takes the highest value it allows.
void RefuseFieldValue(Window& w, int typed) {
    const std::string text =
        std::to_string(typed) + " is not a valid entry. Please specify a value between 0 and 255.";
    const HWND owner = TopLevel(w.handle);
    MessageBoxW(owner, FromUtf8(text).c_str(), u"Error", MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

LRESULT ButtonProc(Window& w, UINT message, WPARAM wParam, LPARAM, bool& handled) {
    handled = true;
    switch (message) {
        case BM_GETCHECK:
            return w.check;
        case BM_SETCHECK:
            if (w.check != wParam) {
                w.check = static_cast<UINT>(wParam);
                Notify(w.handle, WindowChange::Check);
            }
            return 0;
        case BM_GETSTATE:
            return w.check | (GetFocus() == w.handle ? 0x0008 : 0);
        case BM_SETSTYLE:
            w.style = (w.style & ~BS_TYPEMASK) | (static_cast<DWORD>(wParam) & BS_TYPEMASK);
            Notify(w.handle, WindowChange::Style);
            return 0;
        case BM_CLICK:
        case WM_LBUTTONUP:
            ButtonClicked(w);
            return 0;
        case WM_LBUTTONDOWN:
            if ((w.style & BS_TYPEMASK) != BS_GROUPBOX) SetFocus(w.handle);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) ButtonClicked(w);
            return 0;
        default:
            handled = false;
            return 0;
    }
}

LRESULT EditProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    const int length = static_cast<int>(w.text.size());
    switch (message) {
        case WM_SETTEXT:
            w.text = std::u16string(TextArg(lParam));
            w.selStart = w.selEnd = 0;
            Notify(w.handle, WindowChange::Text);
            NotifyParent(w, EN_CHANGE);
            return TRUE;
        case EM_LIMITTEXT:
            w.limit = wParam == 0 ? 0x7FFFFFFE : static_cast<int>(std::min<WPARAM>(wParam, 0x7FFFFFFE));
            return 0;
        case EM_GETLIMITTEXT:
            return w.limit;
        case EM_SETSEL: {
            int start = static_cast<int>(static_cast<std::intptr_t>(wParam));
            int end = static_cast<int>(lParam);
            if (end < 0 || end > length) end = length;
            if (start < 0) {
                start = end = std::max(w.selStart, w.selEnd);
            } else if (start > length) {
                start = length;
            }
            w.selStart = std::min(start, end);
            w.selEnd = std::max(start, end);
            Notify(w.handle, WindowChange::Selection);
            return 0;
        }
        case EM_GETSEL:
            if (auto* s = reinterpret_cast<DWORD*>(wParam)) *s = static_cast<DWORD>(w.selStart);
            if (auto* e = reinterpret_cast<DWORD*>(lParam)) *e = static_cast<DWORD>(w.selEnd);
            return MAKELPARAM(static_cast<WORD>(w.selStart), static_cast<WORD>(w.selEnd));
        case EM_REPLACESEL: {
            auto text = TextArg(lParam);
            const auto selected = static_cast<std::size_t>(w.selEnd - w.selStart);
            const auto room =
                static_cast<std::size_t>(w.limit) - std::min<std::size_t>(w.text.size() - selected, w.limit);
            ReplaceSelection(w, text.substr(0, std::min(text.size(), room)));
            return 0;
        }
        case EM_SETPASSWORDCHAR:
            w.passwordChar = static_cast<char16_t>(wParam);
            w.style = wParam ? (w.style | ES_PASSWORD) : (w.style & ~ES_PASSWORD);
            Notify(w.handle, WindowChange::Style);
            return 0;
        case EM_GETPASSWORDCHAR:
            return w.passwordChar;
        case EM_SETREADONLY:
            w.style = wParam ? (w.style | ES_READONLY) : (w.style & ~ES_READONLY);
            Notify(w.handle, WindowChange::Style);
            return TRUE;
        case EM_SCROLLCARET:
            return TRUE;
        case WM_LBUTTONDOWN:
            SetFocus(w.handle);
            w.selStart = w.selEnd = length;
            Notify(w.handle, WindowChange::Selection);
            return 0;
        case WM_PASTE: {
            // One line of the clipboard's text, as much as fits.
            if ((w.style & ES_READONLY) != 0) return 0;
            std::u16string text = ClipboardText();
            text.resize(std::min(text.find_first_of(u"\r\n"), text.size()));
            if (text.empty()) return 0;
            const auto selected = static_cast<std::size_t>(std::abs(w.selEnd - w.selStart));
            const auto room =
                static_cast<std::size_t>(w.limit) - std::min<std::size_t>(w.text.size() - selected, w.limit);
            if (room == 0) {
                Refuse(w);
                return 0;
            }
            ReplaceSelection(w, std::u16string_view(text).substr(0, std::min(text.size(), room)));
            return 0;
        }
        case WM_KEYDOWN:
            if (wParam == VK_DELETE && (w.style & ES_READONLY) == 0) {
                if (w.selStart == w.selEnd && w.selEnd < length) ++w.selEnd;
                if (w.selStart != w.selEnd) ReplaceSelection(w, u"");
            }
            return 0;
        case WM_CHAR: {
            const auto unit = static_cast<char16_t>(wParam);
            if ((w.style & ES_READONLY) != 0) {
                MessageBeep(0);
                return 0;
            }
            if (unit == VK_BACK) {
                if (w.selStart == w.selEnd && w.selStart > 0) --w.selStart;
                if (w.selStart != w.selEnd) ReplaceSelection(w, u"");
                return 0;
            }
            if (unit == 0x16) return EditProc(w, WM_PASTE, 0, 0, handled);
            if (unit < 0x20) return 0;
            if ((w.style & ES_NUMBER) != 0 && (unit < u'0' || unit > u'9')) {
                MessageBeep(0);
                return 0;
            }
            if (!FitsLimit(w, 1)) {
                Refuse(w);
                return 0;
            }
            ReplaceSelection(w, std::u16string_view(&unit, 1));
            return 0;
        }
        default:
            handled = false;
            return 0;
    }
}

LRESULT ProgressProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    auto setPosition = [&](long long position) {
        const int previous = w.position;
        w.position = static_cast<int>(std::clamp<long long>(position, w.rangeLow, std::max(w.rangeLow, w.rangeHigh)));
        if (w.position != previous) Notify(w.handle, WindowChange::Contents);
        return previous;
    };
    auto setRange = [&](int low, int high) {
        w.rangeLow = low;
        w.rangeHigh = high;
        setPosition(w.position);
        Notify(w.handle, WindowChange::Contents);
    };
    switch (message) {
        case PBM_SETRANGE: {
            const LRESULT previous = MAKELPARAM(static_cast<WORD>(w.rangeLow), static_cast<WORD>(w.rangeHigh));
            setRange(LOWORD(static_cast<DWORD_PTR>(lParam)), HIWORD(static_cast<DWORD_PTR>(lParam)));
            return previous;
        }
        case PBM_SETRANGE32: {
            const LRESULT previous = MAKELPARAM(static_cast<WORD>(w.rangeLow), static_cast<WORD>(w.rangeHigh));
            setRange(static_cast<int>(wParam), static_cast<int>(lParam));
            return previous;
        }
        case PBM_SETPOS:
            return setPosition(static_cast<int>(wParam));
        case PBM_DELTAPOS:
            return setPosition(static_cast<long long>(w.position) + static_cast<int>(wParam));
        case PBM_GETPOS:
            return w.position;
        default:
            handled = false;
            return 0;
    }
}

LRESULT ComboProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    const int count = static_cast<int>(w.items.size());
    auto valid = [&](WPARAM index) {
        return static_cast<std::intptr_t>(index) >= 0 && static_cast<int>(index) < count;
    };
    switch (message) {
        case CB_ADDSTRING:
            w.items.push_back(ComboItem{std::u16string(TextArg(lParam)), 0});
            Notify(w.handle, WindowChange::Contents);
            return count;
        case CB_INSERTSTRING: {
            int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
            if (index < 0) index = count;
            if (index > count) return CB_ERR;
            w.items.insert(w.items.begin() + index, ComboItem{std::u16string(TextArg(lParam)), 0});
            if (w.current >= index) ++w.current;
            Notify(w.handle, WindowChange::Contents);
            return index;
        }
        case CB_DELETESTRING: {
            if (!valid(wParam)) return CB_ERR;
            const int index = static_cast<int>(wParam);
            w.items.erase(w.items.begin() + index);
            if (w.current == index) {
                w.current = -1;
            } else if (w.current > index) {
                --w.current;
            }
            Notify(w.handle, WindowChange::Contents);
            return count - 1;
        }
        case CB_RESETCONTENT:
            w.items.clear();
            w.current = -1;
            Notify(w.handle, WindowChange::Contents);
            return 0;
        case CB_GETCOUNT:
            return count;
        case CB_GETCURSEL:
            return w.current;
        case CB_SETCURSEL:
            if (!valid(wParam)) {
                SetCurrent(w, -1);
                return CB_ERR;
            }
            SetCurrent(w, static_cast<int>(wParam));
            return w.current;
        case CB_GETITEMDATA:
            return valid(wParam) ? static_cast<LRESULT>(w.items[wParam].data) : CB_ERR;
        case CB_SETITEMDATA:
            if (!valid(wParam)) return CB_ERR;
            w.items[wParam].data = static_cast<DWORD_PTR>(lParam);
            return 0;
        case CB_GETLBTEXT:
            // The caller's buffer holds GETLBTEXTLEN + 1 units, as the
            // message requires.
            if (!valid(wParam)) return CB_ERR;
            return CopyText(w.items[wParam].text, w.items[wParam].text.size() + 1, lParam);
        case CB_GETLBTEXTLEN:
            return valid(wParam) ? static_cast<LRESULT>(w.items[wParam].text.size()) : CB_ERR;
        case CB_FINDSTRING:
        case CB_FINDSTRINGEXACT:
            return FindItem(w, static_cast<int>(static_cast<std::intptr_t>(wParam)), TextArg(lParam),
                            message == CB_FINDSTRINGEXACT);
        case CB_SELECTSTRING: {
            const int found = FindItem(w, static_cast<int>(static_cast<std::intptr_t>(wParam)), TextArg(lParam), false);
            if (found != CB_ERR) SetCurrent(w, found);
            return found;
        }
        case CB_SHOWDROPDOWN:
            if (w.dropped != (wParam != 0)) {
                w.dropped = wParam != 0;
                NotifyParent(w, w.dropped ? CBN_DROPDOWN : CBN_CLOSEUP);
            }
            return TRUE;
        case CB_GETDROPPEDSTATE:
            return w.dropped;
        case WM_GETTEXT:
            if (w.current < 0) return CopyText(u"", wParam, lParam);
            return CopyText(w.items[static_cast<std::size_t>(w.current)].text, wParam, lParam);
        case WM_GETTEXTLENGTH:
            return w.current < 0 ? 0 : static_cast<LRESULT>(w.items[static_cast<std::size_t>(w.current)].text.size());
        case WM_SETTEXT: {
            const int found = FindItem(w, -1, TextArg(lParam), true);
            if (found == CB_ERR) return CB_ERR;
            SetCurrent(w, found);
            return TRUE;
        }
        case WM_LBUTTONDOWN:
            SetFocus(w.handle);
            return 0;
        case kInputChooseItem:
            if (!valid(wParam)) return FALSE;
            SetFocus(w.handle);
            w.dropped = true;
            NotifyParent(w, CBN_DROPDOWN);
            SetCurrent(w, static_cast<int>(wParam));
            NotifyParent(w, CBN_SELCHANGE);
            w.dropped = false;
            NotifyParent(w, CBN_CLOSEUP);
            return TRUE;
        default:
            handled = false;
            return 0;
    }
}

LRESULT ListProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    if (w.kind == Kind::Header) {
        if (message == HDM_GETITEMCOUNT) {
            auto list = FindWindowRecord(w.parent);
            return list ? static_cast<LRESULT>(list->columns.size()) : -1;
        }
        handled = false;
        return 0;
    }
    const int count = static_cast<int>(w.rows.size());
    const int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
    auto validRow = [&](int i) { return i >= 0 && i < count; };
    auto validColumn = [&](int i) { return i >= 0 && i < static_cast<int>(w.columns.size()); };
    switch (message) {
        case LVM_INSERTCOLUMNW: {
            const auto* column = reinterpret_cast<const LVCOLUMNW*>(lParam);
            if (column == nullptr || index < 0) return -1;
            const int at = std::min(index, static_cast<int>(w.columns.size()));
            ListColumn c;
            if ((column->mask & LVCF_TEXT) != 0 && column->pszText != nullptr) c.text = column->pszText;
            if ((column->mask & LVCF_WIDTH) != 0) c.width = column->cx;
            if ((column->mask & LVCF_FMT) != 0) c.format = column->fmt;
            w.columns.insert(w.columns.begin() + at, std::move(c));
            for (auto& row : w.rows) {
                if (at > 0 && row.cells.size() > static_cast<std::size_t>(at)) {
                    row.cells.insert(row.cells.begin() + at, std::u16string());
                }
            }
            Notify(w.handle, WindowChange::Contents);
            return at;
        }
        case LVM_DELETECOLUMN:
            if (!validColumn(index)) return FALSE;
            w.columns.erase(w.columns.begin() + index);
            Notify(w.handle, WindowChange::Contents);
            return TRUE;
        case LVM_GETCOLUMNW: {
            auto* column = reinterpret_cast<LVCOLUMNW*>(lParam);
            if (!validColumn(index) || column == nullptr) return FALSE;
            const auto& c = w.columns[static_cast<std::size_t>(index)];
            if ((column->mask & LVCF_WIDTH) != 0) column->cx = c.width;
            if ((column->mask & LVCF_FMT) != 0) column->fmt = c.format;
            if ((column->mask & LVCF_TEXT) != 0 && column->cchTextMax > 0) {
                CopyText(c.text, static_cast<WPARAM>(column->cchTextMax), reinterpret_cast<LPARAM>(column->pszText));
            }
            return TRUE;
        }
        case LVM_GETCOLUMNWIDTH:
            return validColumn(index) ? w.columns[static_cast<std::size_t>(index)].width : 0;
        case LVM_SETCOLUMNWIDTH:
            if (!validColumn(index)) return FALSE;
            w.columns[static_cast<std::size_t>(index)].width = std::max(static_cast<int>(lParam), 0);
            Notify(w.handle, WindowChange::Contents);
            return TRUE;
        case LVM_GETHEADER:
            return reinterpret_cast<LRESULT>(w.header);
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
            const DWORD previous = w.listExStyle;
            const DWORD mask = wParam == 0 ? 0xFFFFFFFFu : static_cast<DWORD>(wParam);
            w.listExStyle = (w.listExStyle & ~mask) | (static_cast<DWORD>(lParam) & mask);
            return previous;
        }
        case LVM_GETEXTENDEDLISTVIEWSTYLE:
            return w.listExStyle;
        case LVM_INSERTITEMW: {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            if (item == nullptr || item->iSubItem != 0) return -1;
            const int at = std::clamp(item->iItem, 0, count);
            ListRow row;
            row.cells.emplace_back((item->mask & LVIF_TEXT) != 0 && item->pszText ? item->pszText : u"");
            if ((item->mask & LVIF_PARAM) != 0) row.data = item->lParam;
            if ((item->mask & LVIF_STATE) != 0) row.state = item->state & item->stateMask;
            w.rows.insert(w.rows.begin() + at, std::move(row));
            Notify(w.handle, WindowChange::Contents);
            return at;
        }
        case LVM_SETITEMW: {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            if (item == nullptr || !validRow(item->iItem) || item->iSubItem < 0) return FALSE;
            auto& row = w.rows[static_cast<std::size_t>(item->iItem)];
            if ((item->mask & LVIF_TEXT) != 0) {
                Cell(row, static_cast<std::size_t>(item->iSubItem)) = item->pszText ? item->pszText : u"";
                Notify(w.handle, WindowChange::Contents);
            }
            if ((item->mask & LVIF_PARAM) != 0 && item->iSubItem == 0) row.data = item->lParam;
            if ((item->mask & LVIF_STATE) != 0) return ChangeState(w, item->iItem, item->state, item->stateMask);
            return TRUE;
        }
        case LVM_GETITEMW: {
            auto* item = reinterpret_cast<LVITEMW*>(lParam);
            if (item == nullptr || !validRow(item->iItem) || item->iSubItem < 0) return FALSE;
            auto& row = w.rows[static_cast<std::size_t>(item->iItem)];
            if ((item->mask & LVIF_TEXT) != 0 && item->cchTextMax > 0) {
                CopyText(Cell(row, static_cast<std::size_t>(item->iSubItem)), static_cast<WPARAM>(item->cchTextMax),
                         reinterpret_cast<LPARAM>(item->pszText));
            }
            if ((item->mask & LVIF_PARAM) != 0) item->lParam = row.data;
            if ((item->mask & LVIF_STATE) != 0) item->state = row.state & item->stateMask;
            return TRUE;
        }
        case LVM_SETITEMTEXTW: {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            if (item == nullptr || !validRow(index) || item->iSubItem < 0) return FALSE;
            Cell(w.rows[static_cast<std::size_t>(index)], static_cast<std::size_t>(item->iSubItem)) =
                item->pszText ? item->pszText : u"";
            Notify(w.handle, WindowChange::Contents);
            return TRUE;
        }
        case LVM_GETITEMTEXTW: {
            auto* item = reinterpret_cast<LVITEMW*>(lParam);
            if (item == nullptr || !validRow(index) || item->iSubItem < 0 || item->cchTextMax <= 0) return 0;
            return CopyText(Cell(w.rows[static_cast<std::size_t>(index)], static_cast<std::size_t>(item->iSubItem)),
                            static_cast<WPARAM>(item->cchTextMax), reinterpret_cast<LPARAM>(item->pszText));
        }
        case LVM_DELETEITEM:
            if (!validRow(index)) return FALSE;
            w.rows.erase(w.rows.begin() + index);
            w.topIndex = std::clamp(w.topIndex, 0, std::max(count - 2, 0));
            Notify(w.handle, WindowChange::Contents);
            return TRUE;
        case LVM_DELETEALLITEMS:
            w.rows.clear();
            w.topIndex = 0;
            Notify(w.handle, WindowChange::Contents);
            return TRUE;
        case LVM_GETITEMCOUNT:
            return count;
        case LVM_SETITEMSTATE: {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            if (item == nullptr) return FALSE;
            if (index == -1) {
                bool all = true;
                for (int i = 0; i < static_cast<int>(w.rows.size()); ++i) {
                    all = ChangeState(w, i, item->state, item->stateMask) && all;
                }
                return all;
            }
            return ChangeState(w, index, item->state, item->stateMask);
        }
        case LVM_GETITEMSTATE:
            return validRow(index) ? static_cast<LRESULT>(w.rows[static_cast<std::size_t>(index)].state & lParam) : 0;
        case LVM_GETNEXTITEM: {
            const UINT want = static_cast<UINT>(lParam) & (LVNI_SELECTED | LVNI_FOCUSED);
            for (int i = std::max(index + 1, 0); i < count; ++i) {
                if ((w.rows[static_cast<std::size_t>(i)].state & want) == want) return i;
            }
            return -1;
        }
        case LVM_GETSELECTEDCOUNT:
            return std::count_if(w.rows.begin(), w.rows.end(),
                                 [](const ListRow& r) { return (r.state & LVIS_SELECTED) != 0; });
        case LVM_HITTEST: {
            auto* info = reinterpret_cast<LVHITTESTINFO*>(lParam);
            if (info == nullptr) return -1;
            HitTest(w, *info);
            return info->iItem;
        }
        case LVM_GETITEMRECT: {
            auto* rect = reinterpret_cast<RECT*>(lParam);
            if (rect == nullptr || !validRow(index)) return FALSE;
            const LONG top = CListCtrl::kHeaderHeight + (index - w.topIndex) * CListCtrl::kRowHeight;
            *rect = RECT{0, top, w.rect.right - w.rect.left, top + CListCtrl::kRowHeight};
            return TRUE;
        }
        case LVM_ENSUREVISIBLE:
            if (!validRow(index)) return FALSE;
            EnsureVisible(w, index);
            Notify(w.handle, WindowChange::Position);
            return TRUE;
        case LVM_GETTOPINDEX:
            return w.topIndex;
        case LVM_GETCOUNTPERPAGE:
            return RowsPerPage(w);
        case WM_LBUTTONDOWN: {
            SetFocus(w.handle);
            LVHITTESTINFO info;
            info.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            HitTest(w, info);
            if (info.iItem >= 0) {
                ChangeState(w, info.iItem, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            } else {
                // A click on empty space clears the selection.
                for (int i = 0; i < static_cast<int>(w.rows.size()); ++i) {
                    if ((w.rows[static_cast<std::size_t>(i)].state & LVIS_SELECTED) != 0) {
                        ChangeState(w, i, 0, LVIS_SELECTED);
                    }
                }
            }
            return 0;
        }
        case WM_LBUTTONDBLCLK: {
            // The first click of the pair has already selected the row.
            LVHITTESTINFO info;
            info.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            HitTest(w, info);
            NMITEMACTIVATE activate;
            activate.hdr.code = NM_DBLCLK;
            activate.iItem = info.iItem;
            activate.ptAction = info.pt;
            if (info.iItem >= 0) activate.lParam = w.rows[static_cast<std::size_t>(info.iItem)].data;
            NotifyParent(w, activate.hdr);
            return 0;
        }
        default:
            handled = false;
            return 0;
    }
}

std::u16string IPAddressText(const Window& w) {
    std::u16string text;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) text += u'.';
        for (char c : std::to_string(std::max(w.fields[i], 0))) text += static_cast<char16_t>(c);
    }
    return text;
}

LRESULT IPAddressProc(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
        case WM_SETTEXT:
            if (!ParseAddress(TextArg(lParam), w.fields)) return FALSE;
            AddressChanged(w);
            return TRUE;
        case WM_GETTEXT:
            return CopyText(IPAddressText(w), wParam, lParam);
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(IPAddressText(w).size());
        case IPM_SETADDRESS: {
            const auto address = static_cast<DWORD>(lParam);
            w.fields = {FIRST_IPADDRESS(address), SECOND_IPADDRESS(address), THIRD_IPADDRESS(address),
                        FOURTH_IPADDRESS(address)};
            AddressChanged(w);
            return TRUE;
        }
        case IPM_GETADDRESS: {
            DWORD address = 0;
            int filled = 0;
            for (int v : w.fields) {
                address = (address << 8) | static_cast<DWORD>(std::max(v, 0));
                filled += v >= 0 ? 1 : 0;
            }
            if (auto* out = reinterpret_cast<DWORD*>(lParam)) *out = address;
            return filled;
        }
        case IPM_CLEARADDRESS:
            w.fields = {-1, -1, -1, -1};
            AddressChanged(w);
            return 0;
        case IPM_ISBLANK:
            return std::all_of(w.fields.begin(), w.fields.end(), [](int v) { return v < 0; });
        case WM_SETFOCUS:
            EnterField(w, 0, false);
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(w.handle);
            return 0;
        case WM_CHAR: {
            const auto unit = static_cast<char16_t>(wParam);
            const auto field = static_cast<std::size_t>(w.field);
            if (unit >= u'0' && unit <= u'9') {
                if (w.fieldReplace) {
                    w.fields[field] = -1;
                    w.fieldDigits = 0;
                }
                // Three digits fill a field; only the last field can be
                // full here, as the others move on.
                if (w.fieldClosed || w.fieldDigits >= 3) {
                    MessageBeep(0);
                    return 0;
                }
                const int value = std::max(w.fields[field], 0) * 10 + (unit - u'0');
                w.fields[field] = value;
                ++w.fieldDigits;
                w.fieldReplace = false;
                w.fieldAdvanced = false;
                AddressChanged(w);
                if (w.fieldDigits < 3) return 0;
                if (value > 255) {
                    RefuseFieldValue(w, value);
                    w.fields[field] = 255;
                    AddressChanged(w);
                }
                // A full field moves on by itself.
                if (w.field < 3) EnterField(w, w.field + 1, true);
            } else if (unit == u'.' || unit == u' ') {
                if (w.fieldAdvanced) {
                    w.fieldAdvanced = false;
                } else if (w.field < 3) {
                    EnterField(w, w.field + 1, false);
                } else {
                    // There is no fifth field: what follows is not taken
                    // into the fourth.
                    w.fieldClosed = true;
                    MessageBeep(0);
                }
            } else if (unit == VK_BACK) {
                auto& value = w.fields[field];
                if (w.fieldReplace) w.fieldDigits = DigitsOf(value);
                value = w.fieldDigits > 1 ? value / 10 : -1;
                w.fieldDigits = std::max(w.fieldDigits - 1, 0);
                w.fieldReplace = false;
                w.fieldClosed = false;
                AddressChanged(w);
            } else if (unit >= 0x20) {
                MessageBeep(0);
            }
            return 0;
        }
        default:
            handled = false;
            return 0;
    }
}

}  // namespace Mfc::detail
