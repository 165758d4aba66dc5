#include "check/FurtherPreviews.h"

#include "check/ExpandCommand.h"

#include <algorithm>

std::size_t ShownPreviews(const TCycleSettings& settings, const Account& account)
{
    if (!settings.ShowPreview || account.Silent)
        return 0;
    return UsesPreview(settings.Execute) ? static_cast<std::size_t>(MaxListedMessages) : NoticePreviews;
}

std::vector<std::size_t> PreviewsToReadFurther(std::vector<TFetchedMessage>& fetched, std::size_t shown)
{
    const std::size_t n = fetched.size();
    std::vector<std::size_t> shownAt;
    std::vector<const TPreview*> previews;
    for (std::size_t k = 0; k < n; ++k)
        // The oldest fetched are those a running program tells first; after
        // a restart, those told before are passed over, and the newest are.
        if (k < shown || k >= n - std::min(shown, n))
        {
            shownAt.push_back(k);
            previews.push_back(&fetched[k].Header.Preview);
        }
    TPreview::MakeAll(previews);
    std::vector<std::size_t> places;
    std::vector<TPreview*> passed;
    for (std::size_t k : shownAt)
        if (TPreview& preview = fetched[k].Header.Preview; preview.WantsFurther())
        {
            if (places.size() < MaxFurtherPreviews)
                places.push_back(k);
            else
                passed.push_back(&preview);
        }
    TPreview::ReadFurther(passed, {});
    return places;
}

void ReadPreviewsFurther(std::vector<TFetchedMessage>& fetched, const std::vector<std::size_t>& places,
                         std::vector<std::string> bodies)
{
    std::vector<TPreview*> previews;
    for (std::size_t k : places)
        previews.push_back(&fetched.at(k).Header.Preview);
    TPreview::ReadFurther(previews, std::move(bodies));
}
