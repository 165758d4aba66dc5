#include "mail/MessagePreview.h"

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/ExeFolder.h"
#include "platform/Process.h"
#include "preview/PreviewProtocol.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>

namespace
{

// The longest a preview may take, its helper's start included: far past an
// honest one (a millisecond), short of a helper that hangs on a message.
constexpr std::chrono::milliseconds PreviewAnswerLimit{10000};

// The helper process, started on the first request; one request at a time.
struct THelper
{
    std::mutex Lock;
    std::string Folder;
    std::unique_ptr<TChildProcess> Child;
    int Socket = -1;
    bool Started = false;

    bool Start()
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            return false;
        try
        {
            const std::string folder = Folder.empty() ? ExecutableFolder() : Folder;
            Child = std::make_unique<TChildProcess>(std::vector<std::string>{folder + PreviewHelperName}, "",
                                                    ends[1]);
        }
        catch (const Exception&)
        {
            ::close(ends[0]);
            ::close(ends[1]);
            return false;
        }
        ::close(ends[1]);
        Socket = ends[0];
        Started = true;
        return true;
    }

    // Its input closes, so it ends; one that may hang is ended at once.
    void Stop(bool hung)
    {
        if (Socket >= 0)
            ::close(Socket);
        Socket = -1;
        if (Child && hung)
            ::kill(Child->Pid(), SIGKILL);
        // Reaped in the background once it has ended.
        Child.reset();
    }
};

// Never destroyed: at the program's end its socket closes with it, and the
// helper ends on that.
THelper& Helper()
{
    static THelper* helper = new THelper;
    return *helper;
}

enum class TExchange
{
    Answered,
    Gone,   // the helper had ended (its rest time) or ended on the request
    Silent, // no whole answer in time, or a broken one
};

// One request and its answer on `socket`, within the limit.
TExchange Exchange(int socket, const std::string& request, std::string& answer)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + PreviewAnswerLimit;
    const auto wait = [&](short events) {
        for (;;)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{socket, events, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready > 0)
                return true;
            if (ready == 0 || errno != EINTR)
                return false;
        }
    };
    for (std::size_t sent = 0; sent < request.size();)
    {
        if (!wait(POLLOUT))
            return TExchange::Silent;
        const ssize_t n = ::send(socket, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return TExchange::Gone;
        sent += static_cast<std::size_t>(n);
    }
    std::string received;
    std::size_t length = 0;
    std::size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos || received.size() < headerEnd + 1 + length)
    {
        if (!wait(POLLIN))
            return TExchange::Silent;
        char chunk[4096];
        const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return received.empty() ? TExchange::Gone : TExchange::Silent;
        received.append(chunk, static_cast<std::size_t>(n));
        if (headerEnd == std::string::npos)
        {
            headerEnd = received.find('\n');
            if (headerEnd == std::string::npos)
            {
                if (received.size() > 32)
                    return TExchange::Silent;
                continue;
            }
            if (!PreviewNumbers(std::string_view(received).substr(0, headerEnd), &length, 1))
                return TExchange::Silent;
        }
        if (received.size() > headerEnd + 1 + length)
            return TExchange::Silent; // more than was asked
    }
    answer = received.substr(headerEnd + 1);
    return TExchange::Answered;
}

// The helper's answer; empty when it cannot be started or fails.
std::string AskHelper(const std::string& head, const std::string& body, std::size_t maxChars)
{
    THelper& helper = Helper();
    std::lock_guard<std::mutex> guard(helper.Lock);
    const std::string request = PreviewRequest(head, body, maxChars);
    // A helper that ended on its rest time as the request went out gets one
    // successor; one that ended on the message itself is not asked twice.
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        if (helper.Socket < 0 && !helper.Start())
            return {};
        std::string answer;
        const TExchange outcome = Exchange(helper.Socket, request, answer);
        if (outcome == TExchange::Answered)
            return answer;
        helper.Stop(outcome == TExchange::Silent);
        if (outcome == TExchange::Silent)
            return {};
    }
    return {};
}

bool IsMimeField(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view name = line.substr(0, colon);
    return AsciiText::SameText(name.substr(0, std::min<std::size_t>(name.size(), 8)), "Content-") ||
           AsciiText::SameText(name, "MIME-Version");
}

