#pragma once
// For tests: collects every record sent through any logger while it lives.

#include <codesite/Record.h>

#include <QList>

#include <mutex>

class TCodeSiteCapture {
public:
    TCodeSiteCapture();
    ~TCodeSiteCapture();
    TCodeSiteCapture(const TCodeSiteCapture&) = delete;
    TCodeSiteCapture& operator=(const TCodeSiteCapture&) = delete;

    QList<TCodeSiteRecord> Records() const;
    QList<TCodeSiteRecord> RecordsOf(const TCodeSiteLogger* ALogger) const;
    QList<TCodeSiteRecord> RecordsOf(const QString& ACategory) const;
    void Clear();

    // How many TCodeSiteLogger objects exist right now (the global logger included).
    static int LiveLoggerCount();

private:
    friend class TCodeSiteDispatcher;
    void Add(const TCodeSiteRecord& ARecord);

    mutable std::mutex FLock;
    QList<TCodeSiteRecord> FRecords;
};
