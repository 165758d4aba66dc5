#include "find/FindNetworkModule.h"

#include "platform/Exception.h"
#include "platform/ExeFolder.h"

#include <QLibrary>

#include <mutex>

namespace
{

struct TModuleState
{
    std::mutex Lock;
    std::string Folder;
    // Never unloaded: a network object it made may outlive its last user.
    std::unique_ptr<QLibrary> Library;
    TCreateFindNetwork Create = nullptr;
};

TModuleState& State()
{
    static TModuleState state;
    return state;
}

} // namespace

void SetFindNetworkFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(State().Lock);
    State().Folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool FindNetworkLoaded()
{
    std::lock_guard<std::mutex> guard(State().Lock);
    return State().Library != nullptr;
}

std::unique_ptr<IFindNetwork> CreateFindNetwork()
{
    TModuleState& state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Library)
    {
        const std::string folder = state.Folder.empty() ? ExecutableFolder() : state.Folder;
        auto library = std::make_unique<QLibrary>(QString::fromStdString(folder + FindNetworkModuleFileName));
        if (!library->load())
            throw Exception("The network lookups cannot be loaded (" + library->errorString().toStdString() + ").");
        auto create = reinterpret_cast<TCreateFindNetwork>(library->resolve(CreateFindNetworkName));
        if (!create)
            throw Exception(std::string("The network lookups lack \"") + CreateFindNetworkName + "\".");
        state.Library = std::move(library);
        state.Create = create;
    }
    return std::unique_ptr<IFindNetwork>(state.Create());
}
