#pragma once
// The logging platform: loggers with a category and its colours, sending method entries and
// exits, named values, messages and errors.
//
// The global logger is CodeSite(): it exists before any unit starts and is never destroyed,
// so it can be used at any time, from any thread. Other loggers are plain objects owned by
// whoever creates them (the logger factory); every logger sends to the same places:
// - standard error, one readable line per record (the category in its colours when standard
//   error is a colour terminal);
// - the log file $XDG_STATE_HOME/<program>/<program>.log (else ~/.local/state/...), where
//   <program> is QCoreApplication::applicationName() when set, else the executable's name.
//   Each record is written through at once; at 1 MiB the file moves to <program>.log.1.
//   When the file cannot be made, only standard error gets the records.
// When standard error is the journal (JOURNAL_STREAM names it), each line there starts with
// its journal priority: errors <3>, messages and values <6>, method entries and exits <7>.
// Sending is thread-safe and records never mix. Sending never throws; a format that does not
// fit its arguments is logged as the format text with the conversion error.
//
// Overloads: Send(name, value) sends a named value (the value: anything that converts to
// QString); Send(format, {arguments...}) or Send(format, QVariantList) formats. A braced list
// always means format arguments, also when it holds a single text.

#include <vcl/Graphics.h>

#include <QString>
#include <QMessageLogger>
#include <QVariant>
#include <QVariantList>

#include <initializer_list>
#include <mutex>
#include <type_traits>

class TObject;

class TCodeSiteLogger {
public:
    // Colours of a logger whose colours were never set: a window's white and black text.
    static constexpr TColor DefaultCategoryColor = 0x00FFFFFF;
    static constexpr TColor DefaultCategoryFontColor = 0x00000000;

    TCodeSiteLogger();
    ~TCodeSiteLogger();
    TCodeSiteLogger(const TCodeSiteLogger&) = delete;
    TCodeSiteLogger& operator=(const TCodeSiteLogger&) = delete;

    QString Category() const;
    void SetCategory(QString AValue);
    TColor CategoryColor() const;
    void SetCategoryColor(TColor AValue);
    TColor CategoryFontColor() const;
    void SetCategoryFontColor(TColor AValue);

    void EnterMethod(const QString& AMethodName);
    void ExitMethod(const QString& AMethodName);
    // AObject (may be null) puts its class name before the method name.
    void ExitMethod(TObject* AObject, const QString& AMethodName, const QVariant& AValue);
    template <class TValue>
        requires std::is_convertible_v<const TValue&, QString>
    void Send(const QString& AMsg, const TValue& AValue)
    {
        SendValue(AMsg, QString(AValue));
    }
    void Send(const QString& AFormat, const QVariantList& AArgs);
    void Send(const QString& AFormat, std::initializer_list<QVariant> AArgs) { Send(AFormat, QVariantList(AArgs)); }
    void SendError(const QString& AMsg);
    void SendError(const QString& AFormat, const QVariantList& AArgs);

private:
    friend class TCodeSiteDispatcher;
    void SendValue(const QString& AMsg, const QString& AValue);

    mutable std::mutex FLock;
    QString FCategory;
    TColor FCategoryColor = DefaultCategoryColor;
    TColor FCategoryFontColor = DefaultCategoryFontColor;
};

// The global logger.
TCodeSiteLogger* CodeSite();

// While it lives, Qt's messages (the platform's own reports and Qt's) go where the loggers'
// records go, as records of the global logger: warnings and worse as errors. The handler it
// replaced comes back when it ends.
class TCodeSiteQtMessages {
public:
    TCodeSiteQtMessages();
    ~TCodeSiteQtMessages();
    TCodeSiteQtMessages(const TCodeSiteQtMessages&) = delete;
    TCodeSiteQtMessages& operator=(const TCodeSiteQtMessages&) = delete;

private:
    QtMessageHandler FPrevious;
};
