#include "support/DovecotFixture.h"

#include <cctype>
#include <exception>
#include <set>

StartedDovecot::StartedDovecot(const DovecotOptions& options, const std::string& caFolder)
{
    if (options.Tls)
    {
        if (caFolder.empty())
            FTemporary = std::make_unique<TempFolder>("dovecot-ca");
        FCaFolder = caFolder.empty() ? FTemporary->Path() : caFolder;
        FCa = std::make_unique<TestCa>(FCaFolder, "ternbell test CA");
        const TestCa::Issued cert = FCa->Issue("server", {"127.0.0.1", "localhost"});
        FServer.EnableTls(cert.CertFile, cert.KeyFile);
    }
    FServer.EnableApop(options.Apop);
    if (!options.OAuth2Introspection.empty())
        FServer.EnableOAuth2(options.OAuth2Introspection);
    FServer.EnableFolders(options.Folders);
    FServer.Start();
}

namespace
{

struct TSuite
{
    std::unique_ptr<StartedDovecot> Started;
    std::string Error;
    // Every mailbox name given out, so no two tests share one.
    std::set<std::string> Names;
};

TSuite& Suite()
{
    static TSuite suite;
    return suite;
}

} // namespace

StartedDovecot* StartDovecotSuite(const DovecotOptions& options)
{
    TSuite& suite = Suite();
    suite.Error.clear();
    try
    {
        suite.Started = std::make_unique<StartedDovecot>(options);
    }
    catch (const std::exception& e)
    {
        suite.Error = e.what();
        suite.Started.reset();
    }
    return suite.Started.get();
}

void StopDovecotSuite()
{
    Suite().Started.reset();
    Suite().Names.clear();
}

const std::string& DovecotSuiteError()
{
    return Suite().Error;
}

std::string AddSuiteMailbox(Dovecot& server, const std::string& password, std::string user)
{
    if (user.empty())
        user = TestMailboxName();
    else if (!Suite().Names.insert(user).second)
    {
        // An earlier test of the suite had it: this test's is empty.
        server.ReplaceUser(user, password);
        return user;
    }
    server.AddUser(user, password);
    return user;
}

std::string TestMailboxName()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? test->name() : "user";
    // Parameterized names hold "/", which a user name may not.
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '-';
    std::set<std::string>& names = Suite().Names;
    std::string unique = name;
    for (int i = 2; !names.insert(unique).second; ++i)
        unique = name + "-" + std::to_string(i);
    return unique;
}
