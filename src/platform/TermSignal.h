#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM, as a session manager sends it at log-out, turned into a call on
// the thread that made the watcher, from its event loop: the handler itself
// only writes one byte. One watcher at a time; the previous disposition of
// SIGTERM comes back when it goes.
class TTermSignalWatcher : public QObject
{
public:
    explicit TTermSignalWatcher(std::function<void()> onTerm, QObject* parent = nullptr);
    ~TTermSignalWatcher() override;

    TTermSignalWatcher(const TTermSignalWatcher&) = delete;
    TTermSignalWatcher& operator=(const TTermSignalWatcher&) = delete;

private:
    void Drain();

    std::function<void()> FOnTerm;
    int FRead = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
