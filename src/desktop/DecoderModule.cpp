#include "desktop/DecoderModule.h"

#include "decoders/DecoderEntries.h"
#include "platform/Exception.h"
#include "platform/ExeFolder.h"

#include <QLibrary>

#include <memory>
#include <mutex>

namespace
{

struct TModuleState
{
    std::mutex Lock;
    std::string Folder;
    // Never unloaded: decoded frames and sounds may still point into it.
    std::unique_ptr<QLibrary> Library;
};

TModuleState& State()
{
    static TModuleState state;
    return state;
}

} // namespace

void SetDecoderModuleFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(State().Lock);
    State().Folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool DecoderModuleLoaded()
{
    std::lock_guard<std::mutex> guard(State().Lock);
    return State().Library != nullptr;
}

void* DecoderSymbol(const char* name)
{
    TModuleState& state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Library)
    {
        const std::string folder = state.Folder.empty() ? ExecutableFolder() : state.Folder;
        auto library = std::make_unique<QLibrary>(QString::fromStdString(folder + DecoderModuleFileName));
        if (!library->load())
            throw Exception("The media decoders cannot be loaded (" + library->errorString().toStdString() + ").");
        state.Library = std::move(library);
    }
    void* entry = reinterpret_cast<void*>(state.Library->resolve(name));
    if (!entry)
        throw Exception(std::string("The media decoders lack \"") + name + "\".");
    return entry;
}
