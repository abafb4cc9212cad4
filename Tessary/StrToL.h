// Number parsing shared by everything that reads numbers from documents and
// device answers. The integer form behaves like the 32-bit strtol the
// protocol was designed around (long is 64-bit here); the float form reads
// like strtod in the "C" locale whatever the process locale is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Tessary {

// Reads an integer as 32-bit strtol(text, &end, base) does: leading white
// space, an optional sign, then digits of the base. Base 0 picks "0x"/"0X"
// hexadecimal, a leading "0" octal, or decimal; base 16 also skips an
// optional "0x". Values beyond the 32-bit range saturate at INT32_MIN or
// INT32_MAX. Reading stops at the first character that is not a digit, and
// at the end of the view. When no digit could be read the result is 0 and
// *consumed is 0; otherwise *consumed is the count of characters used.
std::int32_t StrToL(std::string_view text, std::size_t* consumed = nullptr, int base = 0);

// Reads a floating-point number as strtod does in the "C" locale (decimal
// point '.', exponents, "inf", "nan", hexadecimal floats). *consumed is 0
// when no number could be read, and the result is then 0.
double StrToD(std::string_view text, std::size_t* consumed = nullptr);

}  // namespace Tessary
