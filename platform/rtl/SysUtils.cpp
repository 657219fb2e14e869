#include "SysUtils.h"

#include <cstring>

namespace {

[[noreturn]] void InvalidFormat(const QString& AFormat)
{
    throw EConvertError(QString(RtlConsts::SInvalidFormat).replace(QStringLiteral("%s"), AFormat));
}

bool IsInteger(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::Short:
    case QMetaType::UShort: case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool IsUnsigned(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::UInt: case QMetaType::ULong: case QMetaType::ULongLong:
    case QMetaType::UShort: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

QString Digits(const QVariant& v, int base, bool upper)
{
    QString s = IsUnsigned(v) ? QString::number(v.toULongLong(), base) : QString::number(v.toLongLong(), base);
    return upper ? s.toUpper() : s;
}

}  // namespace

QString Format(const QString& AFormat, const QVariantList& AArgs)
{
    QString out;
    out.reserve(AFormat.size() + 16 * AArgs.size());
    qsizetype argIndex = 0;
    for (qsizetype i = 0; i < AFormat.size(); ++i) {
        const QChar c = AFormat.at(i);
        if (c != u'%') {
            out += c;
            continue;
        }
        if (++i >= AFormat.size())
            InvalidFormat(AFormat);
        if (AFormat.at(i) == u'%') {
            out += u'%';
            continue;
        }
        bool left = false;
        if (AFormat.at(i) == u'-') {
            left = true;
            ++i;
        }
        int width = 0;
        while (i < AFormat.size() && AFormat.at(i).isDigit())
            width = width * 10 + AFormat.at(i++).digitValue();
        int precision = -1;
        if (i < AFormat.size() && AFormat.at(i) == u'.') {
            precision = 0;
            ++i;
            while (i < AFormat.size() && AFormat.at(i).isDigit())
                precision = precision * 10 + AFormat.at(i++).digitValue();
        }
        if (i >= AFormat.size() || argIndex >= AArgs.size())
            InvalidFormat(AFormat);
        const QVariant& arg = AArgs.at(argIndex++);
        QString text;
        switch (AFormat.at(i).toLower().unicode()) {
        case u's':
            if (IsInteger(arg) || !arg.canConvert<QString>())
                InvalidFormat(AFormat);
            text = arg.toString();
            if (precision >= 0)
                text.truncate(precision);
            break;
        case u'd':
        case u'u':
            if (!IsInteger(arg))
                InvalidFormat(AFormat);
            {
                QString digits = Digits(arg, 10, false);
                const bool negative = digits.startsWith(u'-');
                if (negative)
                    digits.remove(0, 1);
                if (precision > digits.size())
                    digits = QString(precision - digits.size(), u'0') + digits;
                text = negative ? u'-' + digits : digits;
            }
            break;
        case u'x':
            if (!IsInteger(arg))
                InvalidFormat(AFormat);
            text = QString::number(arg.toULongLong(), 16).toUpper();
            if (precision > text.size())
                text = QString(precision - text.size(), u'0') + text;
            break;
        case u'p':
            if (!IsInteger(arg))
                InvalidFormat(AFormat);
            text = QStringLiteral("%1").arg(arg.toULongLong() & 0xFFFFFFFFull, 8, 16, QChar(u'0')).toUpper();
            break;
        default:
            InvalidFormat(AFormat);
        }
        if (text.size() < width)
            text = left ? text.leftJustified(width) : text.rightJustified(width);
        out += text;
    }
    return out;
}

QString SysErrorMessage(int AErrorCode)
{
    char buffer[256];
    // GNU strerror_r returns the text, which need not be in the buffer.
    const char* text = strerror_r(AErrorCode, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

std::int32_t StrToIntDef(const QString& AText, std::int32_t ADefault)
{
    bool ok = false;
    const int value = AText.toInt(&ok, 10);
    if (!ok || AText.trimmed() != AText)
        return ADefault;
    return std::int32_t(value);
}
