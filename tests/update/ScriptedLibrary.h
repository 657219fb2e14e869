#pragma once
// The scripted stand-in library (libs/bsl_scripted.cpp) loaded through the platform loader,
// with its control exports at hand.

#include <m.bsl430.h>
#include <win/LibLoaderApi.h>

#include <QString>
#include <QStringList>

#include <cstdint>

class TScriptedLibrary {
public:
    explicit TScriptedLibrary(const QString& APath) : FModule(LoadLibraryW(APath))
    {
        if (!FModule)
            qFatal("cannot load %s: %s", qPrintable(APath), qPrintable(GetLastErrorText()));
        Control<void (*)()>("Script_Reset")();
    }
    ~TScriptedLibrary()
    {
        if (FModule)
            FreeLibrary(FModule);
    }
    TScriptedLibrary(const TScriptedLibrary&) = delete;
    TScriptedLibrary& operator=(const TScriptedLibrary&) = delete;

    qint32 Handle() const { return qint32(FModule); }
    // Unloads now (the handle goes stale).
    void Unload()
    {
        FreeLibrary(FModule);
        FModule = 0;
    }

    void Answer(const char* AExport, std::int64_t AValue)
    {
        Control<void (*)(const char*, std::int64_t)>("Script_Answer")(AExport, AValue);
    }
    void Block(const char* AExport, const DataBlock& ABlock)
    {
        Control<void (*)(const char*, const void*)>("Script_Block")(AExport, &ABlock);
    }
    void Buffer(const dataBuffer& ABuffer) { Control<void (*)(const void*)>("Script_Buffer")(&ABuffer); }
    void Version(const char* AText) { Control<void (*)(const char*)>("Script_Version")(AText); }
    void ThrowIn(const char* AExport) { Control<void (*)(const char*)>("Script_ThrowIn")(AExport); }
    QStringList Calls() const
    {
        return QString::fromUtf8(Control<const char* (*)()>("Script_Calls")()).split('\n', Qt::SkipEmptyParts);
    }
    DataBlock LastPassword() const
    {
        DataBlock block;
        Control<void (*)(void*)>("Script_LastPassword")(&block);
        return block;
    }

private:
    template <class T>
    T Control(const char* AName) const
    {
        FARPROC proc = GetProcAddress(FModule, AName);
        if (!proc)
            qFatal("no %s", AName);
        return reinterpret_cast<T>(proc);
    }

    HMODULE FModule;
};

// A block whose every byte (also past numberOfBytes) carries a pattern.
inline DataBlock PatternBlock(quint32 ANumberOfBytes, quint32 AStartAddr, quint8 ASeed)
{
    DataBlock block;
    for (std::size_t i = 0; i < sizeof block.data; ++i)
        block.data[i] = quint8(i * 7 + ASeed);
    block.numberOfBytes = ANumberOfBytes;
    block.startAddr = AStartAddr;
    return block;
}
