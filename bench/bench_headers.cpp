// Loading the headers of 10,000 realistic messages (about 2 KB of header each,
// with encoded words, folded fields and several addresses). Reports messages
// per second as items_per_second.
#include "mail/EncodedWords.h"
#include "mail/IdMessage.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace
{

// Small deterministic generator, so every run parses the same mail.
struct Lcg
{
    std::uint32_t state = 12345;
    std::uint32_t Next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    std::size_t Pick(std::size_t n) { return Next() % n; }
};

const char* const kNames[] = {
    "=?ISO-8859-1?Q?J=F6rg_M=FCller?=", "\"Smith, Ann\"", "Bob Jones", "=?KOI8-R?B?8NLJ18XU?=",
    "=?windows-1252?Q?Fran=E7ois?=", "=?UTF-8?B?U8O2cmVu?=", "support", "\"O'Brien, Pat (IT)\"",
};
const char* const kDomains[] = {"example.org", "mail.example.com", "lists.example.net", "x.example.de"};
const char* const kSubjects[] = {
    "=?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?=",
    "Re: [dev] =?ISO-8859-1?Q?=DCberarbeitung_der?= =?ISO-8859-1?Q?_Schnittstelle?=",
    "Your invoice 2026-1187 is ready",
    "=?KOI8-R?B?8NLJ18XUIMnaIO3P08vXyQ==?=",
    "=?UTF-8?B?0J/RgNC40LLQtdGC?=",
    "Fwd: meeting notes (=?windows-1252?Q?=93draft=94?=)",
};

std::string Address(Lcg& r, int i)
{
    return std::string(kNames[r.Pick(8)]) + " <user" + std::to_string(i) + "@" + kDomains[r.Pick(4)] + ">";
}

std::vector<std::string> MakeHeader(Lcg& r, int n)
{
    std::vector<std::string> h;
    for (int i = 0; i < 4; ++i)
    {
        h.push_back("Received: from relay" + std::to_string(i) + ".example.net (relay" + std::to_string(i) +
                    ".example.net [192.0.2." + std::to_string(r.Pick(250)) + "])");
        h.push_back("\tby mx.example.org (Postfix) with ESMTPS id 4F" + std::to_string(r.Next()));
        h.push_back("\tfor <user@example.org>; Mon, 7 Dec 2026 20:41:28 +0100 (CET)");
    }
    h.push_back("DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net; s=mail;");
    h.push_back("\th=from:to:subject:date:message-id; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;");
    for (int i = 0; i < 4; ++i)
        h.push_back("\tb=dGhpcyBpcyBub3QgYSByZWFsIHNpZ25hdHVyZSBidXQgaXQgaGFzIHRoZSByaWdodCBsZW5ndGg" +
                    std::to_string(r.Next()));
    h.push_back("Date: Mon, " + std::to_string(1 + r.Pick(28)) + " Dec 2026 " + std::to_string(r.Pick(24)) +
                ":41:28 +0100");
    h.push_back("From: " + Address(r, n));
    std::string to = "To: " + Address(r, n + 1);
    for (int i = 2; i < 5; ++i)
        to += ", " + Address(r, n + i);
    h.push_back(to);
    h.push_back("Cc: " + Address(r, n + 7) + ",");
    h.push_back("  " + Address(r, n + 8));
    h.push_back("Subject: " + std::string(kSubjects[r.Pick(6)]));
    h.push_back("Message-ID: <" + std::to_string(r.Next()) + "." + std::to_string(n) + "@example.org>");
    h.push_back("References: <a1@example.org> <b2@example.org> <c3@example.org>");
    h.push_back("MIME-Version: 1.0");
    h.push_back("Content-Type: multipart/alternative; charset=\"iso-8859-1\";");
    h.push_back("\tboundary=\"----=_Part_" + std::to_string(r.Next()) + "\"");
    h.push_back("Content-Transfer-Encoding: 8bit");
    h.push_back("X-Priority: " + std::to_string(1 + r.Pick(5)));
    h.push_back("List-Unsubscribe: <mailto:leave@lists.example.net>, <https://lists.example.net/u>");
    h.push_back("X-Mailer: Example Mail 4.2");
    h.push_back("Reply-To: list@lists.example.net");
    return h;
}

const std::vector<std::vector<std::string>>& Messages()
{
    static const std::vector<std::vector<std::string>> all = [] {
        Lcg r;
        std::vector<std::vector<std::string>> v;
        v.reserve(10000);
        for (int i = 0; i < 10000; ++i)
            v.push_back(MakeHeader(r, i));
        return v;
    }();
    return all;
}

std::size_t HeaderBytes()
{
    std::size_t bytes = 0;
    for (const auto& m : Messages())
        for (const auto& line : m)
            bytes += line.size() + 2;
    return bytes;
}

void BM_LoadHeaders(benchmark::State& state)
{
    const auto& messages = Messages();
    for (auto _ : state)
    {
        for (const auto& lines : messages)
        {
            TIdMessage m;
            m.HeaderLines.Lines = lines;
            m.LoadFromHeaderLines();
            benchmark::DoNotOptimize(m.From().Text());
            benchmark::DoNotOptimize(m.Subject);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(messages.size()));
    state.counters["header_bytes_avg"] = static_cast<double>(HeaderBytes()) / static_cast<double>(messages.size());
}
BENCHMARK(BM_LoadHeaders)->Unit(benchmark::kMillisecond);

// Subject decoding alone, raw and into the desktop code page.
void BM_DecodeSubjects(benchmark::State& state)
{
    const std::string page = state.range(0) ? "CP1251" : "";
    for (auto _ : state)
        for (const char* s : kSubjects)
            benchmark::DoNotOptimize(DecodeEncodedWords(s, page));
    state.SetItemsProcessed(state.iterations() * 6);
}
BENCHMARK(BM_DecodeSubjects)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
