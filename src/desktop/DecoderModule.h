#pragma once

#include <string>

// The decoder module (FFmpeg and libsndfile behind two entry points) is
// loaded the first time a sound or an animation is decoded, from the folder
// of the executable. Raises Exception when the module or the entry is missing.
void* DecoderSymbol(const char* name);

template <typename TEntry>
TEntry DecoderEntry(const char* name)
{
    return reinterpret_cast<TEntry>(DecoderSymbol(name));
}

// Where the module is looked for instead of the executable's folder; for
// programs built apart from it (the tests). Call before the first decode.
void SetDecoderModuleFolder(const std::string& folder);

// Whether the module is mapped yet.
bool DecoderModuleLoaded();
