// The sign-in providers: presets and the user's file, where a bad line costs only itself.
#include <QtTest>

#include "auth/providers_file.h"
#include "core/event_log.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

const OAuthProvider* named(const ProvidersFile& file, const QString& name) {
    for (const OAuthProvider& provider : file.providers) {
        if (provider.name == name) {
            return &provider;
        }
    }
    return nullptr;
}

}  // namespace

class ProvidersFileTest : public QObject {
    Q_OBJECT
private slots:
    void reads_a_provider_and_changes_a_preset() {
        const ProvidersFile file = parse_providers_file(
            "# my own registration\r\n[microsoft]\r\nClient  ID = my-id\r\n\n"
            "[Example Mail]\rservers = POP.example.com, imap.example.com\n"
            "authorization url = https://login.example.com/a\n token url=http://127.0.0.1:8/t \n"
            "revocation url = https://login.example.com/r\nscope = mail offline_access\n"
            "imap scope = imap\nclient id = ostrel\nclient secret = s\n"
            "authorization parameters = access_type=offline&prompt=consent\n",
            preset_providers());
        QCOMPARE(file.problems, QStringList());
        QCOMPARE(file.providers.size(), 3);
        QCOMPARE(file.providers[1].name, QString("Example Mail"));  // the file's own first

        const OAuthProvider& mail = file.providers[1];
        QVERIFY(mail.serves("pop.example.com:995") && mail.serves("IMAP.example.com"));
        QVERIFY(!mail.serves("example.com"));
        QCOMPARE(mail.token_url, QUrl("http://127.0.0.1:8/t"));
        QCOMPARE(mail.scope(MailProtocol::Pop3), QString("mail offline_access"));
        QCOMPARE(mail.scope(MailProtocol::Imap), QString("imap"));
        QCOMPARE(mail.authorization_parameters.size(), 2);
        QCOMPARE(mail.missing_registration(), QString());

        const OAuthProvider* microsoft = named(file, "Microsoft");
        QVERIFY(microsoft && microsoft->serves("outlook.office365.com:995"));
        QCOMPARE(microsoft->client_id, QString("my-id"));
        QCOMPARE(microsoft->scope(MailProtocol::Pop3),
                 QString("https://outlook.office.com/POP.AccessAsUser.All offline_access"));
    }

    // A preset without its registration says exactly what is missing.
    void presets_need_a_registration() {
        const ProvidersFile file =
            parse_providers_file("[Google]\nclient id = g\n", preset_providers());
        QCOMPARE(named(file, "Google")->missing_registration(),
                 QString("This copy of Ostrel has a client id but no client secret for Google."));
        QCOMPARE(named(file, "Microsoft")->missing_registration(),
                 QString("This copy of Ostrel has no client id for Microsoft."));
        QVERIFY(named(file, "Google")->serves("pop.gmail.com"));
    }

    void bad_lines_cost_only_themselves() {
        const ProvidersFile file = parse_providers_file(
            "servers = early.example.com\n"                      // 1
            "[Good]\n"                                           // 2
            "servers = good.example.com\n"                       // 3
            "just words\n"                                       // 4
            "colour = blue\n"                                    // 5
            "token url = http://login.example.com/token\n"       // 6: would send tokens in clear
            "token url = https://login.example.com/token\n"      // 7
            "authorization url = https://login.example.com/a\n"  // 8
            "scope = mail\n"                                     // 9
            "[ ]\n"                                              // 10
            "[Half]\n"                                           // 11
            "servers = half.example.com\n"                       // 12
            "authorization url = ftp://x\n",                     // 13
            {});
        QCOMPARE(file.problems,
                 QStringList(
                     {"line 1: a setting before any \"[provider]\" line",
                      "line 4: neither \"[provider]\" nor \"setting = value\"",
                      "line 5: unknown setting \"colour\"",
                      "line 6: \"http://login.example.com/token\" is not an https address "
                      "(or http on this machine)",
                      "line 10: a provider needs a name",
                      "line 11: provider \"Half\" has no authorization url, token url, "
                      "scope and is not used",
                      "line 13: \"ftp://x\" is not an https address (or http on this machine)"}));
        QCOMPARE(file.providers.size(), 1);
        QCOMPARE(file.providers[0].token_url, QUrl("https://login.example.com/token"));
    }

    // Edits count at the next lookup; each new content's problems are logged once.
    void the_catalogue_follows_the_file() {
        testing::TempProgramFolder folder;
        EventLog log(folder.file("logfile.txt"));
        ProviderCatalogue catalogue(folder.file(kProvidersFileName), log);
        QCOMPARE(catalogue.for_server("pop.gmail.com")->name, QString("Google"));
        QVERIFY(!catalogue.for_server("pop.example.com"));

        folder.write(kProvidersFileName,
                     "[Example]\nservers = pop.example.com\nauthorization url = https://e/a\n"
                     "token url = https://e/t\nscope = s\nbroken\n");
        QCOMPARE(catalogue.for_server("pop.example.com:995")->name, QString("Example"));
        const QString logged = QString::fromUtf8(folder.read("logfile.txt"));
        QCOMPARE(logged.count("line 6: neither"), 1);
        QVERIFY(logged.contains(folder.file(kProvidersFileName)));
    }

    void hosts_and_safe_addresses() {
        QCOMPARE(server_host("POP.Example.com:995"), QString("pop.example.com"));
        QCOMPARE(server_host("[::1]:995"), QString("::1"));
        QCOMPARE(server_host("fe80::1"), QString("fe80::1"));
        QVERIFY(safe_token_url(QUrl("https://login.example.com/t")) &&
                safe_token_url(QUrl("http://[::1]:8/t")) &&
                safe_token_url(QUrl("http://localhost/t")));
        QVERIFY(!safe_token_url(QUrl("http://127.0.0.1.example.com/t")) &&
                !safe_token_url(QUrl("https:///t")));
    }
};

QTEST_MAIN(ProvidersFileTest)
#include "providers_file_test.moc"
