#pragma once
// Run-time library basics the system's code is written against: the exception hierarchy
// with the platform's messages, Format with the platform's directives, and error texts.

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <exception>
#include <cstdint>
#include <functional>

// The common base of the platform's errors ("the system's exception kind").
class Exception : public std::exception {
public:
    explicit Exception(QString AMessage) : FMessage(std::move(AMessage)), FUtf8(FMessage.toUtf8()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

#define RTL_EXCEPTION(Name, Base) \
    class Name : public Base { public: using Base::Base; }

RTL_EXCEPTION(EAssertionFailed, Exception);
RTL_EXCEPTION(EConvertError, Exception);
RTL_EXCEPTION(EListError, Exception);
RTL_EXCEPTION(EResNotFound, Exception);
RTL_EXCEPTION(EArgumentException, Exception);
RTL_EXCEPTION(EArgumentOutOfRangeException, EArgumentException);
RTL_EXCEPTION(ENotSupportedException, Exception);
RTL_EXCEPTION(EStreamError, Exception);
RTL_EXCEPTION(EFCreateError, EStreamError);
RTL_EXCEPTION(EFOpenError, EStreamError);
RTL_EXCEPTION(EReadError, EStreamError);
RTL_EXCEPTION(EWriteError, EStreamError);

// Failures that carry the operating system's error code.
class EOSError : public Exception {
public:
    EOSError(QString AMessage, int AErrorCode) : Exception(std::move(AMessage)), FErrorCode(AErrorCode) {}
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

class EInOutError : public Exception {
public:
    EInOutError(QString AMessage, int AErrorCode = 0) : Exception(std::move(AMessage)), FErrorCode(AErrorCode) {}
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

RTL_EXCEPTION(EPathTooLongException, EInOutError);
RTL_EXCEPTION(EDirectoryNotFoundException, EInOutError);
RTL_EXCEPTION(EFileNotFoundException, EInOutError);
RTL_EXCEPTION(EDriveNotFoundException, EInOutError);

#undef RTL_EXCEPTION

// The platform's resource texts quoted by the system.
namespace RtlConsts {
inline const QString SAssertionFailed = QStringLiteral("Assertion failed");
inline const QString SListIndexError = QStringLiteral("List index out of bounds (%d)");
inline const QString SGenericItemNotFound = QStringLiteral("Item not found");
inline const QString SResNotFound = QStringLiteral("Resource %s not found");
inline const QString SFCreateErrorEx = QStringLiteral("Cannot create file \"%s\". %s");
inline const QString SFOpenErrorEx = QStringLiteral("Cannot open file \"%s\". %s");
inline const QString SInvalidCharsInPath = QStringLiteral("Invalid characters in path");
inline const QString SPathTooLong = QStringLiteral("The specified path is too long");
inline const QString SPathNotFound = QStringLiteral("The specified path was not found");
inline const QString SPathFormatNotSupported = QStringLiteral("The path format is not supported");
inline const QString SDriveNotFound = QStringLiteral("The drive cannot be found");
inline const QString SInvalidFormat = QStringLiteral("Format '%s' invalid or incompatible with argument");
inline const QString SInvalidGUID = QStringLiteral("'%s' is not a valid GUID value");
}  // namespace RtlConsts

// Format as the system's code writes it: %s, %d, %u, %x, %p and %%, with optional "-", width and precision
// ("%.2d" pads an integer with zeros to two digits). %p prints the low 32 bits of an address
// as eight upper-case hexadecimal digits. A directive that does not fit its argument raises
// EConvertError.
QString Format(const QString& AFormat, const QVariantList& AArgs);

// The operating system's text for an error code (errno here).
QString SysErrorMessage(int AErrorCode);

// A procedure reference without arguments.
using TProc = std::function<void()>;

// The decimal integer in AText (an optional sign, then digits only), or ADefault when the
// text is not one or its value does not fit 32 bits.
std::int32_t StrToIntDef(const QString& AText, std::int32_t ADefault);
