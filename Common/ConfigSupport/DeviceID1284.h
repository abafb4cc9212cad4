// The IEEE 1284 device id a printer reports: "KEY:value;" fields, of which
// manufacturer and model are required. The text comes from the device, so
// the parser never trusts its shape: any byte sequence is read safely.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class DeviceID1284 {
public:
    enum Key { MFG, MDL, CMD, CLS, DES, VER, PHD, CCP, PUR, TSZ, CSZ, PRB, CID, BRC, KeyCount };

    // Values longer than this are cut.
    static constexpr std::size_t kMaxValueLength = 255;

    DeviceID1284() = default;
    DeviceID1284(const DeviceID1284&) = delete;
    DeviceID1284& operator=(const DeviceID1284&) = delete;

    // Reads the fields of a zero-terminated id. False (and nothing kept)
    // when id is null or "MFG:" or "MDL:" is missing; a later Parse replaces
    // everything an earlier one read.
    bool Parse(const char* id);
    bool IsParsed() const { return parsed; }

    // Copy the value with its terminating zero into buffer. False, and the
    // buffer untouched, when not parsed, buffer is null, the value is absent
    // or it needs more than size bytes.
    bool GetManufacturer(char* buffer, unsigned size) const;
    bool GetModel(char* buffer, unsigned size) const;
    bool GetVersion(char* buffer, unsigned size) const;

    // The value of a key, or null when the id has none (or was not parsed).
    const std::string* Field(Key key) const;

    // The value after the first occurrence of key ("MDL:") anywhere in id,
    // up to the next ';' or the end, cut at kMaxValueLength bytes, blanks
    // collapsed. False when id or key is null or key does not occur.
    static bool ExtractField(const char* id, const char* key, std::optional<std::string>& out);

    // Drops leading and trailing blanks and reduces each inner run of blanks
    // to one. Only ' ' counts as a blank.
    static std::string& CollapseSpaces(std::string& text);

    static const char* KeyName(Key key);

private:
    bool CopyField(Key key, char* buffer, unsigned size) const;
    void Clear();

    bool parsed = false;
    std::array<std::optional<std::string>, KeyCount> fields;
};
