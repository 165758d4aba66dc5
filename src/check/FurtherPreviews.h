#pragma once

#include "check/CheckCycle.h"

#include <cstddef>
#include <string>
#include <vector>

// A newsletter's text may lie behind more markup than a check reads of each
// body: where a shown preview comes out empty, more of that body is read,
// for all such messages of a fetch in one more request.

// How many of an account's new messages are shown with their previews:
// the notification's first; each where the command shows them; none for a
// silent account, which tells nothing.
std::size_t ShownPreviews(const TCycleSettings& settings, const Account& account);

// At most this many messages of one fetch are read further (4 MB).
constexpr std::size_t MaxFurtherPreviews = MaxHeldPreviewBytes / PreviewFurtherBytes;

// Makes the previews of the first and the last `shown` of `fetched` now and
// gives the places of those that came out empty though their body goes on,
// at most MaxFurtherPreviews.
std::vector<std::size_t> PreviewsToReadFurther(std::vector<TFetchedMessage>& fetched, std::size_t shown);

// Makes those previews again from their bodies' longer starts (`bodies`
// in the order of `places`; one missing or empty leaves its preview empty).
void ReadPreviewsFurther(std::vector<TFetchedMessage>& fetched, const std::vector<std::size_t>& places,
                         std::vector<std::string> bodies);
