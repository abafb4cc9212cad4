// The common controls the dialogs use: the report-style list view with its
// header, and the IP address control.
#pragma once

#include "Mfc/AfxWin.h"

struct __POSITION;
using POSITION = __POSITION*;

class CHeaderCtrl : public CWnd {
public:
    int GetItemCount() const;
};

// A report view with columns and rows, single or multiple selection. Every
// change of a row's state, by the user or by the program, sends the
// cancellable LVN_ITEMCHANGING and then LVN_ITEMCHANGED to the parent
// (reflected to this control's object first). Rows are a fixed 16 pixels
// high below a 20-pixel header.
class CListCtrl : public CWnd {
public:
    static constexpr int kHeaderHeight = 20;
    static constexpr int kRowHeight = 16;

    int InsertColumn(int column, LPCWSTR heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
    BOOL DeleteColumn(int column);
    int GetColumnWidth(int column) const;
    BOOL SetColumnWidth(int column, int width);
    CHeaderCtrl* GetHeaderCtrl() const;
    DWORD SetExtendedStyle(DWORD style);
    DWORD GetExtendedStyle() const;

    int InsertItem(int item, LPCWSTR text);
    int InsertItem(const LVITEMW* item);
    int InsertItem(UINT mask, int item, LPCWSTR text, UINT state, UINT stateMask, int image, LPARAM data);
    BOOL SetItemText(int item, int subItem, LPCWSTR text);
    CString GetItemText(int item, int subItem) const;
    BOOL SetItemData(int item, DWORD_PTR data);
    DWORD_PTR GetItemData(int item) const;
    BOOL DeleteItem(int item);
    BOOL DeleteAllItems();
    int GetItemCount() const;

    // False when a handler of LVN_ITEMCHANGING refused the change.
    BOOL SetItemState(int item, UINT state, UINT mask);
    UINT GetItemState(int item, UINT mask) const;
    int GetNextItem(int item, int flags) const;
    UINT GetSelectedCount() const;
    POSITION GetFirstSelectedItemPosition() const;
    int GetNextSelectedItem(POSITION& position) const;

    // Client coordinates.
    int HitTest(POINT point, UINT* flags = nullptr) const;
    int HitTest(LVHITTESTINFO* info) const;
    BOOL GetItemRect(int item, LPRECT rect, UINT code) const;
    BOOL EnsureVisible(int item, BOOL partialOk);
    int GetTopIndex() const;
    int GetCountPerPage() const;
};

// Four fields of 0 to 255; its window text is the dotted address, a blank
// field reading as 0.
class CIPAddressCtrl : public CWnd {
public:
    // The number of fields that are not blank.
    int GetAddress(BYTE& a, BYTE& b, BYTE& c, BYTE& d) const;
    int GetAddress(DWORD& address) const;
    void SetAddress(BYTE a, BYTE b, BYTE c, BYTE d);
    void SetAddress(DWORD address);
    void ClearAddress();
    BOOL IsBlank() const;
};
