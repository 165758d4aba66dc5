// A first check of 1,000 new messages with previews beside the same check
// without, POP3 and IMAP4 against a private Dovecot: the start of each
// message's text is asked in the same commands (IMAP4's batched UID FETCH,
// POP3's pipelined TOP), so only the bytes and the extraction cost more.
//
//   Pop3Previews / Imap4Previews    one first check, previews on
//   Pop3Plain / Imap4Plain          the same check, previews off
//   Interleaved/<protocol>          previews on, off, and off again once per
//                                   round in rotating order, with the medians
//                                   of the per-round ratios on/off (goal: at
//                                   most 1.15), the second against the
//                                   repeated check as a measure of the noise
//   Bare/<protocol>                 the same rounds from a bare socket sending
//                                   the same commands: the server's share
//   Versus/<protocol>               ours with previews, the bare socket with
//                                   previews, and ours without, once per
//                                   round in rotating order: ours over the
//                                   bare socket sending the same commands
//                                   (goal: at most 1.1)
//
// A check with previews keeps each message's body start and makes the
// previews of the first three in the session, as the program does for those
// the notification shows (none of these needs more of its body: no further
// command goes out).
//
//   HelperStart                     one preview with no helper running: its
//                                   start, as the first check after the
//                                   helper's rest time pays it
//
// Each also counts the round trips of one of its checks through a loopback
// relay (goal: the same with previews as without), and the messages that
// got a preview; the single checks say what their messages keep for the
// previews not yet made (kept_kb). The mailbox mixes quoted-printable Latin-1 text,
// multipart/alternative with HTML, HTML-only newsletters and base64 UTF-8.
//
// Run:  build/bench/bench_preview   (needs dovecot)
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/MessagePreview.h"
#include "mail/Pop3Client.h"

#include "BareSessions.h"
#include "CheckTiming.h"
#include "TurnCounter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::string Lines(const std::string& line, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += line + std::to_string(i) + "\r\n";
    return out;
}

