#pragma once
// The HTML label over Qt rich text (<B>, <FONT color>, <BR>...).
// With AutoSizing its height follows its text at its width.

#include <QLabel>
#include <QString>

class THTMLabel : public QLabel {
    Q_OBJECT
public:
    explicit THTMLabel(QWidget* AParent);

    QString HTMLText() const { return text(); }
    void SetHTMLText(const QString& AValue) { setText(AValue); }
    void SetAutoSizing(bool AValue);

    QSize sizeHint() const override;

private:
    bool FAutoSizing = false;
};
