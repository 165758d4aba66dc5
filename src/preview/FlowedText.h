#pragma once

#include <string>
#include <string_view>

// Text sent as format=flowed (RFC 3676) with its paragraphs joined: a line
// ending in a blank goes on in the next line of the same quote depth. With
// `delSp` that blank only marked the break and goes, so a word or a run of
// CJK text broken across lines is whole again. Space-stuffing is undone; a
// joined paragraph carries its quote marks once.
std::string UnflowedText(std::string_view text, bool delSp);
