#include "mCodeSite.h"

#include <rtl/SysUtils.h>

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// FLoggers: category -> logger, owning the loggers. Retired holds loggers that a later
// one-argument CreateCodeSiteLogger displaced from their category: someone may still hold
// them, so they live until the dictionary goes.
struct TLoggerDictionary {
    std::unordered_map<QString, std::unique_ptr<TCodeSiteLogger>> Items;
    std::vector<std::unique_ptr<TCodeSiteLogger>> Retired;
};

TLoggerDictionary* FLoggers = nullptr;
// Set by finalisation: a logger asked for afterwards is the global one, so a late caller
// neither finds a freed dictionary nor makes a new one that nobody frees.
bool FFinalized = false;

// Pool workers create loggers too; recursive because the coloured create calls the plain one.
std::recursive_mutex& FactoryLock()
{
    static std::recursive_mutex* lock = new std::recursive_mutex;  // outlives static teardown
    return *lock;
}

// The dictionary, made on first use; null after finalisation.
TLoggerDictionary* Dictionary()
{
    if (!FLoggers && !FFinalized)
        FLoggers = new TLoggerDictionary;
    return FLoggers;
}

}  // namespace

TCodeSiteLogger* TCodeSiteLogObject::GetLog() const
{
    return FLogger ? FLogger : CodeSite();
}

void TCodeSiteLogObject::SetLog(TCodeSiteLogger* AValue)
{
    FLogger = AValue;
}

TCodeSiteLogger* TCodeSiteLogThread::GetLog() const
{
    return FLogger ? FLogger : CodeSite();
}

void TCodeSiteLogThread::SetLog(TCodeSiteLogger* AValue)
{
    FLogger = AValue;
}

TCodeSiteLogger* TCodeSiteLogDataModule::GetLog() const
{
    return FLogger ? FLogger : CodeSite();
}

void TCodeSiteLogDataModule::SetLog(TCodeSiteLogger* AValue)
{
    FLogger = AValue;
}

TCodeSiteLogger* TCodeSiteLoggerFactory::CreateCodeSiteLogger(const QString& ACategory)
{
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    TLoggerDictionary* loggers = Dictionary();
    if (!loggers)
        return CodeSite();
    auto logger = std::make_unique<TCodeSiteLogger>();
    logger->SetCategory(ACategory);
    TCodeSiteLogger* result = logger.get();
    std::unique_ptr<TCodeSiteLogger>& slot = loggers->Items[ACategory];
    if (slot)
        loggers->Retired.push_back(std::move(slot));
    slot = std::move(logger);
    return result;
}

TCodeSiteLogger* TCodeSiteLoggerFactory::CreateCodeSiteLogger(const QString& ACategory, TColor ABgColor,
                                                              TColor AFontColor)
{
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    const TLoggerDictionary* loggers = Dictionary();
    if (!loggers)
        return CodeSite();
    QString key = ACategory;
    for (int n = 1; loggers->Items.contains(key); ++n)
        key = Format(QStringLiteral("%s[%d]"), {ACategory, n});
    TCodeSiteLogger* logger = CreateCodeSiteLogger(key);
    logger->SetCategoryColor(ABgColor);
    logger->SetCategoryFontColor(AFontColor);
    return logger;
}

TCodeSiteLogger* TCodeSiteLoggerFactory::CreateOrSelectLogger(const QString& ACategory, TColor ABgColor,
                                                              TColor AFontColor)
{
    // One lock over the look-up and the create: threads asking at once share one logger.
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    const TLoggerDictionary* loggers = Dictionary();
    if (!loggers)
        return CodeSite();
    const auto found = loggers->Items.find(ACategory);
    if (found != loggers->Items.end())
        return found->second.get();
    return CreateCodeSiteLogger(ACategory, ABgColor, AFontColor);
}

TCodeSiteLogger* TCodeSiteLoggerFactory::GetLoggers(const QString& Category)
{
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    if (FLoggers) {
        const auto found = FLoggers->Items.find(Category);
        if (found != FLoggers->Items.end())
            return found->second.get();
    }
    throw EListError(RtlConsts::SGenericItemNotFound);
}

void TCodeSiteLoggerFactory::ClassCreate()
{
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    FFinalized = false;
    if (!FLoggers)
        FLoggers = new TLoggerDictionary;
}

void TCodeSiteLoggerFactory::ClassDestroy()
{
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    FFinalized = true;
    if (!FLoggers)
        return;
    // Clear the class variable first, so nothing finds a dictionary that is being freed.
    TLoggerDictionary* loggers = FLoggers;
    FLoggers = nullptr;
    delete loggers;
}

bool TCodeSiteLoggerFactory::HasLoggers()
{
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    return FLoggers != nullptr;
}

namespace mCodeSite {

void Initialization()
{
    TCodeSiteLoggerFactory::ClassCreate();
}

void Finalization()
{
    TCodeSiteLoggerFactory::ClassDestroy();
}

}  // namespace mCodeSite
