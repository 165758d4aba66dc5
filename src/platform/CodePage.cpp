#include "platform/CodePage.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <iconv.h>

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
    Iconv(const char* to, const char* from) : FConverter(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (valid())
            iconv_close(FConverter);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return FConverter != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return FConverter; }

private:
    iconv_t FConverter;
};

// Runs the whole input through cd; on an invalid or unconvertible byte it
// writes `replacement` (when not empty) and skips one input byte.
bool Run(iconv_t cd, const std::string& input, std::string& output, const std::string& replacement)
{
    output.clear();
    bool clean = true;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buf[4096];
    while (true)
    {
        char* out = buf;
        size_t outLeft = sizeof buf;
        const size_t r = iconv(cd, inLeft ? &in : nullptr, inLeft ? &inLeft : nullptr, &out, &outLeft);
        output.append(buf, static_cast<size_t>(out - buf));
        if (r != static_cast<size_t>(-1))
        {
            if (inLeft == 0)
                break;
            continue;
        }
        if (errno == E2BIG)
            continue;
        clean = false;
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
    Iconv cd(to.c_str(), from.c_str());
    if (!cd.valid())
    {
        output.clear();
        return false;
    }
    return Run(cd.get(), input, output, {});
}

QString FromCodePage(const std::string& text)
{
    Iconv cd("UTF-8", DesktopCodePage().c_str());
    std::string utf8;
    if (!cd.valid())
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    Run(cd.get(), text, utf8, "\xEF\xBF\xBD");
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToCodePage(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    Iconv cd(DesktopCodePage().c_str(), "UTF-8");
    std::string out;
    if (!cd.valid())
        return text.toLatin1().toStdString();
    Run(cd.get(), std::string(utf8.constData(), static_cast<size_t>(utf8.size())), out, "?");
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
