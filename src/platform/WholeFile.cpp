#include "platform/WholeFile.h"

#include "platform/Descriptor.h"
#include "platform/Exception.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

void EnsureFolder(const std::string& folder)
{
    for (size_t pos = 1; pos <= folder.size(); ++pos)
    {
        if (pos != folder.size() && folder[pos] != '/')
            continue;
        const std::string part = folder.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            throw Exception("Cannot create folder " + part + ": " + std::strerror(errno));
    }
    ::chmod(folder.c_str(), 0700);
}

bool ReadWholeFile(const std::string& path, std::string& text)
{
    text.clear();
    TDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        if (errno == ENOENT)
            return false;
        throw Exception("Cannot read " + path + ": " + std::strerror(errno));
    }
    char buf[65536];
    while (true)
    {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Exception("Cannot read " + path + ": " + std::strerror(errno));
        if (n == 0)
            return true;
        text.append(buf, static_cast<size_t>(n));
    }
}

namespace
{

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Exception(std::string("write failed: ") + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
}

} // namespace

void ReplaceWholeFile(const std::string& path, const std::string& text,
                      const std::function<void(const std::string&)>& beforeRename)
{
    std::string temp = path + ".tmp-XXXXXX";
    TDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        throw Exception("Cannot write " + path + ": " + std::strerror(errno));
    try
    {
        ::fchmod(fd.Get(), 0600);
        WriteAll(fd.Get(), text);
        if (::fsync(fd.Get()) != 0)
            throw Exception(std::string("fsync failed: ") + std::strerror(errno));
        if (::close(fd.Release()) != 0)
            throw Exception(std::string("close failed: ") + std::strerror(errno));
        if (beforeRename)
            beforeRename(temp);
        if (::rename(temp.c_str(), path.c_str()) != 0)
            throw Exception(std::string("rename failed: ") + std::strerror(errno));
    }
    catch (const Exception& e)
    {
        ::unlink(temp.c_str());
        if (e.Message.rfind("Cannot write ", 0) == 0)
            throw;
        throw Exception("Cannot write " + path + ": " + e.Message);
    }
    catch (...)
    {
        ::unlink(temp.c_str());
        throw;
    }
    // Make the rename itself durable.
    TDescriptor dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
}


std::string XdgFolder(const char* variable, const std::string& underHome)
{
    if (const char* x = std::getenv(variable); x && x[0] == '/')
        return x;
    const char* home = std::getenv("HOME");
    std::string h = home ? home : "";
    if (h.empty())
        if (const passwd* pw = ::getpwuid(::getuid()))
            h = pw->pw_dir;
    return h + "/" + underHome;
}

std::string UserStatePath(const std::string& name)
{
    return XdgFolder("XDG_STATE_HOME", ".local/state") + "/ternbell/" + name;
}
