#pragma once

#include "support/TestHelpers.h"

#include <functional>
#include <string>

// A mail server behind a link of the test's own: before main the process
// makes two network namespaces, the far one (where servers run) and the
// near one (where the test and the program under test live), each with
// loopback up; the constructor joins them by a veth pair, NearAddress on
// the near end and FarAddress on the far one. Drop makes the link a black
// hole with nftables, on both ends, so a packet sent either way is lost on
// arrival: no reset and no FIN reaches either side, as when a laptop sleeps
// or its network goes; Restore lets them through again.
//
//     PrivateLink link;
//     link.OnFarSide([&] { dovecot.ServeOn(PrivateLink::FarAddress); dovecot.Start(); });
//     link.Drop();
class PrivateLink
{
public:
    static constexpr const char* NearAddress = "10.9.0.1";
    static constexpr const char* FarAddress = "10.9.0.2";

    // Empty when a link can be made here (namespaces, root, ip and nft),
    // else why not.
    static std::string Unavailable();

    PrivateLink();
    ~PrivateLink();
    PrivateLink(const PrivateLink&) = delete;
    PrivateLink& operator=(const PrivateLink&) = delete;

    // Runs `work` with the calling thread in the far namespace: the servers
    // it starts listen there, and every process it starts runs there.
    void OnFarSide(const std::function<void()>& work);
    void Drop();
    void Restore();
    bool Dropped() const { return FDropped; }

private:
    // Runs a shell command in the near namespace, or the far one; throws
    // when it fails.
    void Run(const std::string& command, bool far = false);

    TempFolder FFolder{"link"};
    bool FDropped = false;
};
