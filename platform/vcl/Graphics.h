#pragma once
#include <cstdint>

// The system's colour word: lowest byte red, then green, then blue, top byte 0.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clGray = 0x808080;
