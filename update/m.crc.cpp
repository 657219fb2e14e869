#include "m.crc.h"

void CrcInit(quint16& ACrc, quint16 AValue)
{
    ACrc = AValue;
}

// One byte folded in with shifts and xors; equivalent to eight polynomial steps.
void CrcUpdate(quint16& ACrc, quint8 AByte)
{
    unsigned x = ((unsigned(ACrc) >> 8) ^ AByte) & 0xFFu;
    x ^= x >> 4;
    ACrc = quint16((unsigned(ACrc) << 8) ^ (x << 12) ^ (x << 5) ^ x);
}
