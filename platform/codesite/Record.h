#pragma once
// One record of the logging platform, as the sinks and test captures see it.

#include <vcl/Graphics.h>

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <cstdint>

class TCodeSiteLogger;

enum class TCodeSiteMsgKind { Enter, Exit, Value, Error, Message };

struct TCodeSiteRecord {
    QDateTime Time;
    std::int64_t ThreadId = 0;  // the kernel's thread id
    QString ThreadName;
    const TCodeSiteLogger* Logger = nullptr;  // identity only; the logger may be gone
    QString Category;
    TColor CategoryColor = 0;
    TColor CategoryFontColor = 0;
    TCodeSiteMsgKind Kind = TCodeSiteMsgKind::Message;
    QString Text;    // method name, value name, message or error text
    QVariant Value;  // the named value or the exit result; invalid when there is none

    // The value as the log shows it: True/False for Booleans, empty when there is none.
    QString ValueText() const;
    // The record as one log line, without the line end. AColoured wraps the category label in
    // the terminal's escape sequences for its font and background colours.
    QString Line(bool AColoured = false) const;
};
