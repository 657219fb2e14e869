#pragma once
// The program's resources: files the build embeds into the executable's own read-only memory
// (cmake/Package.cmake, add_update_package), found by name without regard to case.

#include <QByteArrayView>
#include <QString>

#include <span>

// A resource as the executable carries it. The table is written by the build for each
// executable that carries resources.
struct TResourceEntry {
    const char* Name;
    const unsigned char* Data;
    const unsigned long long* Size;
};
extern const std::span<const TResourceEntry> cResourceTable;

// One resource, seen in place: no copy is made, and the bytes live as long as the program.
class TResourceStream {
public:
    // EResNotFound "Resource %s not found" (the name as given) when there is no such resource.
    explicit TResourceStream(const QString& AResName);

    const char* Memory() const { return FMemory; }
    qint64 Size() const { return FSize; }
    QByteArrayView Bytes() const { return QByteArrayView(FMemory, FSize); }

private:
    const char* FMemory = nullptr;
    qint64 FSize = 0;
};
