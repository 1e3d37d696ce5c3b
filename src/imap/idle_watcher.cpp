#include "imap/idle_watcher.h"

#include <QSslSocket>
#include <utility>

#include "core/event_log.h"
#include "net/server_trust.h"
#include "net/tls_policy.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace ostrel::imap {

namespace {

// A connection the network lost without a word is found dead after about
// this long of silence and unanswered probes (kernel keep-alive: no wake-up
// of the program while the connection lives).
constexpr int kKeepAliveIdleS = 120;
constexpr int kKeepAliveIntervalS = 30;
constexpr int kKeepAliveProbes = 4;

}  // namespace

IdleWatcher::IdleWatcher(const DataFiles& files, EventLog& log, MailboxAccount account,
                         IdleTimings timings, QList<QSslCertificate> extra_authorities,
                         QObject* parent)
    : QObject(parent),
      files_(files),
      log_(log),
      account_(std::move(account)),
      address_(parse_mailbox_address(account_.server)),
      timings_(timings),
      extra_authorities_(std::move(extra_authorities)),
      retry_ms_(timings.first_retry_ms) {
    for (QTimer* timer : {&reply_timer_, &renew_timer_, &retry_timer_}) {
        timer->setSingleShot(true);
    }
    reply_timer_.setInterval(timings_.reply_timeout_ms);
    renew_timer_.setInterval(timings_.renew_ms);
    connect(&reply_timer_, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no response within %1 s").arg(timings_.reply_timeout_ms / 1000.0));
    });
    connect(&renew_timer_, &QTimer::timeout, this, [this] {
        write("DONE\r\n");
        step_ = Step::Done;
        reply_timer_.start();
    });
    connect(&retry_timer_, &QTimer::timeout, this, &IdleWatcher::open);
}

IdleWatcher::~IdleWatcher() {
    close_socket();
}

void IdleWatcher::start() {
    if (step_ == Step::Given || !address_.error.isEmpty()) {
        return;
    }
    close_socket();
    retry_ms_ = timings_.first_retry_ms;
    open();
}

void IdleWatcher::stop() {
    close_socket();
    if (step_ != Step::Given) {
        step_ = Step::Stopped;
    }
}

void IdleWatcher::open() {
    close_socket();
    socket_ = new QSslSocket(this);
    connect(socket_, &QSslSocket::readyRead, this, &IdleWatcher::take_bytes);
    connect(socket_, &QSslSocket::connected, this, &IdleWatcher::keep_alive);
    connect(socket_, &QSslSocket::disconnected, this,
            [this] { fail(QStringLiteral("the server closed the connection")); });
    connect(socket_, &QSslSocket::errorOccurred, this, [this] {
        if (socket_->error() != QAbstractSocket::RemoteHostClosedError) {
            fail(socket_->errorString());
        }
    });
    connect(socket_, &QSslSocket::sslErrors, this, &IdleWatcher::take_certificate_errors);
    connect(socket_, &QSslSocket::encrypted, this, [this] {
        if (step_ == Step::Handshake) {
            send(Step::Capability, "CAPABILITY");
        }
    });
    socket_->setSslConfiguration(tls_configuration(extra_authorities_));
    socket_->setPeerVerifyName(address_.host);
    reader_ = ResponseReader();
    next_tag_ = 1;
    offers_ = Offers();
    status_ = MailboxStatus();
    idled_ = false;
    step_ = Step::Greeting;
    reply_timer_.start();
    if (address_.implicit_tls) {
        socket_->connectToHostEncrypted(address_.host, address_.port, address_.host);
    } else {
        socket_->connectToHost(address_.host, address_.port);
    }
}

void IdleWatcher::close_socket() {
    reply_timer_.stop();
    renew_timer_.stop();
    retry_timer_.stop();
    if (socket_ != nullptr) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    if (idled_) {
        before_ = status_;
    }
    idled_ = false;
}

// The connection is given up; it is opened again after the retry delay.
void IdleWatcher::fail(const QString& reason) {
    if (idled_) {
        log_.log_event(QStringLiteral("%1: the idle connection dropped (%2); it is opened again "
                                      "when the server answers, and the scheduled checks go on")
                           .arg(account_.server, reason));
    }
    close_socket();
    step_ = Step::Retrying;
    retry_timer_.start(retry_ms_);
    retry_ms_ = qMin(retry_ms_ * 2, qMax(timings_.longest_retry_ms, timings_.first_retry_ms));
}

