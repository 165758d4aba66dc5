#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback TCP server on 127.0.0.1 (port 0: the system picks one) that plays
// a transcript on its own thread, for tests of line protocols.
//
// The transcript is one string, one step per line; leading blanks, empty
// lines and lines starting with '#' are ignored:
//
//   S: text      send "text" CR LF ("S:" alone sends an empty line)
//   R: text      send raw bytes, no CR LF added; escapes \r \n \t \\ \xHH
//   C: text      expect this line from the client, ended by CR LF
//   C~ text      expect a client line that begins with "text"
//   CLOSE        end the server's side (FIN); what the client still sends
//                is recorded
//   RESET        abort the connection (RST)
//   WAIT CLOSE   wait until the client closes its end
//   STALL        never answer: wait until the client closes (or the server
//                is destroyed), recording what arrives
//   SLEEP n      pause n milliseconds
//   ACCEPT       finish the current connection and accept the next one
//   FLOOD n text send the raw bytes of "text" (escapes as R:) over and over,
//                n bytes in all, without holding them; a client that hangs
//                up ends the step quietly
//   DRIP ms text send the raw bytes of "text" one at a time, ms apart; a
//                client that hangs up ends the step quietly
//
// The first connection is accepted before the first step. A wrong or missing
// client line is a failure: the server records it, drops the connection and
// stops; the destructor reports every failure to GoogleTest. After the last
// step the server keeps reading and recording until the client closes.
// Every wait is bounded by the step time-out (STALL and the final reading
// by the server's destruction), so a test never hangs.
//
//   ScriptedServer srv(R"(
//       S: +OK ready
//       C: USER ann
//       S: +OK
//   )");
//   client.Host = srv.Host(); client.Port = srv.Port();
class ScriptedServer
{
public:
    explicit ScriptedServer(const std::string& script, int stepTimeoutMs = 5000);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string Host() const { return "127.0.0.1"; }
    int Port() const { return FPort; }

    // Waits until every step ran (or one failed); false on time-out.
    bool WaitDone(int timeoutMs = 5000);
    // Waits until the script ran and the client closed the last connection.
    bool WaitClientClosed(int timeoutMs = 5000);

    // Everything the client sent, over all connections, in order.
    std::string Received() const;
    // The same split at LF, a CR before the LF removed.
    std::vector<std::string> ReceivedLines() const;
    // What the client sent after the last step.
    std::string ReceivedAfterScript() const;
    std::vector<std::string> Failures() const;
    bool Ok() const { return Failures().empty(); }
    int Connections() const;

    // A loopback port that was just free (bound and closed again).
    static int UnusedPort();

private:
    enum Kind
    {
        Send,
        Expect,
        ExpectPrefix,
        Close,
        Reset,
        WaitClose,
        Stall,
        Sleep,
        Accept,
        Flood,
        Drip
    };
    struct Step
    {
        Kind What;
        std::string Text;
        int Line;
        int Millis;
    };

    void Parse(const std::string& script);
    void Run();
    bool RunStep(const Step& step);
    bool AcceptNext();
    void CloseConnection();
    // Reads once into the pending bytes; 1 data, 0 client closed, -1 time-out
    // or stop. `timeoutMs` -1 waits until stopped.
    int ReadSome(int timeoutMs);
    // Sends what it can of `bytes` within the step time-out: the count sent,
    // 0 when the client is gone or the server stops.
    std::size_t SendSome(const char* bytes, std::size_t size);
    void Fail(const std::string& message);
    bool Stopping();

    std::vector<Step> FSteps;
    int FStepTimeout;
    int FListen = -1;
    int FConn = -1;
    int FPort = 0;
    int FStopRead = -1;
    int FStopWrite = -1;
    std::string FPending;
    bool FClientEof = false;

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::string FReceived;
    std::size_t FScriptEnd = std::string::npos;
    std::vector<std::string> FFailures;
    bool FDone = false;
    bool FClosedAtEnd = false;
    int FConnections = 0;
    std::thread FThread;
};
