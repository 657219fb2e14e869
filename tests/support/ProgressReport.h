#pragma once
// The flashing service's progress reports as its log records them:
//   DoProgress(APosition: 35, AMsg: "Writing...", ASleep: 1000)
// (tools/run reads the same line with sed).

#include <QRegularExpression>
#include <QString>

#include <optional>

struct TProgressReport {
    int Position = 0;
    QString Message;
    int Sleep = 0;

    // "position|message", the form the tests compare.
    QString Line() const { return QString::number(Position) + u'|' + Message; }
};

// The report a log text or log line ends with (a line's prefix is passed over); none when the
// text holds no report.
inline std::optional<TProgressReport> ReadProgressReport(const QString& AText)
{
    static const QRegularExpression report(
        QStringLiteral("DoProgress\\(APosition: (-?\\d+), AMsg: \"(.*)\", ASleep: (-?\\d+)\\)$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = report.match(AText);
    if (!match.hasMatch())
        return std::nullopt;
    return TProgressReport{match.captured(1).toInt(), match.captured(2), match.captured(3).toInt()};
}