void IdleWatcher::take_bytes() {
    reader_.arrive(socket_->readAll());
    // Each response may end the connection, which takes the reader with it.
    while (socket_ != nullptr) {
        const std::optional<Response> response = reader_.take();
        if (!response) {
            if (reader_.over_cap()) {
                fail(QStringLiteral("a response went past its cap"));
            }
            return;
        }
        take(*response);
    }
}

void IdleWatcher::take(const Response& response) {
    switch (response.kind) {
        case Response::Kind::Malformed:
            fail(QStringLiteral("a response could not be read: ") +
                 QString::fromLatin1(response.text));
            return;
        case Response::Kind::Continuation:
            if (step_ == Step::LogIn && !login_pieces_.isEmpty()) {
                write(login_pieces_.takeFirst());
            } else if (step_ == Step::LogIn && !challenge_answer_.isEmpty()) {
                write(std::exchange(challenge_answer_, QByteArray()));
            } else if (step_ == Step::IdleAsked) {
                step_ = Step::Idling;
                idled_ = true;
                retry_ms_ = timings_.first_retry_ms;
                reply_timer_.stop();
                renew_timer_.start();
            }
            return;
        case Response::Kind::Tagged:
            if (response.tag == tag_) {
                take_completion(response);
            }
            return;
        case Response::Kind::Untagged:
            break;
    }
    if (step_ == Step::Greeting) {
        take_greeting(response);
    } else if (response.condition == Condition::Bye) {
        fail(QStringLiteral("the server ended the session: ") + shown_status(response));
    } else if (response.data == "CAPABILITY") {
        listed_ = response.capabilities;
    } else {
        const quint32 exists = status_.exists;
        status_.take(response);
        if (step_ >= Step::IdleAsked && response.data == "EXISTS" && status_.exists > exists) {
            emit new_mail(account_.server, account_.login);
        }
    }
}

void IdleWatcher::take_greeting(const Response& greeting) {
    switch (read_greeting(greeting, socket_->isEncrypted())) {
        case Greeting::Proceed:
            if (greeting.code == "CAPABILITY") {
                offers_.take(greeting.capabilities);
                go_on_after_offers();
            } else {
                send(Step::Capability, "CAPABILITY");
            }
            return;
        case Greeting::SignedIn:
            send(Step::Examine, "EXAMINE INBOX");
            return;
        default:
            fail(QStringLiteral("the greeting was ") + shown_status(greeting));
    }
}

void IdleWatcher::take_completion(const Response& done) {
    const bool ok = done.condition == Condition::Ok;
    switch (step_) {
        case Step::Capability:
            offers_.take(ok ? listed_ : QByteArrayList());
            go_on_after_offers();
            return;
        case Step::StartTls:
            // Bytes after the answer came in clear and would pass for protected ones.
            if (!ok || reader_.holds_unread()) {
                fail(QStringLiteral("STARTTLS failed"));
                return;
            }
            step_ = Step::Handshake;
            reader_ = ResponseReader();
            socket_->startClientEncryption();
            return;
        case Step::LogIn:
            if (!ok) {
                fail(QStringLiteral("the login was refused: ") + shown_status(done));
                return;
            }
            if (done.code == "CAPABILITY") {
                offers_.take(done.capabilities);
            }
            send(Step::Examine, "EXAMINE INBOX");
            return;
        case Step::Examine:
            if (!ok) {
                fail(QStringLiteral("EXAMINE INBOX was refused: ") + shown_status(done));
                return;
            }
            examined();
            return;
        case Step::Done:
            send(Step::IdleAsked, "IDLE");
            return;
        default:
            // IDLE itself completes only after DONE, or when refused.
            fail(QStringLiteral("IDLE ended: ") + shown_status(done));
    }
}

