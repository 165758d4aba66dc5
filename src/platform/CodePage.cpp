#include "platform/CodePage.h"

#include "platform/RecentValues.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <memory>
#include <string>
#include <tuple>

namespace {

struct LanguagePage
{
    const char* Language;
    const char* CodePage;
};

constexpr LanguagePage kPages[] = {
    {"ru", "CP1251"}, {"uk", "CP1251"}, {"be", "CP1251"}, {"bg", "CP1251"},
    {"sr", "CP1251"}, {"mk", "CP1251"}, {"kk", "CP1251"},
    {"cs", "CP1250"}, {"pl", "CP1250"}, {"hu", "CP1250"}, {"sk", "CP1250"},
    {"sl", "CP1250"}, {"hr", "CP1250"}, {"ro", "CP1250"}, {"sq", "CP1250"},
    {"bs", "CP1250"},
    {"el", "CP1253"}, {"tr", "CP1254"}, {"he", "CP1255"}, {"ar", "CP1256"},
    {"fa", "CP1256"}, {"ur", "CP1256"},
    {"lt", "CP1257"}, {"lv", "CP1257"}, {"et", "CP1257"},
    {"vi", "CP1258"}, {"th", "CP874"},
    {"ja", "CP932"}, {"ko", "CP949"},
};

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

std::string LanguageOfEnvironment()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
    {
        const char* v = std::getenv(name);
        if (v && *v)
            return v;
    }
    return {};
}

} // namespace

std::string CodePageForLanguage(const std::string& language)
{
    const std::string lang = language.substr(0, language.find_first_of("_.@"));
    if (lang == "zh")
    {
        const bool traditional = language.find("_TW") != std::string::npos ||
                                 language.find("_HK") != std::string::npos;
        return traditional ? "CP950" : "CP936";
    }
    for (const auto& p : kPages)
        if (lang == p.Language)
            return p.CodePage;
    return "CP1252";
}

const std::string& DesktopCodePage()
{
    static const std::string page = CodePageForLanguage(LanguageOfEnvironment());
    return page;
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
