#include "check/MailErrorText.h"
#include "i18n/Catalogs.h"
#include "i18n/Translate.h"
#include "mail/IdExceptions.h"
#include "platform/Exception.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{

// Error rows show mail errors in the user's language: here French, from a
// catalog of the texts the mail library raises.
class MailErrorTextTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string folder = Root.Path() + "/fr/LC_MESSAGES";
        const std::string po = Root.Write(
            "fr.po", "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                     "msgid \"Socket Error # %d\"\nmsgstr \"Erreur de socket n\xC2\xB0 %d\"\n\n"
                     "msgid \"Connection refused.\"\nmsgstr \"Connexion refus\xC3\xA9" "e.\"\n\n"
                     "msgid \"Read Timeout\"\nmsgstr \"D\xC3\xA9lai de lecture d\xC3\xA9pass\xC3\xA9\"\n\n"
                     "msgid \"'%s' is not a valid integer value\"\n"
                     "msgstr \"\xC2\xAB %s \xC2\xBB n'est pas un nombre entier valide\"\n");
        const std::string command =
            "mkdir -p '" + folder + "' && msgfmt -o '" + folder + "/ternbell.mo' '" + po + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        Saved = MessageDomains();
        for (const std::string& d : Saved)
            RemoveMessageDomain(d);
        AddMessageDomain("ternbell");
        UseLanguage("fr_FR", Root.Path());
    }

    void TearDown() override
    {
        UseLanguage("C", "");
        RemoveMessageDomain("ternbell");
        for (const std::string& d : Saved)
            AddMessageDomain(d);
    }

    TempFolder Root{"mailerror"};
    std::vector<std::string> Saved;
};

TEST_F(MailErrorTextTest, FixedAndComposedTextsAreTranslatedInTheCodePage)
{
    EXPECT_EQ(MailErrorText(EIdReadTimeout()), "D\xC3\xA9lai de lecture d\xC3\xA9pass\xC3\xA9");
    EXPECT_EQ(MailErrorText(EIdSocketError(Id_WSAECONNREFUSED)),
              "Erreur de socket n\xC2\xB0 10061\r\nConnexion refus\xC3\xA9" "e.");
    EXPECT_EQ(MailErrorText(EIdSocketError(Id_WSAECONNRESET)),
              "Erreur de socket n\xC2\xB0 10054\r\nConnection reset by peer.")
        << "a description the catalog lacks stays English";
    EXPECT_EQ(MailErrorText(EConvertError("'12x' is not a valid integer value")),
              "\xC2\xAB 12x \xC2\xBB n'est pas un nombre entier valide");
}

TEST_F(MailErrorTextTest, AServersOwnTextStaysByteForByte)
{
    // 8-bit text from a reply: not UTF-8, and no catalog has it.
    const std::string reply = "-ERR Kennwort f\xFCr \"anna\" falsch";
    EXPECT_EQ(MailErrorText(EIdException(reply)), reply);
    EXPECT_EQ(MailErrorText(EIdSocketError(Id_WSAECONNREFUSED, "refused by policy \xA7 4")),
              "refused by policy \xA7 4")
        << "a socket error with a text of its own keeps it";
    EXPECT_EQ(MailErrorText(EConvertError("'")), "'");
}

} // namespace
