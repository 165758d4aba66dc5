#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

// The values a thread made last, by key, most recently used first: for
// things dear to make and asked for again and again whose keys come from
// mail, so that they must not pile up. The oldest goes when it is full.
template <typename Key, typename Value, std::size_t Capacity>
class TRecentValues
{
public:
    // The kept value for `key` (anything that compares with a Key and makes
    // one), or the one `make()` gives, a std::unique_ptr<Value>: kept when
    // it is not null. Null when `make` gave null.
    template <typename Probe, typename Make>
    Value* Get(const Probe& key, Make make)
    {
        for (auto entry = FEntries.begin(); entry != FEntries.end(); ++entry)
        {
            if (entry->first == key)
            {
                std::rotate(FEntries.begin(), entry, std::next(entry));
                return FEntries.front().second.get();
            }
        }
        std::unique_ptr<Value> value = make();
        if (!value)
            return nullptr;
        if (FEntries.size() == Capacity)
            FEntries.pop_back();
        FEntries.emplace(FEntries.begin(), Key(key), std::move(value));
        return FEntries.front().second.get();
    }

private:
    std::vector<std::pair<Key, std::unique_ptr<Value>>> FEntries;
};
