#include "mCodeSite.h"

#include <rtl/SysUtils.h>

#include <memory>
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

TLoggerDictionary& Dictionary()
{
    TCodeSiteLoggerFactory::ClassCreate();
    return *FLoggers;
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
    auto logger = std::make_unique<TCodeSiteLogger>();
    logger->SetCategory(ACategory);
    TCodeSiteLogger* result = logger.get();
    TLoggerDictionary& loggers = Dictionary();
    std::unique_ptr<TCodeSiteLogger>& slot = loggers.Items[ACategory];
    if (slot)
        loggers.Retired.push_back(std::move(slot));
    slot = std::move(logger);
    return result;
}

TCodeSiteLogger* TCodeSiteLoggerFactory::CreateCodeSiteLogger(const QString& ACategory, TColor ABgColor,
                                                              TColor AFontColor)
{
    const TLoggerDictionary& loggers = Dictionary();
    QString key = ACategory;
    for (int n = 1; loggers.Items.contains(key); ++n)
        key = Format(QStringLiteral("%s[%d]"), {ACategory, n});
    TCodeSiteLogger* logger = CreateCodeSiteLogger(key);
    logger->SetCategoryColor(ABgColor);
    logger->SetCategoryFontColor(AFontColor);
    return logger;
}

TCodeSiteLogger* TCodeSiteLoggerFactory::CreateOrSelectLogger(const QString& ACategory, TColor ABgColor,
                                                              TColor AFontColor)
{
    const TLoggerDictionary& loggers = Dictionary();
    const auto found = loggers.Items.find(ACategory);
    if (found != loggers.Items.end())
        return found->second.get();
    return CreateCodeSiteLogger(ACategory, ABgColor, AFontColor);
}

TCodeSiteLogger* TCodeSiteLoggerFactory::GetLoggers(const QString& Category)
{
    if (FLoggers) {
        const auto found = FLoggers->Items.find(Category);
        if (found != FLoggers->Items.end())
            return found->second.get();
    }
    throw EListError(RtlConsts::SGenericItemNotFound);
}

void TCodeSiteLoggerFactory::ClassCreate()
{
    if (!FLoggers)
        FLoggers = new TLoggerDictionary;
}

void TCodeSiteLoggerFactory::ClassDestroy()
{
    if (!FLoggers)
        return;
    // Clear the class variable first, so nothing finds a dictionary that is being freed.
    TLoggerDictionary* loggers = FLoggers;
    FLoggers = nullptr;
    delete loggers;
}

bool TCodeSiteLoggerFactory::HasLoggers()
{
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