// As ConnectionSecurity decides for a check: a server that offers STARTTLS
// gets it, one whose security file says it offered it before and does not
// now gets nothing, and LOGINDISABLED without TLS ends it too.
void IdleWatcher::go_on_after_offers() {
    if (socket_->isEncrypted()) {
        log_in();
        return;
    }
    const QString path = files_.path(server_trust_file_name(account_.server));
    QString problem;
    const std::optional<ServerTrust> trust =
        unsafe_server_name_reason(account_.server).isEmpty()
            ? load_server_trust(path, account_.server, &problem)
            : std::nullopt;
    if (offers_.starttls && trust) {
        send(Step::StartTls, "STARTTLS");
    } else if (!trust || trust->offered_stls || offers_.login_disabled) {
        fail(QStringLiteral("it must not be sent a login in clear"));
    } else {
        log_in();
    }
}

void IdleWatcher::log_in() {
    tag_ = 'i' + QByteArray::number(next_tag_++);
    if (account_.credential.kind == Credential::Kind::BearerToken) {
        log_in_with_token();
        return;
    }
    login_pieces_ = login_command(tag_, account_.login, account_.credential.secret)
                        .pieces(offers_.literal_plus);
    if (login_pieces_.isEmpty()) {
        fail(QStringLiteral("the login cannot be sent"));
        return;
    }
    step_ = Step::LogIn;
    reply_timer_.start();
    write(login_pieces_.takeFirst());
}

// AUTHENTICATE with the token of now (an access token lives about an hour),
// over TLS only. An error challenge is answered, and the server's NO then
// fails the connection like a refused password.
void IdleWatcher::log_in_with_token() {
    const std::optional<BearerMechanism> mechanism = choose_bearer_mechanism(offers_.sasl);
    if (!socket_->isEncrypted() || !mechanism) {
        fail(QStringLiteral("it takes no sign-in with a token over TLS"));
        return;
    }
    const std::optional<QString> token = account_.credential.renew
                                             ? account_.credential.renew()
                                             : std::optional<QString>(account_.credential.secret);
    if (!token) {
        fail(QStringLiteral("no sign-in token can be had now"));
        return;
    }
    login_pieces_ = authenticate_lines(
        tag_, *mechanism,
        bearer_initial_response(*mechanism, account_.login, *token, address_.host, address_.port),
        offers_.sasl_ir);
    challenge_answer_ = bearer_challenge_answer(*mechanism) + "\r\n";
    step_ = Step::LogIn;
    reply_timer_.start();
    write(login_pieces_.takeFirst());
}

// INBOX is open. Mail that came while no connection was open (after a drop
// or a sleep) is told at once.
void IdleWatcher::examined() {
    if (!offers_.idle) {
        log_.log_event(account_.server +
                       QStringLiteral(": the server does not offer IDLE, so new mail there is "
                                      "found by the scheduled checks"));
        close_socket();
        step_ = Step::Given;
        return;
    }
    const bool came = before_.uid_validity && before_.uid_validity == status_.uid_validity &&
                      status_.uid_next > before_.uid_next;
    send(Step::IdleAsked, "IDLE");
    if (came) {
        emit new_mail(account_.server, account_.login);
    }
}

// A certificate the system refused passes only when pinned for the server;
// asking the user is the check's part.
void IdleWatcher::take_certificate_errors(const QList<QSslError>& errors) {
    QString problem;
    const std::optional<ServerTrust> trust = load_server_trust(
        files_.path(server_trust_file_name(account_.server)), account_.server, &problem);
    if (trust && trust->pins.contains(certificate_fingerprint(socket_->peerCertificate()))) {
        socket_->ignoreSslErrors(errors);
    }
}

void IdleWatcher::send(Step step, const QByteArray& command) {
    tag_ = 'i' + QByteArray::number(next_tag_++);
    step_ = step;
    listed_.clear();
    reply_timer_.start();
    write(tag_ + ' ' + command + "\r\n");
}

void IdleWatcher::write(const QByteArray& bytes) {
    socket_->write(bytes);
}

// TCP keep-alive finds a connection the network lost; the kernel sends its
// probes, so the program sleeps on.
void IdleWatcher::keep_alive() {
    socket_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(socket_->socketDescriptor());
    for (const auto& [option, value] :
         {std::pair{TCP_KEEPIDLE, kKeepAliveIdleS}, std::pair{TCP_KEEPINTVL, kKeepAliveIntervalS},
          std::pair{TCP_KEEPCNT, kKeepAliveProbes}}) {
        setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
    }
#endif
}

}  // namespace ostrel::imap
