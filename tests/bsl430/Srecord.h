#pragma once
// srecord's reading of a TI-TXT file, the reference no one here wrote: srec_info for the
// address ranges, srec_cat -binary for the bytes.

#include <QBitArray>
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>

// A 20-bit memory image and which of its bytes an image gives.
struct MemoryMap {
    static constexpr int kSpace = 0x100000;
    QByteArray bytes = QByteArray(kSpace, '\0');
    QBitArray given = QBitArray(kSpace);
};

// Empty (nothing given) when srecord could not read the file.
inline MemoryMap srecordMap(const QString& APath, const QString& AWorkDir) {
    MemoryMap map;
    QProcess info;
    info.start(QStandardPaths::findExecutable("srec_info"), {APath, "-ti-txt"});
    if (!info.waitForFinished(60000) || info.exitCode() != 0) return map;
    const QString ranges = QString::fromLatin1(info.readAllStandardOutput());
    const QString bin = AWorkDir + "/srecord.bin";
    QFile::remove(bin);
    QProcess cat;
    cat.start(QStandardPaths::findExecutable("srec_cat"), {APath, "-ti-txt", "-o", bin, "-binary"});
    if (!cat.waitForFinished(60000) || cat.exitCode() != 0) return map;
    QFile f(bin);
    if (!f.open(QIODevice::ReadOnly)) return map;
    const QByteArray bytes = f.readAll();
    static const QRegularExpression range("([0-9A-Fa-f]+) - ([0-9A-Fa-f]+)");
    for (auto m = range.globalMatch(ranges); m.hasNext();) {
        const auto r = m.next();
        const int from = r.captured(1).toInt(nullptr, 16);
        const int to = r.captured(2).toInt(nullptr, 16);
        for (int a = from; a <= to && a < bytes.size() && a < MemoryMap::kSpace; ++a) {
            map.bytes[a] = bytes[a];
            map.given.setBit(a);
        }
    }
    return map;
}
