#include "imap/imap_reader.h"

#include <QSet>

#include "auth/sasl.h"
#include "core/event_log.h"
#include "core/whole_file.h"
#include "imap/dialogue.h"
#include "imap/uid_cache.h"
#include "mail/mailbox_address.h"
#include "mail/token_renewal.h"
#include "net/tls_policy.h"

namespace ostrel::imap {

namespace {

using Outcome = MailboxReading::Outcome;

MailboxReading abandoned(const QString& text) {
    return MailboxReading::failed(Outcome::Abandoned, text);
}

bool is_ok(const Response& done) {
    return done.condition == Condition::Ok;
}

// A SEARCH listing of a large mailbox may pass the usual response cap.
qsizetype search_cap(qsizetype messages) {
    return qMax<qsizetype>(ResponseReader::Limits().response, 16 * (messages + 10000));
}

}  // namespace

ImapReader::ImapReader(const DataFiles& files, EventLog& log, const Prompt& prompt,
                       const ImapSettings& settings)
    : files_(files),
      log_(log),
      settings_(settings),
      session_(log, settings.reply_timeout_ms),
      security_(files, log, prompt, session_.connection(), QStringLiteral("STARTTLS")) {}

MailboxReading ImapReader::read(const MailboxAccount& account, const CountHeard& count_heard) {
    return read_renewing_token(account, log_, [&](const MailboxAccount& as, QString* refusal) {
        token_refusal_.clear();
        MailboxReading reading = dialogue(as, count_heard);
        session_.log_out_and_close();
        *refusal = token_refusal_;
        return reading;
    });
}

// The mailbox counts as read only when every command completed with OK.
MailboxReading ImapReader::dialogue(const MailboxAccount& account, const CountHeard& count_heard) {
    const MailboxAddress address = parse_mailbox_address(account.server);
    if (!address.error.isEmpty()) {
        return abandoned(address.error);
    }
    session_.connect_to(account.server, address, settings_.extra_authorities);
    Response greeting;
    const WaitResult greeted = session_.wait_greeting(&greeting);
    if (greeted == WaitResult::Overflowed || greeted == WaitResult::Ending) {
        return unanswered(greeted, QString());
    }
    if (greeted != WaitResult::Answered) {
        return MailboxReading::failed(Outcome::CannotConnect);
    }
    MailboxReading signed_in = sign_in(account, greeting);
    if (signed_in.outcome != Outcome::Read) {
        return signed_in;
    }
    return read_inbox(account.server, count_heard);
}

// From the greeting to a signed-in session: the capabilities, STARTTLS
// where offered (or required by the server's security file), LOGIN.
MailboxReading ImapReader::sign_in(const MailboxAccount& account, const Response& greeting) {
    const QString& server = account.server;
    switch (read_greeting(greeting, session_.connection().is_encrypted())) {
        case Greeting::SignedIn:
            return {};
        case Greeting::PreauthInClear:
            return abandoned(
                QStringLiteral("the server greeted a plain connection as already signed in "
                               "(PREAUTH), which leaves no way to TLS; nothing was sent"));
        case Greeting::Bye:
            return abandoned(QStringLiteral("the server would not talk: ") +
                             shown_status(greeting));
        case Greeting::Unreadable:
            return abandoned(QStringLiteral("the greeting was no IMAP greeting"));
        case Greeting::Proceed:
            break;
    }
    Offers offers;
    if (greeting.code == "CAPABILITY") {
        offers.take(greeting.capabilities);
    } else if (const WaitResult asked = ask_offers(&offers); asked != WaitResult::Answered) {
        return unanswered(asked, QStringLiteral("CAPABILITY"));
    }
    if (!session_.connection().is_encrypted() && !offers.starttls && offers.login_disabled) {
        return abandoned(
            QStringLiteral("the server takes no login in clear (LOGINDISABLED) and "
                           "offers no STARTTLS; nothing was sent"));
    }
    const WaitResult secured = security_.secure(
        server, offers.starttls, [this, &server, &offers] { return start_tls(server, &offers); });
    if (secured == WaitResult::NotConnected) {
        return MailboxReading::failed(Outcome::CannotConnect);
    }
    if (secured != WaitResult::Answered) {
        return unanswered(secured, QStringLiteral("STARTTLS"));
    }
    return account.credential.kind == Credential::Kind::BearerToken
               ? bearer_login(account, offers)
               : password_login(account, offers);
}

// LOGIN with the account's password.
MailboxReading ImapReader::password_login(const MailboxAccount& account, const Offers& offers) {
    const QByteArray tag = session_.next_tag();
    const Command login = login_command(tag, account.login, account.credential.secret);
    if (!login.valid()) {
        return abandoned(
            QStringLiteral("the login or password holds a NUL byte; nothing was sent"));
    }
    Response done;
    WaitResult result = session_.send(login, offers.literal_plus);
    if (result == WaitResult::Answered) {
        result = session_.complete(tag, &done);
    }
    if (result != WaitResult::Answered) {
        return unanswered(result, QStringLiteral("LOGIN"));
    }
    if (done.condition == Condition::No && done.code != "UNAVAILABLE") {
        // IMAP refuses login and password together, as most POP3 servers do
        // at PASS: the same box.
        return MailboxReading::failed(Outcome::Refused, QStringLiteral("Error with password"));
    }
    return is_ok(done) ? MailboxReading() : refused(QStringLiteral("LOGIN"), done);
}

// AUTHENTICATE with the account's bearer token, over TLS only, with the
// mechanism the capabilities read over TLS name. A refusal is noted in
// token_refusal_ for read() to renew the token.
MailboxReading ImapReader::bearer_login(const MailboxAccount& account, const Offers& offers) {
    const QString& server = account.server;
    if (!session_.connection().is_encrypted()) {
        log_.log_event(QStringLiteral("%1: the server offers no secure connection (imaps:// or "
                                      "STARTTLS), so the sign-in token of %2 was not sent and the "
                                      "account was not checked")
                           .arg(server, account.login));
        return MailboxReading::failed(Outcome::SignInFailed);
    }
    const std::optional<BearerMechanism> mechanism = choose_bearer_mechanism(offers.sasl);
    if (!mechanism) {
        log_.log_event(
            QStringLiteral("%1: the server offers no sign-in with a token (AUTH=OAUTHBEARER "
                           "or AUTH=XOAUTH2), so %2, which is signed in with its "
                           "provider, was not checked; no password is sent for it")
                .arg(server, account.login));
        return MailboxReading::failed(Outcome::SignInFailed);
    }
    const MailboxAddress address = parse_mailbox_address(server);
    const QByteArray tag = session_.next_tag();
    QByteArrayList lines = authenticate_lines(
        tag, *mechanism,
        bearer_initial_response(*mechanism, account.login, account.credential.secret, address.host,
                                address.port),
        offers.sasl_ir);
    Response done;
    std::optional<QByteArray> challenge;
    WaitResult result = WaitResult::Answered;
    while (result == WaitResult::Answered && !lines.isEmpty()) {
        result = session_.exchange(tag, lines.takeFirst(), &done, &challenge);
        if (!challenge) {
            break;
        }
    }
    if (result == WaitResult::Answered && challenge) {
        // An error challenge: the server says why, and completes the command
        // with NO once answered; the connection closes after it whatever the
        // server does.
        token_refusal_ = bearer_refusal_reason(challenge->trimmed());
        static_cast<void>(session_.exchange(tag, bearer_challenge_answer(*mechanism) + "\r\n",
                                            &done, &challenge));
        return MailboxReading::failed(Outcome::SignInFailed);
    }
    if (result != WaitResult::Answered) {
        return unanswered(result, QStringLiteral("AUTHENTICATE"));
    }
    if (is_ok(done)) {
        return {};
    }
    token_refusal_ = QStringLiteral("the server answered \"%1\"").arg(shown_status(done));
    return MailboxReading::failed(Outcome::SignInFailed);
}

// CAPABILITY; a refusal is an answer that offers nothing.
WaitResult ImapReader::ask_offers(Offers* offers) {
    const QByteArray tag = session_.next_tag();
    WaitResult result = session_.send(Command(tag, "CAPABILITY"), false);
    Response done;
    QByteArrayList listed;
    if (result == WaitResult::Answered) {
        result = session_.complete(tag, &done, [&listed](const Response& response) {
            if (response.data == "CAPABILITY") {
                listed = response.capabilities;
            }
        });
    }
    if (result == WaitResult::Answered) {
        offers->take(listed);
    }
    return result;
}

// STARTTLS, the handshake when the server agrees, and the capabilities asked
// again over TLS: those read in clear may have been forged.
WaitResult ImapReader::start_tls(const QString& server, Offers* offers) {
    const QByteArray tag = session_.next_tag();
    WaitResult result = session_.send(Command(tag, "STARTTLS"), false);
    Response done;
    if (result == WaitResult::Answered) {
        result = session_.complete(tag, &done);
    }
    if (result != WaitResult::Answered) {
        return result;
    }
    QString reason;
    if (!is_ok(done)) {
        reason = QStringLiteral("the server refused STARTTLS (%1)").arg(shown_status(done));
    } else if (session_.holds_unread()) {
        reason = QStringLiteral(
            "more came after the server's answer to STARTTLS, as if someone in between had "
            "added it");
    }
    if (!reason.isEmpty()) {
        log_.log_event(tls_failure_log_line(server, reason));
        return WaitResult::NotConnected;
    }
    result = session_.start_tls();
    return result == WaitResult::Answered ? ask_offers(offers) : result;
}

// EXAMINE INBOX, then the UIDs of its messages and the header fields of
// those the cache does not hold, sent together: one round trip when nothing
// changed. A new UIDVALIDITY means the mailbox was rebuilt: it is read whole.
MailboxReading ImapReader::read_inbox(const QString& server, const CountHeard& count_heard) {
    const QString path = cache_path(server);
    QString problem;
    UidCache cache = path.isEmpty() ? UidCache() : load_uid_cache(path, server, &problem);
    if (!problem.isEmpty()) {
        log_.log_event(QStringLiteral("%1: the header cache %2 was set aside (%3); the mailbox is "
                                      "read whole")
                           .arg(server, path, problem));
    }
    const quint32 last = cache.messages.isEmpty() ? 0 : cache.messages.lastKey();
    MailboxStatus status;
    QList<quint32> listed;
    QMap<quint32, HeaderFields> fetched;
    const ImapSession::Untagged untagged = [&](const Response& response) {
        status.take(response);
        if (response.data == "SEARCH") {
            listed = response.search;
        } else if (response.data == "FETCH" && response.fetch.uid && response.fetch.header_fields) {
            fetched.insert(*response.fetch.uid,
                           cut_fields(QString::fromLatin1(*response.fetch.header_fields)));
        }
    };

    const QByteArray examine = session_.next_tag();
    WaitResult result = session_.send(Command(examine, "EXAMINE").raw("INBOX"), false);
    QByteArray search;
    if (result == WaitResult::Answered && cache.uid_validity != 0) {
        search = session_.next_tag();
        session_.set_response_cap(search_cap(cache.messages.size()));
        result = session_.send(Command(search, "UID SEARCH").raw("ALL"), false);
    }
    const QByteArray fetch_tag = session_.next_tag();
    if (result == WaitResult::Answered) {
        result = session_.send(Command(fetch_tag, "UID FETCH")
                                   .raw(QByteArray::number(last + 1) + ":*")
                                   .raw(kHeaderItems),
                               false);
    }
    const struct {
        QByteArray tag;
        QString name;
    } steps[] = {{examine, QStringLiteral("EXAMINE INBOX")},
                 {search, QStringLiteral("UID SEARCH")},
                 {fetch_tag, QStringLiteral("UID FETCH")}};
    for (const auto& step : steps) {
        Response done;
        if (step.tag.isEmpty()) {
            continue;
        }
        if (result == WaitResult::Answered) {
            result = session_.complete(step.tag, &done, untagged);
        }
        if (result != WaitResult::Answered) {
            return unanswered(result, step.name);
        }
        if (!is_ok(done)) {
            return refused(step.name, done);
        }
        if (step.tag == examine && count_heard) {
            count_heard(status.exists);
        }
    }

    QList<quint32> uids;
    if (cache.uid_validity != 0 && cache.uid_validity == status.uid_validity.value_or(0)) {
        QSet<quint32> present(listed.cbegin(), listed.cend());
        for (auto it = fetched.keyBegin(); it != fetched.keyEnd(); ++it) {
            if (*it > last) {
                present.insert(*it);
            }
        }
        uids = present.values();
        std::sort(uids.begin(), uids.end());
    } else {
        // A first reading, or the mailbox was rebuilt: every message anew.
        cache = UidCache();
        if (last > 0) {
            fetched.clear();
            MailboxReading whole = fetch("1:*", untagged);
            if (whole.outcome != Outcome::Read) {
                return whole;
            }
        }
        uids = fetched.keys();
    }
    QList<quint32> missing;
    for (const quint32 uid : uids) {
        if (!fetched.contains(uid) && !cache.messages.contains(uid)) {
            missing << uid;
        }
    }
    for (const QByteArray& set : uid_sets(missing)) {
        MailboxReading more = fetch(set, untagged);
        if (more.outcome != Outcome::Read) {
            return more;
        }
    }

    MailboxReading reading;
    UidCache kept{status.uid_validity.value_or(0), {}};
    for (const quint32 uid : uids) {
        const auto found = fetched.constFind(uid);
        const auto known = cache.messages.constFind(uid);
        if (found == fetched.cend() && known == cache.messages.cend()) {
            continue;  // expunged meanwhile
        }
        const HeaderFields& fields = found != fetched.cend() ? *found : *known;
        const HeaderValues values = header_values(fields);
        ++reading.count;
        reading.messages.store(int(reading.count - 1), reading.count, values.from, values.subject,
                               values.display);
        kept.messages.insert(uid, fields);
    }
    keep_cache(server, kept);
    return reading;
}

// One more UID FETCH of header fields, completed.
MailboxReading ImapReader::fetch(const QByteArray& uids, const ImapSession::Untagged& untagged) {
    const QByteArray tag = session_.next_tag();
    WaitResult result = session_.send(Command(tag, "UID FETCH").raw(uids).raw(kHeaderItems), false);
    Response done;
    if (result == WaitResult::Answered) {
        result = session_.complete(tag, &done, untagged);
    }
    if (result != WaitResult::Answered) {
        return unanswered(result, QStringLiteral("UID FETCH"));
    }
    return is_ok(done) ? MailboxReading() : refused(QStringLiteral("UID FETCH"), done);
}

// After a complete reading; a mailbox without UIDVALIDITY keeps no cache.
void ImapReader::keep_cache(const QString& server, const UidCache& cache) {
    const QString path = cache_path(server);
    if (path.isEmpty() || cache.uid_validity == 0) {
        return;
    }
    const QString error = replace_whole_file(path, uid_cache_content(server, cache));
    if (!error.isEmpty()) {
        log_.log_event(server + QStringLiteral(": the header cache was not kept: ") + error);
    }
}

// Beside the seen-state file; empty when the server's name cannot name a file.
QString ImapReader::cache_path(const QString& server) const {
    return unsafe_server_name_reason(server).isEmpty() ? files_.path(uid_cache_file_name(server))
                                                       : QString();
}

MailboxReading ImapReader::refused(const QString& command, const Response& done) const {
    return abandoned(QStringLiteral("the server refused %1 (%2)").arg(command, shown_status(done)));
}

// What a command that got no complete response of its own did to the
// reading. An empty command stands for the greeting.
MailboxReading ImapReader::unanswered(WaitResult result, const QString& command) const {
    const QString response = command.isEmpty() ? QStringLiteral("the greeting")
                                               : QStringLiteral("the response to ") + command;
    switch (result) {
        case WaitResult::Ending:
            return MailboxReading::failed(Outcome::Ending);
        case WaitResult::TimedOut:
            return abandoned(
                QStringLiteral("no response to %1 within %2 s")
                    .arg(command, QString::number(settings_.reply_timeout_ms / 1000.0)));
        case WaitResult::Overflowed:
            return abandoned(response + QStringLiteral(" went past its cap (a literal over 256 KiB "
                                                       "or a response over 1 MiB)"));
        case WaitResult::SendFailed:
            return abandoned(
                QStringLiteral("%1 could not be sent (%2)").arg(command, session_.send_failure()));
        default:
            break;
    }
    if (!session_.problem().isEmpty()) {
        return abandoned(session_.problem() + QStringLiteral(" before ") + response +
                         QStringLiteral(" was complete"));
    }
    return abandoned(QStringLiteral("the connection closed before %1 was complete").arg(response));
}

}  // namespace ostrel::imap
