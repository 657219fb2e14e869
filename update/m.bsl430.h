#pragma once
// Binding to the BSL library (BSL430.dll): one class operation per bound export. Every call
// looks its export up by name in the loaded library, converts the texts to the system's code
// page, calls it and hands the answer back in ARet. The library's own diagnostics go to the
// "BSL" logger through its report callback, set before every call where the library has it. A missing export is the only failure the
// binding itself reports (False, AErMsg, an error on the "BSL" logger; ARet untouched), apart
// from the two answers initialize_BSL and openTI_TextForRead judge. Everything else the
// device or the library answers goes back to the caller to judge.

#include <QString>
#include <QtGlobal>

#include <cstddef>

class TCodeSiteLogger;

// Unit start-up and shut-down: the class logger reference starts empty and is dropped at the
// end (the logger factory frees the logger itself).
namespace m_bsl430 {
void Initialization();
void Finalization();
}  // namespace m_bsl430

// The library's records, byte for byte (little-endian, no gaps).

// One block of target memory: numberOfBytes consecutive bytes from startAddr.
struct DataBlock {
    quint8 data[10240];
    quint32 numberOfBytes;
    quint32 startAddr;
};
static_assert(sizeof(DataBlock) == 10248);
static_assert(offsetof(DataBlock, numberOfBytes) == 10240);
static_assert(offsetof(DataBlock, startAddr) == 10244);

// The boot loader's last answer.
struct dataBuffer {
    quint32 size;
    quint8 data[256];
};
static_assert(sizeof(dataBuffer) == 260);
static_assert(offsetof(dataBuffer, data) == 4);

class BSL {
public:
    BSL() = delete;

    static bool close_BSL(qint32 AHandle, quint8& ARet, QString& AErMsg);
    // False when the library answers 1 (no device found).
    static bool initialize_BSL(qint32 AHandle, const QString& ACom, QString& AErMsg);
    // ARet becomes "00.CI.API.PI" from the library's "Vendor:[xx],CI:[xx],API:[xx],PI:[xx]".
    static bool TX_BSL_Version_String(qint32 AHandle, QString& ARet, QString& AErMsg);
    static bool TX_BufferSize(qint32 AHandle, quint32& ARet, QString& AErMsg);
    static bool TX_TXT_File(qint32 AHandle, const QString& AFileName, quint32 AAddr, quint32 ALength,
                            quint32& ARet, QString& AErMsg);
    static bool RX_TXT_File(qint32 AHandle, const QString& AFileName, quint8 AFast, quint32& ARet,
                            QString& AErMsg);
    static bool RX_TXT(qint32 AHandle, const QString& ADataArray, quint8 AFast, quint32& ARet, QString& AErMsg);
    static bool setFamily(qint32 AHandle, quint32 AFamily, QString& AErMsg);
    static bool setCom(qint32 AHandle, quint32 ACom, QString& AErMsg);
    static bool RegisterUSBDeviceNotification(qint32 AHandle, void* AHwnd, quint8& ARet, QString& AErMsg);
    static bool UnRegisterUSBDeviceNotification(qint32 AHandle, quint8& ARet, QString& AErMsg);
    static bool get_RX_Buffer(qint32 AHandle, dataBuffer& ARet, QString& AErMsg);
    static bool eraseCheck(qint32 AHandle, quint32 AAddr, quint32 ALength, quint8& ARet, QString& AErMsg);
    static bool LoadPC(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg);
    static bool setMemOffset(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg);
    static bool CRC_Check(qint32 AHandle, quint32 AAddr, quint32 ALength, quint8& ARet, QString& AErMsg);
    static bool massErase(qint32 AHandle, quint8& ARet, QString& AErMsg);
    static bool eraseSegment(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg);
    static bool eraseMainOrInfo(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg);
    // Takes its own copy and passes the whole block by value.
    static bool RX_Password(qint32 AHandle, DataBlock data, quint8& ARet, QString& AErMsg);
    static bool readTI_TextFile(qint32 AHandle, qint32 bytesToRead, DataBlock& ARet, QString& AErMsg);
    // The library's answer (1 while blocks are left); 0 when the export is missing.
    static qint32 moreDataToRead_TextFile(qint32 AHandle, QString& AErMsg);
    static bool closeTI_Text(qint32 AHandle, QString& AErMsg);
    // False when the library answers -2 (the file cannot be opened).
    static bool openTI_TextForRead(qint32 AHandle, const QString& AFilename, QString& AErMsg);
    static bool readTI_Text(qint32 AHandle, const QString& dataArray, qint32 bytesToRead, DataBlock& ARet,
                            QString& AErMsg);
    static bool getDefaultPass(qint32 AHandle, DataBlock& ARet, QString& AErMsg);

    // True when a byte answer is the boot loader's own (0 or one of its messages), False when
    // it is one of the library's codes (0xF1 and above): the exchange failed (no answer, the
    // device lost, not a BSL report) or the call was refused before anything was sent. Only
    // the boot loader's own answer tells what the device did.
    static bool IsDeviceAnswer(quint8 ARet);
    // The library's diagnostic of its last failed call (BSL_getLastError, UTF-8). Not an
    // export of every library: one without it gives an empty text and no error record.
    static QString getLastError(qint32 AHandle);

private:
    friend void m_bsl430::Initialization();
    friend void m_bsl430::Finalization();

    // Looks the export (signature TSig) up and lets AUse call it; a missing export is
    // reported and AUse not run.
    template <class TSig, class TUse>
    static bool Call(qint32 AHandle, const char* AExportName, QString& AErMsg, TUse&& AUse);
    // The class logger, made on first need and kept for the rest of the run.
    static TCodeSiteLogger* Log();
    // Where the library's own diagnostics go (its report callback): the class logger.
    static void Report(const char* AText, void* AContext);

    static TCodeSiteLogger* FLog;
};
