#pragma once
// The panel and picture control.

#include <QPicture>
#include <QWidget>

// A panel without bevel: a plain container.
class TPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* AParent) : QWidget(AParent) {}
};

// Shows a picture at its own size. The picture is a recording of drawing commands, so it is
// sharp at every scale.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* AParent) : QWidget(AParent) {}

    // With AutoSize the control takes the picture's size.
    void SetPicture(const QPicture& APicture, bool AAutoSize = true);

protected:
    void paintEvent(QPaintEvent* AEvent) override;

private:
    QPicture FPicture;
};
