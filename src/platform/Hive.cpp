#include "platform/Hive.h"

#include "platform/Descriptor.h"
#include "platform/WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Holds the exclusive lock on the lock file beside the hive.
class THiveLock
{
public:
    explicit THiveLock(const std::string& hivePath)
        : FDescriptor(::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (FDescriptor.Get() < 0)
            throw Exception("Cannot lock " + hivePath + ": " + std::strerror(errno));
        while (::flock(FDescriptor.Get(), LOCK_EX) != 0)
            if (errno != EINTR)
                throw Exception("Cannot lock " + hivePath + ": " + std::strerror(errno));
    }
    ~THiveLock() { ::flock(FDescriptor.Get(), LOCK_UN); }
    THiveLock(const THiveLock&) = delete;
    THiveLock& operator=(const THiveLock&) = delete;

private:
    TDescriptor FDescriptor;
};

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Moves the bad file to the first free bad-copy name; never replaces one.
std::string MoveAside(const std::string& path)
{
    for (int n = 0; n < 10000; ++n)
    {
        const std::string target = BadCopyPath(path, n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EEXIST)
            continue;
        // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
        if (errno == EINVAL || errno == ENOSYS)
        {
            if (::link(path.c_str(), target.c_str()) == 0)
            {
                ::unlink(path.c_str());
                return target;
            }
            if (errno == EEXIST)
                continue;
        }
        throw Exception("Cannot move " + path + " aside: " + std::strerror(errno));
    }
    throw Exception("Cannot move " + path + " aside: too many bad copies");
}

// Leftovers of a writer that died before its rename; only called under the lock.
void RemoveStaleTemporaries(const std::string& path)
{
    const std::string prefix = NameOf(path) + ".tmp-";
    const std::string folder = FolderOf(path);
    std::vector<std::string> stale;
    {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir)
            return;
        while (const dirent* e = ::readdir(dir.get()))
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
                stale.push_back(folder + "/" + e->d_name);
    }
    for (const auto& s : stale)
        ::unlink(s.c_str());
}

std::function<void(const std::string&)>& ReplaceHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

// Reads and parses; an unparseable file goes aside. Call with the lock held.
THiveLoad LoadLocked(const std::string& path)
{
    THiveLoad load;
    load.Stamp = HiveFileStamp(path);
    std::string text;
    if (!ReadWholeFile(path, text))
        return load;
    try
    {
        load.Hive = ParseHive(text);
    }
    catch (const EHiveParseError& e)
    {
        load.Problem = e.Message;
        load.KeptAsidePath = MoveAside(path);
        load.Stamp = HiveFileStamp(path);
    }
    return load;
}

// The real file behind a symbolic link, so the replace keeps the link.
std::string ResolvedPath(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return path;
    return buf;
}

} // namespace

std::string BadCopyPath(const std::string& path, int n)
{
    return n == 0 ? path + ".bad" : path + ".bad." + std::to_string(n);
}

bool THiveFileStamp::Same(const THiveFileStamp& o) const
{
    return Exists == o.Exists && Device == o.Device && Inode == o.Inode && Size == o.Size &&
           ModifiedNs == o.ModifiedNs && ChangedNs == o.ChangedNs;
}

THiveFileStamp HiveFileStamp(const std::string& path)
{
    THiveFileStamp stamp;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t nowNs = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
    {
        stamp.Settled = true;
        return stamp;
    }
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = st.st_size;
    stamp.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.ChangedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    // File times move in ticks of the kernel clock; two writes in one tick
    // with the same size look alike, so only an older file is trusted.
    const int64_t kSettle = 2000000000;
    stamp.Settled = std::max(stamp.ModifiedNs, stamp.ChangedNs) < nowNs - kSettle;
    return stamp;
}

THiveLoad LoadHiveFile(const std::string& path)
{
    std::string text;
    const THiveFileStamp stamp = HiveFileStamp(path);
    if (!ReadWholeFile(path, text))
        return {};
    try
    {
        THiveLoad load;
        load.Stamp = stamp;
        load.Hive = ParseHive(text);
        return load;
    }
    catch (const EHiveParseError&)
    {
    }
    // Bad: look again under the lock, so only one instance moves it aside.
    EnsureFolder(FolderOf(path));
    THiveLock lock(path);
    return LoadLocked(path);
}

THiveLoad UpdateHiveFile(const std::string& path, const std::vector<THiveChange>& changes)
{
    EnsureFolder(FolderOf(path));
    THiveLock lock(path);
    RemoveStaleTemporaries(path);
    THiveLoad load = LoadLocked(path);
    if (changes.empty())
        return load;
    std::string before;
    const bool existed = ReadWholeFile(path, before);
    for (const auto& c : changes)
        ApplyChange(load.Hive, c);
    const std::string after = SerializeHive(load.Hive);
    if (!existed || after != before)
    {
        ReplaceWholeFile(ResolvedPath(path), after, ReplaceHook());
        load.Stamp = HiveFileStamp(path);
    }
    return load;
}

void SetHiveReplaceHook(std::function<void(const std::string& tempPath)> hook)
{
    ReplaceHook() = std::move(hook);
}
