#pragma once
// The system's handler of failed assertions (installed in AssertErrorProc by the unit's
// initialisation) and the exit record that carries a method's result.

#include <codesite/CodeSite.h>

#include <QString>
#include <QVariant>

#include <cstdint>

// Logs the failed assertion as an error on the global logger, then raises EAssertionFailed
// with the same text.
[[noreturn]] void AssertErrorHandler(const QString& AMessage, const QString& AFileName,
                                     std::int32_t ALineNumber, void* AErrorAddr);

void LogExitMethod(TCodeSiteLogger* ALogger, const QString& AMethodName, const QVariant& AValue);

namespace mCodeSiteHelper {
void Initialization();
void Finalization();
}  // namespace mCodeSiteHelper
