#include "platform/CodePage.h"

#include "platform/AsciiText.h"
#include "platform/RecentValues.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <string>
#include <tuple>

namespace {

// Owns one iconv descriptor.
class Iconv
{
public:
    Iconv(const char* to, const char* from) : FConverter(iconv_open(to, from)), FError(valid() ? 0 : errno) {}
    ~Iconv()
    {
        if (valid())
            iconv_close(FConverter);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return FConverter != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return FConverter; }
    // errno of a failed open.
    int error() const { return FError; }

private:
    iconv_t FConverter;
    int FError;
};

// Opening a converter costs far more than most conversions (every decoded
// word, every row's texts), so each thread keeps the ones it used last. A
// descriptor carries shift state and must not be shared between threads.
// The converter comes reset to its initial state; null when iconv does not
// know the pair.
iconv_t CachedConverter(const char* to, const char* from)
{
    thread_local TRecentValues<std::tuple<std::string, std::string>, Iconv, 16> converters;
    Iconv* converter = converters.Get(std::make_tuple(to, from), [&] {
        auto made = std::make_unique<Iconv>(to, from);
        // Only an unknown pair is worth remembering as a failure; running
        // out of memory or descriptors may pass.
        if (!made->valid() && made->error() != EINVAL)
            made.reset();
        return made;
    });
    if (!converter || !converter->valid())
        return nullptr;
    // Whatever shift state the last use left behind goes.
    iconv(converter->get(), nullptr, nullptr, nullptr, nullptr);
    return converter->get();
}

// Runs the whole input through cd; on an invalid or unconvertible byte it
// writes `replacement` (when not empty) and skips one input byte.
// With `stopAtBad` it gives up at the first such byte instead.
bool Run(iconv_t cd, const std::string& input, std::string& output, const std::string& replacement,
         bool stopAtBad = false)
{
    output.clear();
    bool clean = true;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buf[4096];
    while (true)
    {
        // With the input used up, one more call ends a stateful output
        // (ISO-2022-JP, UTF-7) with its shift back.
        const bool flushing = inLeft == 0;
        char* out = buf;
        size_t outLeft = sizeof buf;
        const size_t r = iconv(cd, inLeft ? &in : nullptr, inLeft ? &inLeft : nullptr, &out, &outLeft);
        output.append(buf, static_cast<size_t>(out - buf));
        if (r != static_cast<size_t>(-1))
        {
            if (flushing)
                break;
            continue;
        }
        if (errno == E2BIG)
            continue;
        clean = false;
        if (stopAtBad)
            break;
        if (errno == EILSEQ || errno == EINVAL)
        {
            if (inLeft == 0)
                break;
            output += replacement;
            // Skip one character's worth: for UTF-8 input a whole sequence.
            ++in;
            --inLeft;
            while (inLeft && (static_cast<unsigned char>(*in) & 0xC0) == 0x80 && replacement.size())
            {
                ++in;
                --inLeft;
            }
            continue;
        }
        break;
    }
    return clean;
}

std::string LocaleOfEnvironment()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
    {
        const char* v = std::getenv(name);
        if (v && *v)
            return v;
    }
    return {};
}

// The character set a locale name states: "de_DE.utf8@euro" says utf8.
std::string CodesetOfName(const std::string& locale)
{
    const std::size_t dot = locale.find('.');
    if (dot == std::string::npos)
        return {};
    return locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
}

} // namespace

std::string CodePageOfLocale(const std::string& locale)
{
    std::string codeset;
    if (locale_t loc = newlocale(LC_CTYPE_MASK, locale.c_str(), static_cast<locale_t>(nullptr)))
    {
        codeset = nl_langinfo_l(CODESET, loc);
        freelocale(loc);
    }
    else
        codeset = CodesetOfName(locale.empty() ? LocaleOfEnvironment() : locale);
    const std::string bare = AsciiText::UpperCase(codeset);
    if (bare == "UTF8" || bare == "UTF-8")
        return "UTF-8";
    // Plain C (ASCII) has no 8-bit characters at all: mail still needs them,
    // and what the toolkit takes for C is UTF-8 too.
    std::string probe;
    if (codeset.empty() || bare == "ANSI_X3.4-1968" || bare == "ASCII" || bare == "US-ASCII" ||
        !ConvertCharset({}, codeset, "UTF-8", probe))
        return "UTF-8";
    return codeset;
}

const std::string& DesktopCodePage()
{
    static const std::string page = CodePageOfLocale({});
    return page;
}

std::string CutAtCharacter(const std::string& text, std::size_t limit, const std::string& codePage)
{
    if (text.size() <= limit)
        return text;
    iconv_t cd = CachedConverter("UTF-32LE", codePage.c_str());
    if (!cd)
        return text.substr(0, limit);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = limit;
    char buf[1024];
    while (inLeft > 0)
    {
        char* out = buf;
        std::size_t outLeft = sizeof buf;
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        if (errno != EILSEQ)
            break; // EINVAL: the limit falls inside the character at `in`
        // A byte that is no character counts as one of its own.
        ++in;
        --inLeft;
    }
    return text.substr(0, limit - inLeft);
}

std::string CutAtCharacter(const std::string& text, std::size_t limit)
{
    return CutAtCharacter(text, limit, DesktopCodePage());
}

bool ConvertCharset(const std::string& input, const std::string& from, const std::string& to,
                    std::string& output)
{
    iconv_t cd = CachedConverter(to.c_str(), from.c_str());
    if (!cd)
    {
        output.clear();
        return false;
    }
    return Run(cd, input, output, {});
}

bool ConvertCharsetCleanly(const std::string& input, const std::string& from, const std::string& to,
                           std::string& output)
{
    iconv_t cd = CachedConverter(to.c_str(), from.c_str());
    if (!cd)
    {
        output.clear();
        return false;
    }
    return Run(cd, input, output, {}, true);
}

QString FromCodePage(const std::string& text)
{
    iconv_t cd = CachedConverter("UTF-8", DesktopCodePage().c_str());
    std::string utf8;
    if (!cd)
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    Run(cd, text, utf8, "\xEF\xBF\xBD");
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToCodePage(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    iconv_t cd = CachedConverter(DesktopCodePage().c_str(), "UTF-8");
    std::string out;
    if (!cd)
        return text.toLatin1().toStdString();
    Run(cd, std::string(utf8.constData(), static_cast<size_t>(utf8.size())), out, "?");
    return out;
}

std::string FileNameToCodePage(const std::string& fileName)
{
    return ToCodePage(QFile::decodeName(QByteArray(fileName.data(), static_cast<qsizetype>(fileName.size()))));
}

std::string CodePageToFileName(const std::string& desktopText)
{
    const QByteArray bytes = QFile::encodeName(FromCodePage(desktopText));
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
