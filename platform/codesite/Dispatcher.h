#pragma once
// Inside the logging platform: where every logger's records go (standard error, the log
// file and the test captures), one record at a time.

#include <codesite/Record.h>

#include <QByteArray>

#include <mutex>
#include <vector>

class TCodeSiteCapture;
class TCodeSiteLogger;

// The log file under the user's state folder, kept to two files of about MaxSize each.
class TCodeSiteFileSink {
public:
    static constexpr qint64 MaxSize = 1024 * 1024;

    TCodeSiteFileSink() = default;
    ~TCodeSiteFileSink();
    TCodeSiteFileSink(const TCodeSiteFileSink&) = delete;
    TCodeSiteFileSink& operator=(const TCodeSiteFileSink&) = delete;

    void Write(const QByteArray& ALine);

private:
    bool Open();
    void Rotate();

    bool FTried = false;
    int FFd = -1;
    qint64 FSize = 0;
    QByteArray FPath;
};

class TCodeSiteDispatcher {
public:
    static TCodeSiteDispatcher& Instance();

    // Snapshot of the logger's category and colours plus time and thread; never throws.
    static void Send(const TCodeSiteLogger& ALogger, TCodeSiteMsgKind AKind, const QString& AText,
                     const QVariant& AValue = QVariant());

    void AddCapture(TCodeSiteCapture* ACapture);
    void RemoveCapture(TCodeSiteCapture* ACapture);

private:
    TCodeSiteDispatcher() = default;
    void Dispatch(const TCodeSiteRecord& ARecord);
    // False when standard error took nothing of the line.
    bool WriteStdErr(const QByteArray& ALine);

    std::mutex FLock;
    std::vector<TCodeSiteCapture*> FCaptures;
    TCodeSiteFileSink FFile;
    bool FStdErrChecked = false;
    bool FStdErrColour = false;
    bool FStdErrJournal = false;
    bool FStdErrBroken = false;
    qint64 FStdErrDropped = 0;
};
