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

    int Min() const { return min_; }
    int Max() const { return max_; }
    void SetMax(int value);

    // One arrow click.
    void StepBy(int steps);

private:
    QLineEdit* associate_;
    QToolButton* up_;
    QToolButton* down_;
    int min_;
    int max_;
    int increment_;
    int position_;
};
