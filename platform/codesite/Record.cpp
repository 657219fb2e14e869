#include "Record.h"

namespace {

// Line and paragraph separators end a line in some viewers; direction controls reorder what
// follows them, so a device string could disguise the rest of the record.
bool BreaksOrReordersTheLine(char16_t AChar)
{
    return AChar == 0x061C || AChar == 0x200E || AChar == 0x200F || AChar == 0x2028 || AChar == 0x2029
        || (AChar >= 0x202A && AChar <= 0x202E) || (AChar >= 0x2066 && AChar <= 0x2069);
}

// One record is one line: control characters (line ends, escape sequences from device
// strings) are shown escaped, never passed to the terminal or the file.
QString Escaped(const QString& AText)
{
    QString out;
    out.reserve(AText.size());
    for (const QChar c : AText) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QChar(u'0'));
        else if (BreaksOrReordersTheLine(u))
            out += QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

QString Rgb(TColor AColor)
{
    return QStringLiteral("%1;%2;%3").arg(AColor & 0xFF).arg((AColor >> 8) & 0xFF).arg((AColor >> 16) & 0xFF);
}

QString CodeSiteKindName(TCodeSiteMsgKind AKind)
{
    switch (AKind) {
    case TCodeSiteMsgKind::Enter: return QStringLiteral("Enter");
    case TCodeSiteMsgKind::Exit: return QStringLiteral("Exit");
    case TCodeSiteMsgKind::Value: return QStringLiteral("Value");
    case TCodeSiteMsgKind::Error: return QStringLiteral("Error");
    case TCodeSiteMsgKind::Message: return QStringLiteral("Message");
    }
    return QString();
}

}  // namespace

QString TCodeSiteRecord::ValueText() const
{
    if (!Value.isValid())
        return QString();
    if (Value.typeId() == QMetaType::Bool)
        return Value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (Value.canConvert<QString>())
        return Value.toString();
    return QStringLiteral("<%1>").arg(QString::fromLatin1(Value.typeName()));
}

QString TCodeSiteRecord::Line(bool AColoured) const
{
    QString line = Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    line += u' ';
    line += QString::number(ThreadId);
    if (!ThreadName.isEmpty()) {
        line += u'/';
        line += Escaped(ThreadName);
    }
    if (!Category.isEmpty()) {
        line += u' ';
        if (AColoured)
            line += QStringLiteral("\x1b[38;2;%1;48;2;%2m").arg(Rgb(CategoryFontColor), Rgb(CategoryColor));
        line += u'[';
        line += Escaped(Category);
        line += u']';
        if (AColoured)
            line += QStringLiteral("\x1b[0m");
    }
    line += u' ';
    line += CodeSiteKindName(Kind);
    line += u' ';
    line += Escaped(Text);
    if (Value.isValid()) {
        line += QStringLiteral(" = ");
        line += Escaped(ValueText());
    }
    return line;
}
