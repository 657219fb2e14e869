#include "StdCtrls.h"

#include <QTextBlock>

TButton::TButton(QWidget* AParent) : QPushButton(AParent)
{
    connect(this, &QPushButton::clicked, this, [this] {
        if (OnClick)
            DispatchHandler(this, [this] { OnClick(this); });
    });
}

void TMemoLines::Add(const QString& AText)
{
    FMemo.appendPlainText(AText);
}

int TMemoLines::Count() const
{
    // An empty memo has one empty block and no line.
    const QTextDocument* document = FMemo.document();
    if (document->blockCount() == 1 && document->firstBlock().text().isEmpty())
        return 0;
    return document->blockCount();
}

QString TMemoLines::Strings(int AIndex) const
{
    return FMemo.document()->findBlockByNumber(AIndex).text();
}

void TLinkLabel::SetCaption(const QString& ALinkText, const QString& AAddress)
{
    setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(AAddress.toHtmlEscaped(), ALinkText.toHtmlEscaped()));
}
