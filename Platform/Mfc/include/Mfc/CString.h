// The dialogs' string: UTF-16 text with the operations the system's code
// uses, and printf-style Format. Positions and lengths count UTF-16 units.
#pragma once

#include "Platform/Win32.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class CString;

namespace Mfc {

// One argument of CString::Format, remembering what it was so that a
// conversion that does not fit its argument is refused instead of reading
// garbage.
struct FormatArg {
    enum class Kind { Signed, Unsigned, Float, Wide, Narrow, Pointer, Char };
    Kind kind;
    std::uint64_t bits = 0;  // integers: the value; its width in `size` bytes
    int size = 0;
    double real = 0;
    std::u16string_view wide;
    const char* narrow = nullptr;  // UTF-8
    bool null = false;             // a null string pointer
    const void* pointer = nullptr;

    FormatArg(const CString& text);
    FormatArg(const std::u16string& text) : kind(Kind::Wide), wide(text) {}
    FormatArg(std::u16string_view text) : kind(Kind::Wide), wide(text) {}
    FormatArg(const char16_t* text) : kind(Kind::Wide), wide(text ? text : u""), null(text == nullptr) {}
    FormatArg(char16_t* text) : FormatArg(static_cast<const char16_t*>(text)) {}
    FormatArg(const char* text) : kind(Kind::Narrow), narrow(text ? text : ""), null(text == nullptr) {}
    FormatArg(char* text) : FormatArg(static_cast<const char*>(text)) {}
    FormatArg(const std::string& text) : kind(Kind::Narrow), narrow(text.c_str()) {}
    FormatArg(char16_t unit) : kind(Kind::Char), bits(unit), size(2) {}
    FormatArg(char c) : kind(Kind::Char), bits(static_cast<unsigned char>(c)), size(1) {}
    FormatArg(std::nullptr_t) : kind(Kind::Pointer) {}
    template <class T>
    requires(std::is_integral_v<T> || std::is_enum_v<T>) FormatArg(T value)
        : kind(std::is_signed_v<T> ? Kind::Signed : Kind::Unsigned), size(sizeof(T)) {
        bits = static_cast<std::uint64_t>(
            static_cast<std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>>(value));
    }
    template <class T>
    requires std::is_floating_point_v<T> FormatArg(T value) : kind(Kind::Float), real(static_cast<double>(value)) {}
    template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, char> && !std::is_same_v<std::remove_cv_t<T>, char16_t>)
        FormatArg(T* value)
        : kind(Kind::Pointer), pointer(value) {}
};

// printf-style formatting into UTF-16: flags - + space # 0, width and
// precision (also as *), length modifiers h hh l ll I64 z are accepted;
// conversions d i u x X o c s S f e E g G p %. %s and %S take any string
// (wide, or narrow UTF-8). An argument of the wrong kind, a missing argument
// or %n throws std::invalid_argument.
std::u16string FormatText(std::u16string_view format, const std::vector<FormatArg>& args);

}  // namespace Mfc

class CString {
public:
    CString() = default;
    CString(const char16_t* text) : text_(text ? text : u"") {}
    CString(const char16_t* text, int length) : text_(text, text ? static_cast<std::size_t>(length) : 0) {}
    CString(std::u16string text) : text_(std::move(text)) {}
    CString(std::u16string_view text) : text_(text) {}
    CString(char16_t unit, int repeat = 1) : text_(static_cast<std::size_t>(repeat < 0 ? 0 : repeat), unit) {}
    // From UTF-8 (the machine's narrow text); invalid bytes become U+FFFD.
    explicit CString(const char* utf8);

    int GetLength() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    void Empty() { text_.clear(); }
    operator LPCWSTR() const { return text_.c_str(); }
    LPCWSTR GetString() const { return text_.c_str(); }
    const std::u16string& str() const { return text_; }
    char16_t GetAt(int index) const { return text_.at(static_cast<std::size_t>(index)); }
    char16_t operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char16_t unit) { text_.at(static_cast<std::size_t>(index)) = unit; }

    CString& operator+=(const CString& other) {
        text_ += other.text_;
        return *this;
    }
    CString& operator+=(const char16_t* other) {
        if (other) text_ += other;
        return *this;
    }
    CString& operator+=(char16_t unit) {
        text_ += unit;
        return *this;
    }
    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend CString operator+(CString a, const char16_t* b) { return a += b; }
    friend CString operator+(const char16_t* a, const CString& b) { return CString(a) += b; }
    friend CString operator+(CString a, char16_t b) { return a += b; }

    friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
    friend bool operator==(const CString& a, const char16_t* b) { return a.text_ == (b ? b : u""); }
    friend auto operator<=>(const CString& a, const CString& b) { return a.text_ <=> b.text_; }

    // Exact comparison of units: <0, 0, >0.
    int Compare(const char16_t* other) const;
    // Comparison ignoring letter case (simple Unicode case folding of the
    // basic multilingual plane).
    int CompareNoCase(const char16_t* other) const;

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first, int count = -1) const;
    int Find(char16_t unit, int start = 0) const;
    int Find(const char16_t* text, int start = 0) const;
    int ReverseFind(char16_t unit) const;
    CString& MakeUpper();
    CString& MakeLower();
    CString& Trim();
    CString& TrimLeft();
    CString& TrimRight();
    int Replace(const char16_t* from, const char16_t* to);
    int Insert(int index, const char16_t* text);
    int Delete(int index, int count = 1);

    // A writable buffer of at least `minLength` units plus a terminator;
    // ReleaseBuffer takes the text up to the first zero (or `length` units).
    LPWSTR GetBuffer(int minLength = 0);
    void ReleaseBuffer(int length = -1);

    // The string `id` of the current resource module (AfxGetResourceHandle);
    // false, leaving the text empty, when there is none.
    BOOL LoadString(UINT id);

    template <class... Args>
    void Format(const char16_t* format, const Args&... args) {
        text_ = Mfc::FormatText(format ? format : u"", {Mfc::FormatArg(args)...});
    }
    // The format is the string `formatId` of the current resource module.
    template <class... Args>
    void Format(UINT formatId, const Args&... args) {
        CString format;
        format.LoadString(formatId);
        text_ = Mfc::FormatText(format.text_, {Mfc::FormatArg(args)...});
    }
    template <class... Args>
    void AppendFormat(const char16_t* format, const Args&... args) {
        text_ += Mfc::FormatText(format ? format : u"", {Mfc::FormatArg(args)...});
    }

private:
    std::u16string text_;
    std::vector<char16_t> buffer_;  // between GetBuffer and ReleaseBuffer
};

inline Mfc::FormatArg::FormatArg(const CString& text) : kind(Kind::Wide), wide(text.str()) {}