bool IsFolded(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Keeps the MIME fields of the lines `next` hands out, each with its
// folded lines.
template <typename TNext>
std::string KeepMimeFields(TNext next)
{
    std::string kept;
    bool keeping = false;
    std::string_view line;
    while (next(line))
    {
        if (!IsFolded(line))
            keeping = IsMimeField(line);
        // The fields of an honest header are short; a flood of them is cut.
        if (keeping && kept.size() + line.size() <= PreviewBodyBytes)
            kept.append(line).append("\r\n");
    }
    return kept;
}

} // namespace

std::string MimeFieldsOf(std::string_view header)
{
    std::size_t pos = 0;
    return KeepMimeFields([&](std::string_view& line) {
        if (pos >= header.size())
            return false;
        std::size_t end = header.find('\n', pos);
        if (end == std::string_view::npos)
            end = header.size();
        line = header.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = end + 1;
        return true;
    });
}

std::string MimeFieldsOf(const TIdHeaderList& header)
{
    std::size_t i = 0;
    return KeepMimeFields([&](std::string_view& line) {
        if (i >= header.Lines.size())
            return false;
        line = header.Lines[i++];
        return true;
    });
}

std::string MessagePreview(const std::string& mimeFields, std::string body, std::size_t bound)
{
    if (body.size() > bound)
        body.resize(bound);
    return AskHelper(mimeFields, body, PreviewChars);
}

TPreview TPreview::Of(std::string mimeFields, std::string body, bool cut)
{
    TPreview preview;
    preview.FCut = cut || body.size() >= PreviewBodyBytes;
    const auto lines = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
    preview.FFurtherLines = static_cast<int>(
        std::clamp<std::size_t>(PreviewFurtherBytes * lines / std::max<std::size_t>(body.size(), 1) + 1,
                                PreviewBodyLines, MaxPreviewFurtherLines));
    // A copy: a string cut in place keeps the memory of all a server sent.
    if (body.size() > PreviewBodyBytes)
        body = body.substr(0, PreviewBodyBytes);
    preview.FMimeFields = std::move(mimeFields);
    preview.FBody = std::move(body);
    preview.FPending = true;
    return preview;
}

const std::string& TPreview::Text() const
{
    if (FPending)
        Make();
    FCut = false;
    std::string().swap(FMimeFields);
    return FText;
}

void TPreview::Make() const
{
    FText = MessagePreview(FMimeFields, std::move(FBody));
    if (FDesktop)
        FText = DesktopText(FText);
    FPending = false;
    std::string().swap(FBody);
}

bool TPreview::MakeWantingFurther()
{
    if (FPending)
        Make();
    FCut = FCut && FText.empty();
    if (!FCut)
        std::string().swap(FMimeFields);
    return FCut;
}

void TPreview::ReadFurther(std::string body)
{
    if (FCut && !body.empty())
    {
        FText = MessagePreview(FMimeFields, std::move(body), PreviewFurtherBytes);
        if (FDesktop)
            FText = DesktopText(FText);
    }
    FCut = false;
    std::string().swap(FMimeFields);
}

std::string DesktopText(const std::string& utf8)
{
    if (utf8.empty() || DesktopCodePage() == "UTF-8")
        return utf8;
    std::string text;
    ConvertCharset(utf8, "UTF-8", DesktopCodePage(), text);
    return text;
}

void SetPreviewHelperFolder(const std::string& folder)
{
    THelper& helper = Helper();
    std::lock_guard<std::mutex> guard(helper.Lock);
    helper.Folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool PreviewHelperStarted()
{
    THelper& helper = Helper();
    std::lock_guard<std::mutex> guard(helper.Lock);
    return helper.Started;
}

pid_t PreviewHelperPid()
{
    THelper& helper = Helper();
    std::lock_guard<std::mutex> guard(helper.Lock);
    return helper.Child ? helper.Child->Pid() : -1;
}

void StopPreviewHelper()
{
    THelper& helper = Helper();
    std::lock_guard<std::mutex> guard(helper.Lock);
    helper.Stop(false);
}
