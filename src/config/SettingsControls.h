#pragma once

#include "config/ConfigRules.h"

#include <QStringList>

#include <array>

// The items of a drop-down list of the settings window.
template <std::size_t N> QStringList Items(const std::array<const char*, N>& items)
{
    QStringList list;
    for (const char* item : items)
        list << QString::fromUtf8(item);
    return list;
}
