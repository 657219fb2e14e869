#include "RzCommon.h"

#include <QCoreApplication>

QString TRzVersionInfo::FileVersion() const
{
    // Only the running program carries a version on this platform.
    if (!FFilePath.isEmpty())
        return QString();
    return QCoreApplication::applicationVersion();
}
