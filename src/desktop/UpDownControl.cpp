#include "desktop/UpDownControl.h"

#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int increment, int position,
                 QWidget* parent)
    : QWidget(parent), FAssociate(associate), FMin(min), FMax(max), FIncrement(increment),
      FPosition(min)
{
    FUp = new QToolButton(this);
    FUp->setArrowType(Qt::UpArrow);
    FUp->setAutoRepeat(true);
    FDown = new QToolButton(this);
    FDown->setArrowType(Qt::DownArrow);
    FDown->setAutoRepeat(true);
    // The arrows share the edit's height; the width is the style's for arrows.
    for (QToolButton* b : {FUp, FDown})
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    box->addWidget(FUp);
    box->addWidget(FDown);
    connect(FUp, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(FDown, &QToolButton::clicked, this, [this] { StepBy(-1); });
    SetPosition(position);
}

QSize TUpDown::sizeHint() const
{
    return {style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) + 2, FAssociate->sizeHint().height()};
}

QSize TUpDown::minimumSizeHint() const
{
    return sizeHint();
}

int TUpDown::Position() const
{
    bool ok = false;
    const int typed = FAssociate->text().trimmed().toInt(&ok);
    const int value = ok ? typed : FPosition;
    return std::clamp(value, FMin, std::max(FMin, FMax));
}

void TUpDown::SetPosition(int value)
{
    FPosition = std::clamp(value, FMin, std::max(FMin, FMax));
    const QString text = QString::number(FPosition);
    if (FAssociate->text() != text)
        FAssociate->setText(text);
}

void TUpDown::SetMax(int value)
{
    FMax = value;
}

void TUpDown::StepBy(int steps)
{
    SetPosition(Position() + steps * FIncrement);
}
