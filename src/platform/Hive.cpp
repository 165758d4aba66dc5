#include "platform/Hive.h"

#include "platform/Descriptor.h"

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

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkdir -p; folders we create are 0700, and our own folder is made 0700.
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

enum class TRead
{
    Ok,
    Missing,
};

TRead ReadWhole(const std::string& path, std::string& text)
{
    text.clear();
    TDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        if (errno == ENOENT)
            return TRead::Missing;
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
            return TRead::Ok;
        text.append(buf, static_cast<size_t>(n));
    }
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

void ReplaceFile(const std::string& path, const std::string& text)
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
        if (ReplaceHook())
            ReplaceHook()(temp);
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

// Reads and parses; an unparseable file goes aside. Call with the lock held.
THiveLoad LoadLocked(const std::string& path)
{
    THiveLoad load;
    load.Stamp = HiveFileStamp(path);
    std::string text;
    if (ReadWhole(path, text) == TRead::Missing)
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
    if (ReadWhole(path, text) == TRead::Missing)
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
    const bool existed = ReadWhole(path, before) == TRead::Ok;
    for (const auto& c : changes)
        ApplyChange(load.Hive, c);
    const std::string after = SerializeHive(load.Hive);
    if (!existed || after != before)
    {
        ReplaceFile(ResolvedPath(path), after);
        load.Stamp = HiveFileStamp(path);
    }
    return load;
}

void SetHiveReplaceHook(std::function<void(const std::string& tempPath)> hook)
{
    ReplaceHook() = std::move(hook);
}
