#pragma once
// CRC-16 of the boot loader's CRC check (CCITT polynomial 0x1021, MSB first, no reflection,
// no final xor). The caller owns the running value: CrcInit once, then CrcUpdate per byte.

#include <QtGlobal>

void CrcInit(quint16& ACrc, quint16 AValue);
void CrcUpdate(quint16& ACrc, quint8 AByte);
