#pragma once
// The office-style hint: controls that carry an office hint (a
// title and notes) show it, on the form that holds the hint component, in a window with a
// gradient, the title, the notes and a help line with a small picture. A hint stays shown
// for the application's HintHidePause, or until the mouse leaves its control.

#include <vcl/ExtCtrls.h>
#include <vcl/Graphics.h>

#include <QFont>
#include <QPicture>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

struct TAdvHintInfo {
    QString Title;
    QStringList Notes;
    bool ShowHelp = true;
};

// A picture that shows an office hint.
class TAdvOfficeImage : public TImage {
    Q_OBJECT
public:
    explicit TAdvOfficeImage(QWidget* AParent) : TImage(AParent) {}

    TAdvHintInfo OfficeHint;
    bool ShowHint = false;
};

class TAdvOfficeHint;

// The window that draws one hint.
class TAdvOfficeHintWindow : public QWidget {
    Q_OBJECT
public:
    TAdvOfficeHintWindow(const TAdvOfficeHint& AStyle, TAdvHintInfo AInfo);

    const TAdvHintInfo& Info() const { return FInfo; }
    QString HelpText() const;

protected:
    void paintEvent(QPaintEvent* AEvent) override;

private:
    int Layout(bool APaint, QPainter* APainter);

    const TAdvOfficeHint& FStyle;
    TAdvHintInfo FInfo;
};

class TAdvOfficeHint : public QObject {
    Q_OBJECT
public:
    explicit TAdvOfficeHint(QWidget* AOwner);
    ~TAdvOfficeHint() override;

    int HintWidth = 300;
    QFont Font;
    TColor Color = clWhite;
    TColor ColorTo = clWhite;
    bool RoundedCorners = true;
    QString HelpText;
    QPicture HelpPicture;
    TColor HelpLineColor = clSilver;

    // The window of the hint being shown; null while none is.
    TAdvOfficeHintWindow* HintWindow() const { return FWindow.get(); }
    // Milliseconds until the shown hint hides itself.
    int HideTimeout() const { return FHideTimer.interval(); }

    void ActivateHint(QWidget* AControl, const TAdvHintInfo& AInfo, const QPoint& AGlobalPos);
    void CancelHint();

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
    QPointer<QWidget> FOwner;
    QPointer<QWidget> FControl;
    std::unique_ptr<TAdvOfficeHintWindow> FWindow;
    QTimer FHideTimer;
};
