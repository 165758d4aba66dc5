// The preview helper: answers the program's requests on its standard input
// and output (preview/PreviewProtocol.h) until the input closes or rests.
#include "preview/PreviewProtocol.h"
#include "preview/TextPreview.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace
{

// Whether input comes within `ms`.
bool InputWithin(int ms)
{
    pollfd input{STDIN_FILENO, POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&input, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// Appends what the input holds; false at its end.
bool ReadMore(std::string& buffer)
{
    char chunk[65536];
    ssize_t n = 0;
    do
        n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

bool WriteAll(const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();)
    {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main()
{
    // The longest first line a request has: three numbers.
    constexpr std::size_t longestLine = 64;
    std::string input;
    for (;;)
    {
        std::size_t end = input.find('\n');
        while (end == std::string::npos)
        {
            // Between requests the helper only waits its rest time.
            if (input.size() > longestLine || (input.empty() && !InputWithin(PreviewHelperRestMs)) ||
                !ReadMore(input))
                return 0;
            end = input.find('\n');
        }
        std::size_t numbers[3];
        if (!PreviewNumbers(std::string_view(input).substr(0, end), numbers, 3) ||
            numbers[0] + numbers[1] > MaxPreviewMessage)
            return 1;
        input.erase(0, end + 1);
        const std::size_t size = numbers[0] + numbers[1];
        while (input.size() < size)
            if (!ReadMore(input))
                return 0;
        const std::string head = input.substr(0, numbers[0]);
        const std::string body = input.substr(numbers[0], numbers[1]);
        input.erase(0, size);
        if (!WriteAll(PreviewAnswer(TextPreview(head, body, numbers[2]))))
            return 0;
    }
}
