#include "Capture.h"

#include "Dispatcher.h"

int CodeSiteLiveLoggerCount();

TCodeSiteCapture::TCodeSiteCapture()
{
    TCodeSiteDispatcher::Instance().AddCapture(this);
}

TCodeSiteCapture::~TCodeSiteCapture()
{
    TCodeSiteDispatcher::Instance().RemoveCapture(this);
}

void TCodeSiteCapture::Add(const TCodeSiteRecord& ARecord)
{
    std::lock_guard<std::mutex> guard(FLock);
    FRecords.append(ARecord);
}

QList<TCodeSiteRecord> TCodeSiteCapture::Records() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FRecords;
}

QList<TCodeSiteRecord> TCodeSiteCapture::RecordsOf(const TCodeSiteLogger* ALogger) const
{
    std::lock_guard<std::mutex> guard(FLock);
    QList<TCodeSiteRecord> result;
    for (const TCodeSiteRecord& record : FRecords)
        if (record.Logger == ALogger)
            result.append(record);
    return result;
}

QList<TCodeSiteRecord> TCodeSiteCapture::RecordsOf(const QString& ACategory) const
{
    std::lock_guard<std::mutex> guard(FLock);
    QList<TCodeSiteRecord> result;
    for (const TCodeSiteRecord& record : FRecords)
        if (record.Category == ACategory)
            result.append(record);
    return result;
}

void TCodeSiteCapture::Clear()
{
    std::lock_guard<std::mutex> guard(FLock);
    FRecords.clear();
}

int TCodeSiteCapture::LiveLoggerCount()
{
    return CodeSiteLiveLoggerCount();
}
