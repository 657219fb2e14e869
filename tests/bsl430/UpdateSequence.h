#pragma once
// The flashing service's whole update sequence through the BSL library, step by step, for
// every test that drives a (simulated) analyzer with it, whatever lies under the library.

#include "BslApi.h"
#include "TestData.h"

#include <QString>

#include <cstdint>
#include <functional>

constexpr const char* kDevice = "VID=0x2047,PID=0x200,DEVICEINDEX=0";

inline std::uint16_t crc16(const std::uint8_t* AData, std::size_t ALength) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < ALength; ++i) {
        std::uint16_t x = static_cast<std::uint8_t>((crc >> 8) ^ AData[i]);
        x ^= x >> 4;
        crc = static_cast<std::uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
    }
    return crc;
}

// The binding's reformatting of the library's version text.
inline QString bindingVersion(const char* AText) {
    const QString t = QString::fromLatin1(AText ? AText : "");
    return "00." + t.mid(16, 2) + "." + t.mid(25, 2) + "." + t.mid(33, 2);
}

// The first failure of an update run: the step and the answer it got ("" when none).
struct Run {
    QString failedAt;
    quint32 answer = 0;
};

// Whether a refused file password falls back to the default one, as the service does.
enum class PasswordFallback { No, Yes };

// The service's sequence, stopping at the first answer it would not accept. ABeforeStep
// hears each step's name before the step runs. With the fallback, a refused file password
// (the device has mass-erased itself) is followed by the default password, which the reopened
// RAM BSL gets too, and the erase pass is left out.
inline Run runUpdate(BslApi& bsl, const ImageSet& ASet,
                     const std::function<void(const QString&)>& ABeforeStep = {},
                     PasswordFallback AFallback = PasswordFallback::No) {
    QString step;
    auto at = [&](const char* AStep) {
        step = AStep;
        if (ABeforeStep) ABeforeStep(step);
    };
    auto failed = [&](quint32 AAnswer) { return Run{step, AAnswer}; };
    const QByteArray passText = ASet.read("Pass");
    const QByteArray image = ASet.path("BinVorel").toUtf8();

    at("open");
    bsl.BSL_setFamily(3);
    bsl.BSL_setCom(2);
    if (auto a = bsl.BSL_initialize_BSL(kDevice)) return failed(a);
    at("password");
    const DataBlock pass = bsl.BSL_readTI_Text(passText.constData(), 32);
    if (pass.numberOfBytes != 32 || pass.startAddr != 0xFFE0) return failed(0xBAD);
    const DataBlock defaultPass = bsl.BSL_getDefaultPass();
    bool massErased = false;
    if (auto a = bsl.BSL_RX_Password(pass)) {
        if (AFallback == PasswordFallback::No) return failed(a);
        massErased = true;
        at("default password");
        if (auto b = bsl.BSL_RX_Password(defaultPass)) return failed(b);
    }
    at("ram bsl");
    if (auto a = bsl.BSL_RX_TXT(ASet.read("RAM_BSL").constData(), 1)) return failed(a);
    at("load pc");
    if (auto a = bsl.BSL_LoadPC(0x2504)) return failed(a);
    at("close");
    if (auto a = bsl.BSL_close_BSL()) return failed(a);
    at("reopen");
    if (auto a = bsl.BSL_initialize_BSL(kDevice)) return failed(a);
    at("ram password");
    if (auto a = bsl.BSL_RX_Password(massErased ? defaultPass : pass)) return failed(a);
    at("version");
    if (bindingVersion(bsl.BSL_TX_BSL_Version_String()) != "00.07.08.38") return failed(0);
    at("reset vector");
    if (auto a = bsl.BSL_eraseSegment(0xFFFF)) return failed(a);

    if (!massErased) {
        at("erase");
        if (bsl.BSL_openTI_TextForRead(image.constData()) != 0) return failed(0xBAD);
        while (bsl.BSL_moreDataToRead_TextFile() == 1) {
            const DataBlock b = bsl.BSL_readTI_TextFile(512);
            if (b.numberOfBytes == 0 || b.numberOfBytes > 512) return failed(0xBAD);
            if (auto a = bsl.BSL_eraseSegment(b.startAddr)) return failed(a);
        }
        bsl.BSL_closeTI_Text();
    }

    at("send");
    if (auto a = bsl.BSL_RX_TXT_File(image.constData(), 1)) return failed(a);

    at("verify");
    if (bsl.BSL_openTI_TextForRead(image.constData()) != 0) return failed(0xBAD);
    while (bsl.BSL_moreDataToRead_TextFile() != 0) {
        const DataBlock b = bsl.BSL_readTI_TextFile(5000);
        if (b.numberOfBytes == 0 || b.numberOfBytes > 5000) return failed(0xBAD);
        // A failure leaves the reading open (cleanup closes it) and its diagnostic in place.
        if (auto a = bsl.BSL_CRC_Check(b.startAddr, b.numberOfBytes)) return failed(a);
        const dataBuffer rx = bsl.BSL_get_RX_Buffer();
        if (rx.data[0] != 0x3A || (rx.data[1] | rx.data[2] << 8) != crc16(b.data, b.numberOfBytes))
            return failed(0);
    }
    bsl.BSL_closeTI_Text();

    at("reset");
    if (auto a = bsl.BSL_RX_TXT(ASet.read("ForcedBOR").constData(), 1)) return failed(a);
    return Run{};
}
