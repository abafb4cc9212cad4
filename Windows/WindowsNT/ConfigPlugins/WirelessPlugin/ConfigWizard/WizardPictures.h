// The wizard's animations as GIF files, drawn at build time by
// tools/WizardPictures.cpp.
#pragma once

#include <cstdint>
#include <span>

// Resource 110: while the printer scans for networks.
std::span<const std::uint8_t> ScanningAnimation();
// Resource 111: while the computer searches for the printer.
std::span<const std::uint8_t> SearchingAnimation();
