#include "app/StatusChannel.h"

#include <QSocketNotifier>

#include <algorithm>
#include <utility>
#include <cerrno>
#include <sys/socket.h>

// One connection that asked for the status.
class TStatusChannel::TReader : public QObject
{
public:
    TReader(TDescriptor socket, bool follows, QObject* parent)
        : QObject(parent), Socket(std::move(socket)), Follows(follows),
          ReadNotifier(Socket.Get(), QSocketNotifier::Read), WriteNotifier(Socket.Get(), QSocketNotifier::Write)
    {
        WriteNotifier.setEnabled(false);
    }

    // Ends the connection now; the object goes later, as it may be in one
    // of its own signals.
    void Close()
    {
        ReadNotifier.setEnabled(false);
        WriteNotifier.setEnabled(false);
        Socket.Reset();
    }

    TDescriptor Socket;
    const bool Follows;
    QSocketNotifier ReadNotifier;
    QSocketNotifier WriteNotifier;
    // What the reader has not taken yet, from Sent on.
    std::string Pending;
    std::size_t Sent = 0;
};

TStatusChannel::TStatusChannel(QObject* parent) : QObject(parent)
{
}

TStatusChannel::~TStatusChannel()
{
    for (TReader* reader : FReaders)
        reader->Close();
}

bool TStatusChannel::Take(const QByteArray& request, TDescriptor& connection)
{
    const bool follows = request == FollowRequest;
    if (!follows && request != StatusRequest)
        return false;
    if (FReaders.size() >= MaxReaders)
        Drop(FReaders.front());
    auto* reader = new TReader(std::move(connection), follows, this);
    FReaders.push_back(reader);
    // A reader says nothing more: what comes is its end (or to be ignored).
    connect(&reader->ReadNotifier, &QSocketNotifier::activated, this, [this, reader] {
        char chunk[256];
        for (;;)
        {
            const ssize_t got = ::recv(reader->Socket.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
            if (got > 0)
                continue;
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                Drop(reader);
            return;
        }
    });
    connect(&reader->WriteNotifier, &QSocketNotifier::activated, this, [this, reader] { Flush(reader); });
    reader->Pending = FLine + '\n';
    Flush(reader);
    return true;
}

void TStatusChannel::Publish(const std::string& line)
{
    if (line == FLine)
        return;
    FLine = line;
    // A copy: a reader dropped on the way leaves the list.
    const std::vector<TReader*> readers = FReaders;
    for (TReader* reader : readers)
    {
        if (!reader->Follows)
            continue;
        reader->Pending.erase(0, std::exchange(reader->Sent, 0));
        reader->Pending.append(FLine).push_back('\n');
        if (reader->Pending.size() - reader->Sent > MaxPending)
        {
            ++FDropped;
            Drop(reader);
            continue;
        }
        Flush(reader);
    }
}

void TStatusChannel::Flush(TReader* reader)
{
    while (reader->Sent < reader->Pending.size())
    {
        const ssize_t sent = ::send(reader->Socket.Get(), reader->Pending.data() + reader->Sent,
                                    reader->Pending.size() - reader->Sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0)
        {
            reader->Sent += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            reader->WriteNotifier.setEnabled(true);
            return;
        }
        return Drop(reader); // the reader is gone
    }
    reader->Pending.clear();
    reader->Sent = 0;
    reader->WriteNotifier.setEnabled(false);
    if (!reader->Follows)
        Drop(reader);
}

void TStatusChannel::Drop(TReader* reader)
{
    FReaders.erase(std::remove(FReaders.begin(), FReaders.end(), reader), FReaders.end());
    reader->Close();
    reader->deleteLater();
}
