#pragma once
// The standard controls over Qt widgets: label, push button, memo, group box and
// link label. Click handlers run as the message loop runs them (DispatchHandler).

#include <vcl/Controls.h>
#include <vcl/Forms.h>

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>

class TLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLabel(QWidget* AParent) : QLabel(AParent) { setTextFormat(Qt::PlainText); }

    QString Caption() const { return text(); }
    void SetCaption(const QString& AValue) { setText(AValue); }
    TColor FontColor() const { return ::FontColor(this); }
    void SetFontColor(TColor AValue) { ::SetFontColor(this, AValue); }
};

class TButton : public QPushButton, public TObject {
    Q_OBJECT
public:
    explicit TButton(QWidget* AParent);

    TNotifyEvent OnClick;

    QString Caption() const { return text(); }
    void SetCaption(const QString& AValue) { setText(AValue); }
    void SetEnabled(bool AValue) { setEnabled(AValue); }
    void SetFocus() { setFocus(Qt::OtherFocusReason); }
};

class TMemo;

// The memo's lines.
class TMemoLines {
public:
    explicit TMemoLines(TMemo& AMemo) : FMemo(AMemo) {}
    // One new line at the end.
    void Add(const QString& AText);
    int Count() const;
    QString Strings(int AIndex) const;

private:
    TMemo& FMemo;
};

class TMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TMemo(QWidget* AParent) : QPlainTextEdit(AParent) {}

    TMemoLines Lines{*this};
};

class TGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TGroupBox(QWidget* AParent) : QGroupBox(AParent) {}

    QString Caption() const { return title(); }
    void SetCaption(const QString& AValue) { setTitle(AValue); }
};

// A label whose text holds a link; nothing opens the link unless a handler is attached.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* AParent) : QLabel(AParent)
    {
        setTextFormat(Qt::RichText);
        setOpenExternalLinks(false);
    }

    void SetCaption(const QString& ALinkText, const QString& AAddress);
};
