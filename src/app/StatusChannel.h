#pragma once

#include "platform/Descriptor.h"

#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <string>
#include <vector>

// The status readers of the one instance (`ternbell --status`), on
// connections the one-instance channel hands over. A "status" request gets
// the status line and the connection ends; a "follow" request gets it at
// once and every new line after, until the reader closes. Nothing here ever
// waits: what a reader has not taken waits in a buffer of its own, and one
// that lets it pass MaxPending (it does not read) is dropped; past
// MaxReaders the oldest reader goes.
class TStatusChannel : public QObject
{
public:
    explicit TStatusChannel(QObject* parent = nullptr);
    ~TStatusChannel() override;

    static constexpr std::size_t MaxReaders = 128;
    static constexpr std::size_t MaxPending = 64 * 1024;
    static inline const QByteArray StatusRequest = QByteArrayLiteral("status\n");
    static inline const QByteArray FollowRequest = QByteArrayLiteral("follow\n");

    // Takes the connection when `request` is one of ours (it is then moved
    // out of `connection`); false, and nothing taken, when it is not.
    bool Take(const QByteArray& request, TDescriptor& connection);
    // The status as one line without its line break; followers get it only
    // when it differs from the last.
    void Publish(const std::string& line);
    const std::string& Line() const { return FLine; }
    // Readers connected now, those that read once until their line is out.
    std::size_t Readers() const { return FReaders.size(); }
    // Readers dropped because they did not read.
    std::size_t Dropped() const { return FDropped; }

private:
    class TReader;

    void Flush(TReader* reader);
    void Drop(TReader* reader);

    std::string FLine;
    std::vector<TReader*> FReaders; // oldest first
    std::size_t FDropped = 0;
};
