#pragma once
#include <cstdint>

// The toolkit's colour word: lowest byte red, then green, then blue, top byte 0.
using TColor = std::uint32_t;
