// How the printer description document writes its values. Every reader of
// the document (and of its sibling documents) reads numbers through these,
// so that a value means the same everywhere whatever the process locale.
#pragma once

#include <string_view>

#include "PrinterConfig.h"

namespace PrinterDescription {

// Integer as 32-bit strtol with base 0 reads it: leading white space, sign,
// decimal, "0x" hexadecimal or leading-"0" octal; what follows the number is
// ignored. False (value 0) when no digit could be read.
bool ParseIntegerA(std::string_view text, int& value);

// Integer as formatted decimal extraction reads it: white space, sign,
// decimal digits; what follows is ignored ("0x10" reads as 0). False (value
// 0) when no number was extracted, also when it does not fit 32 bits.
bool ParseIntegerB(std::string_view text, int& value);

// Integer as ParseIntegerA, never rejected: text without a number is 0.
int ParseIntegerC(std::string_view text);

// Single-precision number in the "C" locale's syntax ("8.5" is 8.5 under
// any locale); leading white space skipped, what follows ignored. False
// (value 0) when no number could be read. Values beyond float's range read
// as infinity.
bool ParseFloatF(std::string_view text, float& value);

// Exactly "true" or "false".
bool ParseBoolean(std::string_view text, bool& value);

// "cmy-cmd-planar" 1, "jpeg" 2; anything else 0.
int OutputFormatCode(std::string_view text);
// "rendezvous" 1, "udp-mw" 2; anything else 0.
int DiscoveryProtocolCode(std::string_view text);

// The width and height slots of a size given in these units ("inches",
// "pixels" or "mm_tenths"); false for any other units.
bool SizeSlots(std::string_view units, PaperDimension& width, PaperDimension& height);

}  // namespace PrinterDescription
