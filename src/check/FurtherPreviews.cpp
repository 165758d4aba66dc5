#include "check/FurtherPreviews.h"

#include "check/ExpandCommand.h"

#include <algorithm>
#include <utility>

std::size_t ShownPreviews(const TCycleSettings& settings, const Account& account)
{
    if (!settings.ShowPreview || account.Silent)
        return 0;
    return UsesPreview(settings.Execute) ? static_cast<std::size_t>(MaxListedMessages) : NoticePreviews;
}

std::vector<std::size_t> PreviewsToReadFurther(std::vector<TFetchedMessage>& fetched, std::size_t shown)
{
    std::vector<std::size_t> places;
    const std::size_t n = fetched.size();
    for (std::size_t k = 0; k < n; ++k)
    {
        // The oldest fetched are those a running program tells first; after
        // a restart, those told before are passed over, and the newest are.
        if (k >= shown && k < n - std::min(shown, n))
            continue;
        TPreview& preview = fetched[k].Header.Preview;
        if (!preview.MakeWantingFurther())
            continue;
        if (places.size() < MaxFurtherPreviews)
            places.push_back(k);
        else
            preview.ReadFurther({});
    }
    return places;
}

void ReadPreviewsFurther(std::vector<TFetchedMessage>& fetched, const std::vector<std::size_t>& places,
                         std::vector<std::string> bodies)
{
    bodies.resize(places.size());
    for (std::size_t k = 0; k < places.size(); ++k)
        fetched.at(places[k]).Header.Preview.ReadFurther(std::move(bodies[k]));
}
