// The Cyrus fixture serves what the JMAP tests rely on: a session behind
// the well-known address, the mail delivered to it unseen, previews, and
// folders that IMAP4 shows.
#include "support/Cyrus.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{

struct Answer
{
    int Status = 0;
    std::string Head;
    std::string Body;

    std::string Header(const std::string& name) const
    {
        const std::size_t at = Head.find("\r\n" + name + ": ");
        if (at == std::string::npos)
            return {};
        const std::size_t from = at + name.size() + 4;
        return Head.substr(from, Head.find("\r\n", from) - from);
    }
    QJsonObject Json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(Body)).object(); }
};

// One HTTP/1.0 exchange with Basic authentication, kept apart from the
// program's own client: the answer ends with the connection.
Answer Http(uint16_t port, const std::string& method, const std::string& target, const std::string& login,
            const std::string& body = {})
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval bound{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    Answer answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
    {
        const std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nAuthorization: Basic " +
                                    QByteArray::fromStdString(login).toBase64().toStdString() +
                                    "\r\nContent-Type: application/json\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body;
        (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string all;
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            all.append(buffer, static_cast<std::size_t>(n));
        const std::size_t split = all.find("\r\n\r\n");
        answer.Head = all.substr(0, split);
        answer.Body = split == std::string::npos ? std::string() : all.substr(split + 4);
        if (all.rfind("HTTP/1.", 0) == 0 && all.size() > 12)
            answer.Status = std::stoi(all.substr(9, 3));
    }
    close(fd);
    return answer;
}

// The path of an absolute http URL on the server, or the path itself.
std::string PathOf(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    return scheme == std::string::npos ? url : url.substr(url.find('/', scheme + 3));
}

std::string Mail(const std::string& subject, const std::string& text)
{
    return "From: Bob <bob@example.org>\r\nTo: ann@ternbell.test\r\nSubject: " + subject +
           "\r\nDate: Mon, 7 Dec 2026 20:41:28 +0000\r\n\r\n" + text + "\r\n";
}

class CyrusFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string why = Cyrus::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        Server.AddUser("ann", "secret");
        Server.Start();
    }

    Cyrus Server;
};

TEST_F(CyrusFixture, ServesUnseenMailWithPreviewsOverJmap)
{
    Server.Deliver("ann", Mail("first", "The first body."));
    Server.Deliver("ann", Mail("second", "The second body."));

    const Answer redirect = Http(Server.HttpPort(), "GET", PathOf(Server.SessionUrl()), "ann:secret");
    ASSERT_EQ(redirect.Status, 301) << redirect.Head;
    const Answer sessionAnswer = Http(Server.HttpPort(), "GET", PathOf(redirect.Header("Location")), "ann:secret");
    ASSERT_EQ(sessionAnswer.Status, 200) << sessionAnswer.Head;
    EXPECT_EQ(Http(Server.HttpPort(), "GET", PathOf(redirect.Header("Location")), "ann:wrong").Status, 401);
    const QJsonObject session = sessionAnswer.Json();
    ASSERT_TRUE(session["capabilities"].toObject().contains("urn:ietf:params:jmap:mail")) << sessionAnswer.Body;
    const QString account = session["primaryAccounts"].toObject()["urn:ietf:params:jmap:mail"].toString();
    ASSERT_FALSE(account.isEmpty()) << sessionAnswer.Body;

    const QJsonObject request{
        {"using", QJsonArray{"urn:ietf:params:jmap:core", "urn:ietf:params:jmap:mail"}},
        {"methodCalls",
         QJsonArray{
             QJsonArray{"Mailbox/get", QJsonObject{{"accountId", account}, {"ids", QJsonValue::Null}}, "m"},
             QJsonArray{"Email/query",
                        QJsonObject{{"accountId", account}, {"filter", QJsonObject{{"notKeyword", "$seen"}}}}, "q"},
             QJsonArray{"Email/get",
                        QJsonObject{{"accountId", account},
                                    {"#ids", QJsonObject{{"resultOf", "q"}, {"name", "Email/query"}, {"path", "/ids"}}},
                                    {"properties", QJsonArray{"subject", "preview"}}},
                        "g"}}}};
    const Answer api = Http(Server.HttpPort(), "POST", PathOf(session["apiUrl"].toString().toStdString()),
                            "ann:secret", QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString());
    ASSERT_EQ(api.Status, 200) << api.Head << api.Body;
    const QJsonArray responses = api.Json()["methodResponses"].toArray();
    ASSERT_EQ(responses.size(), 3) << api.Body;
    int unreadInInbox = -1;
    for (const auto& mailbox : responses[0].toArray()[1].toObject()["list"].toArray())
        if (mailbox.toObject()["role"].toString() == "inbox")
            unreadInInbox = mailbox.toObject()["unreadEmails"].toInt();
    EXPECT_EQ(unreadInInbox, 2) << api.Body;
    EXPECT_EQ(responses[1].toArray()[1].toObject()["ids"].toArray().size(), 2) << api.Body;
    const QJsonArray emails = responses[2].toArray()[1].toObject()["list"].toArray();
    ASSERT_EQ(emails.size(), 2) << api.Body;
    for (const auto& email : emails)
        EXPECT_TRUE(email.toObject()["preview"].toString().contains(" body.")) << api.Body;
    // Reading them over JMAP left them unseen.
    EXPECT_EQ(Server.Flags("ann"), (std::vector<std::string>{"", ""}));

    // Debian's build has no push: its event source ends at once, empty.
    const std::string eventSource = PathOf(session["eventSourceUrl"].toString().toStdString());
    const std::string pushUrl = eventSource.substr(0, eventSource.find('?')) + "?types=*&closeafter=no&ping=0";
    const Answer push = Http(Server.HttpPort(), "GET", pushUrl, "ann:secret");
    EXPECT_EQ(push.Status, 204) << push.Head;
    EXPECT_EQ(push.Body, "");
}

TEST_F(CyrusFixture, DeliversIntoFoldersItMakes)
{
    Server.CreateFolder("ann", "Lists/Cooking");
    Server.Deliver("ann", Mail("soup", "Leek soup."), "Lists/Cooking");
    Server.Deliver("ann", Mail("stew", "Lamb stew."), "Lists/Cooking");

    EXPECT_EQ(Server.Flags("ann", "Lists/Cooking"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Server.Flags("ann"), std::vector<std::string>{});
    Server.Imap("ann", {"SELECT \"Lists/Cooking\"", "UID STORE 1 +FLAGS (\\Seen)"});
    EXPECT_EQ(Server.Flags("ann", "Lists/Cooking"), (std::vector<std::string>{"\\Seen", ""}));
}

} // namespace

// Each user's INBOX is a mailbox of its own: made back to back, two once
// shared one store, and each user saw the other's mail.
TEST(CyrusUsers, EachInboxIsItsOwn)
{
    if (const std::string why = Cyrus::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    Cyrus server;
    const std::vector<std::string> users = {"ann", "bob", "cid", "dee", "eve"};
    // Three made as the server starts, two after.
    for (std::size_t i = 0; i + 2 < users.size(); ++i)
        server.AddUser(users[i], "secret");
    server.Start();
    server.AddUser("dee", "secret");
    server.AddUser("eve", "secret");
    for (const std::string& user : users)
        server.Deliver(user, Mail("for " + user, "Hello."));
    for (const std::string& user : users)
        EXPECT_EQ(server.Flags(user).size(), 1u) << user;
}
