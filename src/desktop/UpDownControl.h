#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// Up-down arrows attached to an edit that shows the number. The edit stays a
// separate control: switching the arrows off leaves the edit usable.
class TUpDown : public QWidget
{
    Q_OBJECT
public:
    TUpDown(QLineEdit* associate, int min, int max, int increment, int position,
            QWidget* parent = nullptr);

    // The number in the edit, kept within the range; the last position set
    // while the edit holds no number.
    int Position() const;
    // Clamps to the range and writes the number into the edit.
    void SetPosition(int value);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    void SetMax(int value);

    // One arrow click.
    void StepBy(int steps);

    // As high as the edit beside it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QLineEdit* FAssociate;
    QToolButton* FUp;
    QToolButton* FDown;
    int FMin;
    int FMax;
    int FIncrement;
    int FPosition;
};
