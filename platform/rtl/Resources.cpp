#include "Resources.h"

#include "SysUtils.h"

#include <QLatin1String>

TResourceStream::TResourceStream(const QString& AResName)
{
    for (const TResourceEntry& entry : cResourceTable) {
        if (AResName.compare(QLatin1String(entry.Name), Qt::CaseInsensitive) == 0) {
            FMemory = reinterpret_cast<const char*>(entry.Data);
            FSize = qint64(*entry.Size);
            return;
        }
    }
    throw EResNotFound(Format(RtlConsts::SResNotFound, {AResName}));
}
