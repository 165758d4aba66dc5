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

// The helper process, started on the first request; one exchange at a time.
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
    Gone,   // the helper had ended (its rest time) or ended on a request
    Silent, // no whole answer in time, or a broken one
};

// Takes the whole answers at the start of `received` into `answers`; false
// when one is broken.
bool TakeAnswers(std::string& received, std::vector<std::string>& answers)
{
    for (;;)
    {
        const std::size_t end = received.find('\n');
        std::size_t length = 0;
        if (end == std::string::npos)
            return received.size() <= 32;
        if (!PreviewNumbers(std::string_view(received).substr(0, end), &length, 1))
            return false;
        if (received.size() < end + 1 + length)
            return true;
        answers.push_back(received.substr(end + 1, length));
        received.erase(0, end + 1 + length);
    }
}

// The requests on `socket` and their answers, within the limit. They go
// out while answers come back, so neither side waits on a full buffer.
TExchange Exchange(int socket, const std::vector<std::string>& requests, std::vector<std::string>& answers)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + PreviewAnswerLimit;
    std::string pending;
    for (const std::string& request : requests)
        pending += request;
    std::size_t sent = 0;
    std::string received;
    answers.clear();
    while (answers.size() < requests.size())
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return TExchange::Silent;
        pollfd p{socket, static_cast<short>(POLLIN | (sent < pending.size() ? POLLOUT : 0)), 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return TExchange::Silent;
        if ((p.revents & POLLOUT) && sent < pending.size())
        {
            const ssize_t n = ::send(socket, pending.data() + sent, pending.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return answers.empty() && received.empty() ? TExchange::Gone : TExchange::Silent;
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR))
        {
            char chunk[4096];
            const ssize_t n = ::recv(socket, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return answers.empty() && received.empty() ? TExchange::Gone : TExchange::Silent;
            received.append(chunk, static_cast<std::size_t>(n));
            if (!TakeAnswers(received, answers) || answers.size() > requests.size())
                return TExchange::Silent;
        }
    }
    return received.empty() ? TExchange::Answered : TExchange::Silent;
}

// The helper's answers, one a request; all empty when it cannot be started
// or fails.
std::vector<std::string> AskHelper(const std::vector<std::string>& requests)
{
    std::vector<std::string> answers;
    if (requests.empty())
        return answers;
    THelper& helper = Helper();
    std::lock_guard<std::mutex> guard(helper.Lock);
    // A helper that ended on its rest time as the requests went out gets one
    // successor; one that ended on a message itself is not asked twice.
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        if (helper.Socket < 0 && !helper.Start())
            break;
        const TExchange outcome = Exchange(helper.Socket, requests, answers);
        if (outcome == TExchange::Answered)
            return answers;
        helper.Stop(outcome == TExchange::Silent);
        if (outcome == TExchange::Silent)
            break;
    }
    return std::vector<std::string>(requests.size());
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
    return AskHelper({PreviewRequest(mimeFields, body, PreviewChars)}).front();
}

TPreview TPreview::Of(std::string mimeFields, std::string body, bool cut)
{
    TPreview preview;
    preview.FCut = cut || body.size() >= PreviewBodyBytes;
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
        MakeAll({this});
    FCut = false;
    std::string().swap(FMimeFields);
    return FText;
}

void TPreview::Took(std::string text) const
{
    FText = FDesktop ? DesktopText(text) : std::move(text);
    FPending = false;
    // Only one that may be read further needs its lines counted.
    if (FCut && FText.empty())
    {
        const auto lines = static_cast<std::size_t>(std::count(FBody.begin(), FBody.end(), '\n'));
        FFurtherLines = static_cast<int>(
            std::clamp<std::size_t>(PreviewFurtherBytes * lines / std::max<std::size_t>(FBody.size(), 1) + 1,
                                    PreviewBodyLines, MaxPreviewFurtherLines));
    }
    std::string().swap(FBody);
}

void TPreview::MakeAll(const std::vector<const TPreview*>& previews)
{
    std::vector<const TPreview*> pending;
    std::vector<std::string> requests;
    for (const TPreview* preview : previews)
        if (preview->FPending)
        {
            pending.push_back(preview);
            requests.push_back(PreviewRequest(preview->FMimeFields, preview->FBody, PreviewChars));
        }
    std::vector<std::string> answers = AskHelper(requests);
    for (std::size_t k = 0; k < pending.size(); ++k)
    {
        pending[k]->Took(std::move(answers[k]));
        if (!pending[k]->WantsFurther())
            std::string().swap(pending[k]->FMimeFields);
    }
}

void TPreview::ReadFurther(const std::vector<TPreview*>& previews, std::vector<std::string> bodies)
{
    bodies.resize(previews.size());
    std::vector<TPreview*> asked;
    std::vector<std::string> requests;
    for (std::size_t k = 0; k < previews.size(); ++k)
    {
        TPreview& preview = *previews[k];
        if (preview.WantsFurther() && !bodies[k].empty())
        {
            if (bodies[k].size() > PreviewFurtherBytes)
                bodies[k].resize(PreviewFurtherBytes);
            asked.push_back(&preview);
            requests.push_back(PreviewRequest(preview.FMimeFields, bodies[k], PreviewChars));
        }
    }
    std::vector<std::string> answers = AskHelper(requests);
    for (std::size_t k = 0; k < asked.size(); ++k)
        asked[k]->Took(std::move(answers[k]));
    for (TPreview* preview : previews)
    {
        preview->FCut = false;
        std::string().swap(preview->FMimeFields);
    }
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
