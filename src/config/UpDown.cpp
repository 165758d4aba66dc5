#include "config/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int increment, int position,
                 QWidget* parent)
    : QWidget(parent), associate_(associate), min_(min), max_(max), increment_(increment),
      position_(min)
{
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    up_->setAutoRepeat(true);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    down_->setAutoRepeat(true);
    for (QToolButton* b : {up_, down_})
        b->setFixedSize(16, 11);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    box->addWidget(up_);
    box->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
    SetPosition(position);
}

int TUpDown::Position() const
{
    bool ok = false;
    const int typed = associate_->text().trimmed().toInt(&ok);
    const int value = ok ? typed : position_;
    return std::clamp(value, min_, std::max(min_, max_));
}

void TUpDown::SetPosition(int value)
{
    position_ = std::clamp(value, min_, std::max(min_, max_));
    const QString text = QString::number(position_);
    if (associate_->text() != text)
        associate_->setText(text);
}

void TUpDown::SetMax(int value)
{
    max_ = value;
}

void TUpDown::StepBy(int steps)
{
    SetPosition(Position() + steps * increment_);
}
