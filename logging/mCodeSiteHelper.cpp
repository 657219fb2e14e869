#include "mCodeSiteHelper.h"

#include <rtl/Assert.h>
#include <rtl/SysUtils.h>

#include <algorithm>
#include <cstdint>

namespace {

// The build machine's folders stay out of the log: keep what follows the last separator.
QString FileNamePart(const QString& APath)
{
    qsizetype cut = -1;
    for (const QChar separator : {QChar(u'/'), QChar(u'\\'), QChar(u':')})
        cut = std::max(cut, APath.lastIndexOf(separator));
    return APath.mid(cut + 1);
}

}  // namespace

void AssertErrorHandler(const QString& AMessage, const QString& AFileName, std::int32_t ALineNumber,
                        void* AErrorAddr)
{
    const QString format = QStringLiteral("AssertionFiled - File: %s, Line: %d, Addr: %p, Msg: %s");
    const QVariantList args{
        FileNamePart(AFileName),
        ALineNumber,
        quint64(reinterpret_cast<std::uintptr_t>(AErrorAddr)),
        AMessage.isEmpty() ? RtlConsts::SAssertionFailed : AMessage,
    };
    CodeSite()->SendError(format, args);
    throw EAssertionFailed(Format(format, args));
}

void LogExitMethod(TCodeSiteLogger* ALogger, const QString& AMethodName, const QVariant& AValue)
{
    ALogger->ExitMethod(nullptr, AMethodName, AValue);
}

namespace mCodeSiteHelper {

void Initialization()
{
    AssertErrorProc = AssertErrorHandler;
}

void Finalization()
{
    // The handler stays installed for whatever still runs.
}

}  // namespace mCodeSiteHelper
