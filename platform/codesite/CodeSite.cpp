#include "CodeSite.h"

#include "Dispatcher.h"

#include <rtl/SysUtils.h>
#include <rtl/System.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace {

std::atomic<int> LiveLoggers{0};

QString ClassName(const TObject& AObject)
{
    const char* mangled = typeid(AObject).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    // The class's own name, without its namespaces (templates keep their full name).
    const qsizetype scope = name.lastIndexOf(QStringLiteral("::"));
    if (scope >= 0 && !name.contains(u'<'))
        name = name.mid(scope + 2);
    return name;
}

QString Formatted(const QString& AFormat, const QVariantList& AArgs)
{
    try {
        return Format(AFormat, AArgs);
    } catch (const Exception& e) {
        return AFormat + QStringLiteral(" (") + e.Message() + u')';
    }
}

}  // namespace

int CodeSiteLiveLoggerCount()
{
    return LiveLoggers;
}

TCodeSiteLogger::TCodeSiteLogger()
{
    ++LiveLoggers;
}

TCodeSiteLogger::~TCodeSiteLogger()
{
    --LiveLoggers;
}

QString TCodeSiteLogger::Category() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FCategory;
}

void TCodeSiteLogger::SetCategory(QString AValue)
{
    std::lock_guard<std::mutex> guard(FLock);
    FCategory = std::move(AValue);
}

TColor TCodeSiteLogger::CategoryColor() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FCategoryColor;
}

void TCodeSiteLogger::SetCategoryColor(TColor AValue)
{
    std::lock_guard<std::mutex> guard(FLock);
    FCategoryColor = AValue;
}

TColor TCodeSiteLogger::CategoryFontColor() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FCategoryFontColor;
}

void TCodeSiteLogger::SetCategoryFontColor(TColor AValue)
{
    std::lock_guard<std::mutex> guard(FLock);
    FCategoryFontColor = AValue;
}

void TCodeSiteLogger::EnterMethod(const QString& AMethodName)
{
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Enter, AMethodName);
}

void TCodeSiteLogger::ExitMethod(const QString& AMethodName)
{
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Exit, AMethodName);
}

void TCodeSiteLogger::ExitMethod(TObject* AObject, const QString& AMethodName, const QVariant& AValue)
{
    QString text = AMethodName;
    if (AObject)
        text = ClassName(*AObject) + u'.' + AMethodName;
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Exit, text, AValue);
}

void TCodeSiteLogger::SendValue(const QString& AMsg, const QString& AValue)
{
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Value, AMsg, AValue);
}

void TCodeSiteLogger::Send(const QString& AFormat, const QVariantList& AArgs)
{
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Message, Formatted(AFormat, AArgs));
}

void TCodeSiteLogger::SendError(const QString& AMsg)
{
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Error, AMsg);
}

void TCodeSiteLogger::SendError(const QString& AFormat, const QVariantList& AArgs)
{
    TCodeSiteDispatcher::Send(*this, TCodeSiteMsgKind::Error, Formatted(AFormat, AArgs));
}

TCodeSiteLogger* CodeSite()
{
    // Made on first use and never destroyed, so it outlives every unit.
    static TCodeSiteLogger* logger = new TCodeSiteLogger;
    return logger;
}

namespace {

void QtMessageToLog(QtMsgType AType, const QMessageLogContext& AContext, const QString& AMessage)
{
    // A Qt message raised while a record is on its way (the dispatcher's lock is held) would
    // wait for itself: it goes to standard error alone.
    thread_local bool sending = false;
    QString text = AMessage;
    if (AContext.category && std::strcmp(AContext.category, "default") != 0)
        text = QString::fromUtf8(AContext.category) + QStringLiteral(": ") + AMessage;
    if (sending) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    sending = true;
    const bool failure = AType == QtWarningMsg || AType == QtCriticalMsg || AType == QtFatalMsg;
    TCodeSiteDispatcher::Send(*CodeSite(), failure ? TCodeSiteMsgKind::Error : TCodeSiteMsgKind::Message, text);
    sending = false;
}

}  // namespace

TCodeSiteQtMessages::TCodeSiteQtMessages()
    : FPrevious(qInstallMessageHandler(QtMessageToLog))
{
}

TCodeSiteQtMessages::~TCodeSiteQtMessages()
{
    qInstallMessageHandler(FPrevious);
}