// Message n of the mailbox: one of four kinds of body, each a few KB.
std::string PreviewMessage(int n)
{
    const std::string id = std::to_string(n);
    std::string text = "Message-ID: <" + id + ".preview@example.org>\r\n"
                       "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\n"
                       "From: =?ISO-8859-1?Q?J=F6rg_Sender?= <sender" + id + "@example.org>\r\n"
                       "To: Bench <bench@example.net>\r\n"
                       "Subject: Report " + id + " of the week\r\n"
                       "MIME-Version: 1.0\r\n";
    switch (n % 4)
    {
    case 0:
        return text + "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
               Lines("Gr=FC=DFe aus K=F6ln, the figures of the week are in the attached table, line ", 60);
    case 1:
        return text + "Content-Type: multipart/alternative; boundary=\"alt" + id + "\"\r\n\r\n--alt" + id +
               "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + Lines("Plain words of the report, line ", 30) +
               "\r\n--alt" + id + "\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body>" +
               Lines("<p>Plain words of the <b>report</b>, line ", 40) + "</body></html>\r\n--alt" + id + "--\r\n";
    case 2:
        return text + "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                      "<html><head><style>" + Lines("td.c { color: #333; padding: 0 } /* ", 30) +
               "</style></head><body><table><tr><td>&nbsp;&zwnj;</td><td class=3D\"c\">Sale &amp; news of the week" +
               "</td></tr></table>" + Lines("<div>More offers &mdash; row ", 40) + "</body></html>\r\n";
    default:
    {
        text += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        for (int i = 0; i < 50; ++i)
            text += "w7xiZXIgYWxsZXMgaW4gZGVyIFdlbHQsIGRpZSBaYWhsZW4gZGVyIFdvY2hlIHNpbmQgZGEu\r\n";
        return text;
    }
    }
}

std::unique_ptr<Dovecot>& ServerSlot()
{
    static std::unique_ptr<Dovecot> server;
    return server;
}

// A first check of every message; throws when one is missed, or when a
// check with previews leaves a message without one.
struct TPreviewCheck
{
    bool Imap4;
    TIdPOP3 Pop;
    TIdIMAP4 Imap;
    TPop3CheckClient Pop3Check{Pop};
    TImap4CheckClient Imap4Check{Imap};

    // Body bytes the last check's messages keep for previews not yet made.
    std::size_t HeldBytes = 0;

    explicit TPreviewCheck(bool imap4) : Imap4(imap4) {}

    int Run(Dovecot& server, uint16_t port, bool previews, bool makeAll = false)
    {
        TCheckClient& client = Imap4 ? static_cast<TCheckClient&>(Imap4Check) : Pop3Check;
        client.SetAccount(BenchAccount(server, port), port);
        client.ReadPreviews = previews;
        client.ShownPreviews = previews ? NoticePreviews : 0;
        client.Connect();
        const int count = client.MessageCount();
        benchmark::DoNotOptimize(client.MessageIds(1, count));
        std::vector<int> numbers(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            numbers[static_cast<std::size_t>(i)] = i + 1;
        const std::vector<TFetchedMessage> fetched = client.FetchMessages(numbers);
        HeldBytes = 0;
        client.Disconnect();
        // The previews the notification shows were made in the session; the
        // others keep their bytes until the window or a command asks (all of
        // them here when `makeAll`, untimed).
        int withPreview = 0;
        for (std::size_t i = 0; i < fetched.size(); ++i)
        {
            const TPreview& preview = fetched[i].Header.Preview;
            if (i < NoticePreviews || makeAll)
                benchmark::DoNotOptimize(preview.Text());
            withPreview += !preview.Blank();
            HeldBytes += preview.HeldBytes();
        }
        if (withPreview != (previews ? count : 0))
            throw std::runtime_error(std::to_string(withPreview) + " of " + std::to_string(count) +
                                     " messages got a preview");
        return count;
    }
};

Dovecot& Server()
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    // The helper starts in the first check with previews: not timed (the
    // checks that follow find it running, as checks within its rest time
    // do; HelperStart times a start).
    return FilledServer(
        ServerSlot(), [](Dovecot& server) { return TPreviewCheck(true).Run(server, server.ImapPort(), true, true); },
        PreviewMessage);
}

TPreviewCheck& Check(bool imap4)
{
    static std::unique_ptr<TPreviewCheck> made[2];
    if (!made[imap4])
        made[imap4] = std::make_unique<TPreviewCheck>(imap4);
    return *made[imap4];
}

uint16_t PortOf(Dovecot& server, bool imap4)
{
    return imap4 ? server.ImapPort() : server.Pop3Port();
}

int CountTurns(Dovecot& server, bool imap4, bool previews)
{
    TTurnCounter relay(PortOf(server, imap4));
    TPreviewCheck check(imap4);
    if (check.Run(server, relay.Port(), previews) != MessageCount)
        throw std::runtime_error("a check through the relay missed messages");
    for (int i = 0; i < 200 && relay.Turns() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return relay.Turns();
}

template <bool Imap4, bool Previews>
void BM_Check(benchmark::State& state)
{
    Dovecot& server = Server();
    TPreviewCheck& check = Check(Imap4);
    const uint16_t port = PortOf(server, Imap4);
    TimeChecks(state, [&](Dovecot& s) { return check.Run(s, port, Previews); }, server, MessageCount);
    state.counters["round_trips"] = CountTurns(server, Imap4, Previews);
    state.counters["kept_kb"] = static_cast<double>(check.HeldBytes) / 1024;
}

template <bool Imap4>
void BM_Interleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    TPreviewCheck& check = Check(Imap4);
    const uint16_t port = PortOf(server, Imap4);
    const char* const names[3] = {Imap4 ? "imap4_previews" : "pop3_previews", "plain", "plain_again"};
    TimeRotatedRounds(
        state,
        [&](int k) { return TimedCheck([&](Dovecot& s) { return check.Run(s, port, k == 0); }, server, MessageCount); },
        names, 1.15, 1.15);
}

// Ours with previews beside the bare socket sending the same commands, in
// the same rounds.
template <bool Imap4>
void BM_Versus(benchmark::State& state)
{
    Dovecot& server = Server();
    TPreviewCheck& check = Check(Imap4);
    const uint16_t port = PortOf(server, Imap4);
    const char* const names[3] = {Imap4 ? "imap4_previews" : "pop3_previews",
                                  Imap4 ? "bare_imap4_previews" : "bare_pop3_previews", "plain"};
    TimeRotatedRounds(
        state,
        [&](int k) {
            return TimedCheck(
                [&](Dovecot& s) {
                    if (k == 1)
                        return Imap4 ? BareImap4Check(s.ImapPort(), TIdIMAP4::HeaderFetchItems(true))
                                     : BarePop3Check(s.Pop3Port(), true, PreviewBodyLines);
                    return check.Run(s, port, k == 0);
                },
                server, MessageCount);
        },
        names, 1.1, 0);
}

void BM_HelperStart(benchmark::State& state)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    const std::string fields = "Content-Type: text/html; charset=utf-8\r\n";
    for (auto _ : state)
    {
        StopPreviewHelper();
        const auto start = std::chrono::steady_clock::now();
        if (MessagePreview(fields, "<p>&Eacute;t&eacute;</p>").empty())
            throw std::runtime_error("the helper made no preview");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

// The same rounds from a bare socket sending the same commands: what the
// server and the loopback take for the body's start, with no client of ours.
template <bool Imap4>
void BM_BareInterleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    const char* const names[3] = {Imap4 ? "bare_imap4_previews" : "bare_pop3_previews", "bare_plain",
                                  "bare_plain_again"};
    TimeRotatedRounds(
        state,
        [&](int k) {
            return TimedCheck(
                [&](Dovecot& s) {
                    if (Imap4)
                        return BareImap4Check(s.ImapPort(), TIdIMAP4::HeaderFetchItems(k == 0));
                    return BarePop3Check(s.Pop3Port(), true, k == 0 ? PreviewBodyLines : 0);
                },
                server, MessageCount);
        },
        names, 0, 0);
}

} // namespace

BENCHMARK(BM_Check<false, true>)->Name("Pop3Previews")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check<false, false>)->Name("Pop3Plain")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check<true, true>)->Name("Imap4Previews")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check<true, false>)->Name("Imap4Plain")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved<false>)->Name("Interleaved/pop3")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved<true>)->Name("Interleaved/imap4")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareInterleaved<false>)->Name("Bare/pop3")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareInterleaved<true>)->Name("Bare/imap4")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Versus<false>)->Name("Versus/pop3")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Versus<true>)->Name("Versus/imap4")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HelperStart)->Name("HelperStart")->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunCheckBenchmarks(argc, argv, "bench_preview", [] { ServerSlot().reset(); });
}
