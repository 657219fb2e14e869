#pragma once
// The progress bar with its states: normal and error (drawn red).

#include <QProgressBar>

enum TProgressBarState { pbsNormal, pbsError };

class TProgressBar : public QProgressBar {
    Q_OBJECT
public:
    // Range 0 to 100, position 0, normal state, no text.
    explicit TProgressBar(QWidget* AParent);

    int Position() const { return value(); }
    // Kept within the range.
    void SetPosition(int AValue);
    TProgressBarState State() const { return FState; }
    void SetState(TProgressBarState AValue);

private:
    TProgressBarState FState = pbsNormal;
};
