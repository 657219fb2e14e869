#pragma once
// The BSL library's two records, as the test stand-ins for the library lay them out.

#include <cstdint>

struct Block {
    uint8_t data[10240];
    uint32_t numberOfBytes;
    uint32_t startAddr;
};
static_assert(sizeof(Block) == 10248);

struct Buffer {
    uint32_t size;
    uint8_t data[256];
};
static_assert(sizeof(Buffer) == 260);
