#include "pop3/header_reader.h"

#include <cmath>
#include <deque>
#include <limits>

#include "core/numeric_value.h"
#include "mail/display_text.h"
#include "mail/message_table.h"
#include "pop3/unique_ids.h"

namespace ostrel {

namespace {

// The TOP commands sent ahead and not yet answered take at most this many
// bytes (about 5,000 commands). RFC 2449 lets a client pipeline as long as
// neither side writes more than the receive window of the connection when
// its writes could block; this is the window a current TCP stack offers a
// new connection. Writes here never block, so a server with a smaller window
// only takes the commands more slowly.
constexpr qsizetype kWindowBytes = 64 * 1024;
// More commands go out once half of the window has been answered, so that
// they leave in a few large writes rather than one per reply.
constexpr qsizetype kRefillBelow = kWindowBytes / 2;

QString top_command(qint64 k) {
    return QStringLiteral("TOP %1 0").arg(k);
}

// The message count of a STAT reply: the word after the first space, read
// by the numeric rule. No space gives 0.
qint64 stat_count(const QString& reply) {
    const qsizetype space = reply.indexOf(QLatin1Char(' '));
    if (space < 0) {
        return 0;
    }
    qsizetype end = space + 1;
    while (end < reply.size() && reply[end] != QLatin1Char(' ') &&
           reply[end] != QLatin1Char('\r') && reply[end] != QLatin1Char('\n')) {
        ++end;
    }
    const double value = std::round(numeric_value(reply.mid(space + 1, end - space - 1)));
    if (!(value > 0)) {
        return 0;
    }
    return value >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                    : static_cast<qint64>(value);
}

// A listing that arrived whole and was not refused.
std::optional<QString> listing_text(const ReplyAssembler& reply) {
    if (reply.reply_err() || reply.cut()) {
        return std::nullopt;
    }
    return reply.reply_text();
}

class Reader {
public:
    Reader(Pop3Session& session, const MailboxListing& listing, MessageTable& table,
           HeaderReading& reading)
        : session_(session), listing_(listing), table_(table), reading_(reading) {}

    void read(const Capabilities& capabilities, const QHash<QString, CachedHeader>& cached);

private:
    bool with_ids() const { return listing_.ids && listing_.sizes; }
    void take_from_cache(const QHash<QString, CachedHeader>& cached);
    void read_sequentially();
    void read_pipelined();
    bool take_reply(qint64 k);
    void mete_arre(const QString& texto, qint64 k);
    void store(qint64 k, const HeaderFields& fields,
               const std::optional<DisplayValues>& display = std::nullopt);
    void make_cache();
    void break_off(WaitResult result, const QString& command);
    void out_of_step(const QString& command);

    // The messages still to ask for: every one in turn without unique ids,
    // else those listed in wanted_; 0 when none is left or a run of
    // refusals ended the reading.
    qint64 peek_next() const;
    void skip_next();

    Pop3Session& session_;
    const MailboxListing& listing_;
    MessageTable& table_;
    HeaderReading& reading_;
    QHash<QString, int> id_uses_;
    QVector<CachedHeader> cached_;  // with unique ids: entry k - 1 for message k
    QVector<qint64> wanted_;
    qsizetype next_wanted_ = 0;
    qint64 next_number_ = 1;
    int refused_in_a_row_ = 0;
    bool run_ended_ = false;
};

void Reader::read(const Capabilities& capabilities, const QHash<QString, CachedHeader>& cached) {
    table_.clear();
    reading_.count = listing_.count;
    take_from_cache(cached);
    session_.set_reply_mode(ReplyMode::Top);
    if (capabilities.pipelining) {
        read_pipelined();
    } else {
        read_sequentially();
    }
    session_.set_reply_mode(ReplyMode::SingleLine);
    if (!reading_.stop.happened() && with_ids()) {
        make_cache();
    }
}

// Messages whose id is known with the same size and no other message's come
// from the cache; the others are asked for. A size that changed means the
// server gave a new message the id of one that is gone.
void Reader::take_from_cache(const QHash<QString, CachedHeader>& cached) {
    if (!with_ids()) {
        return;
    }
    const QStringList& ids = *listing_.ids;
    for (const QString& id : ids) {
        ++id_uses_[id];
    }
    cached_.resize(ids.size());
    for (qint64 k = 1; k <= ids.size(); ++k) {
        const QString& id = ids[k - 1];
        const auto known = cached.constFind(id);
        if (known != cached.cend() && known->size == listing_.sizes->at(k - 1) &&
            id_uses_.value(id) == 1) {
            store(k, known->fields, known->display);
        } else {
            wanted_.append(k);
        }
    }
    reading_.cache_unchanged = wanted_.isEmpty() && cached.size() == ids.size();
}

qint64 Reader::peek_next() const {
    if (run_ended_) {
        return 0;
    }
    if (with_ids()) {
        return next_wanted_ < wanted_.size() ? wanted_[next_wanted_] : 0;
    }
    return next_number_ <= reading_.count ? next_number_ : 0;
}

void Reader::skip_next() {
    if (with_ids()) {
        ++next_wanted_;
    } else {
        ++next_number_;
    }
}

void Reader::read_sequentially() {
    for (qint64 k = peek_next(); k != 0; k = peek_next()) {
        skip_next();
        ++reading_.top_commands;
        const WaitResult result = session_.sendMsg(top_command(k));
        if (result != WaitResult::Answered) {
            break_off(result, top_command(k));
            return;
        }
        take_reply(k);
    }
}

// A sliding window on the stream the listing began. Each reply must begin
// where the one before it ended; after the last TOP one more, past the last
// message, must be refused and end the stream. A doubled reply, or a block
// that ended at a bare LF "." CR LF inside a message, shifts every later
// reply by one and is found there. After a run of refusals ends the reading
// the replies already asked for are still read, and not stored.
void Reader::read_pipelined() {
    const ReplyAssembler& reply = session_.reply();
    if (reply.has_leftovers()) {
        out_of_step(QStringLiteral("the listing"));
        return;
    }
    if (peek_next() == 0) {
        return;
    }
    struct Sent {
        qint64 k;
        qsizetype bytes;
    };
    std::deque<Sent> in_flight;
    qsizetype bytes_in_flight = 0;
    const qint64 closing = listing_.count + 1;
    bool closed = false;
    for (;;) {
        if (!closed && bytes_in_flight <= kRefillBelow) {
            QByteArray lines;
            for (qint64 k = peek_next(); k != 0; k = peek_next()) {
                const QByteArray line = top_command(k).toLatin1() + "\r\n";
                if (bytes_in_flight + line.size() > kWindowBytes) {
                    break;
                }
                skip_next();
                in_flight.push_back({k, line.size()});
                bytes_in_flight += line.size();
                lines += line;
                ++reading_.top_commands;
            }
            if (peek_next() == 0) {
                const QByteArray line = top_command(closing).toLatin1() + "\r\n";
                in_flight.push_back({closing, line.size()});
                bytes_in_flight += line.size();
                lines += line;
                closed = true;
            }
            const WaitResult sent = session_.send_ahead(lines);
            if (sent != WaitResult::Answered) {
                break_off(sent, top_command(in_flight.back().k));
                return;
            }
        }
        const Sent answered = in_flight.front();
        in_flight.pop_front();
        bytes_in_flight -= answered.bytes;
        const WaitResult result = session_.wait_next_reply();
        if (result != WaitResult::Answered) {
            break_off(result, top_command(answered.k));
            return;
        }
        if (!reply.well_framed() ||
            (answered.k == closing && (!reply.reply_err() || reply.has_leftovers()))) {
            out_of_step(top_command(answered.k));
            return;
        }
        if (answered.k == closing) {
            return;
        }
        if (!run_ended_) {
            take_reply(answered.k);
        }
    }
}

// A block is stored only when it is the complete reply to its own command;
// a "-ERR" stores nothing. Returns false when a run of refusals ends the
// reading.
bool Reader::take_reply(qint64 k) {
    const ReplyAssembler& reply = session_.reply();
    if (reply.has_block()) {
        refused_in_a_row_ = 0;
        mete_arre(reply.reply_text(), k);
        return true;
    }
    if (++refused_in_a_row_ < kRefusedTopRun) {
        return true;
    }
    reading_.count = k;
    reading_.refused_run_end = top_command(k);
    run_ended_ = true;
    return false;
}

// Stores the header block of message k.
void Reader::mete_arre(const QString& texto, qint64 k) {
    store(k, cut_fields(texto));
}

void Reader::store(qint64 k, const HeaderFields& fields,
                   const std::optional<DisplayValues>& display) {
    const DisplayValues shown = display ? *display : display_values(fields.from, fields.subject);
    // A field's first line holds no line feed, so its first CR LF is where
    // the folded lines begin.
    const auto first_line = [](const QString& field) {
        return field.left(field.indexOf(QStringLiteral("\r\n")));
    };
    table_.store(static_cast<int>(k - 1), k, first_line(fields.from), first_line(fields.subject),
                 shown);
    if (with_ids()) {
        cached_[k - 1] = {listing_.ids->at(k - 1), listing_.sizes->at(k - 1), fields, shown};
    }
}

void Reader::make_cache() {
    reading_.unique_ids = true;
    for (qint64 k = 1; k <= reading_.count; ++k) {
        if (table_.filled(k) && id_uses_.value(listing_.ids->at(k - 1)) == 1) {
            reading_.cache.append(cached_[k - 1]);
        }
    }
}

void Reader::break_off(WaitResult result, const QString& command) {
    reading_.stop = {result, false, command};
}

void Reader::out_of_step(const QString& command) {
    reading_.stop = {WaitResult::Answered, true, command};
}

}  // namespace

QByteArray listing_commands(const Capabilities& capabilities) {
    return capabilities.uidl ? QByteArray("STAT\r\nUIDL\r\nLIST\r\n") : QByteArray("STAT\r\n");
}

BreakOff read_listing(Pop3Session& session, const Capabilities& capabilities, bool sent_ahead,
                      MailboxListing* listing) {
    const bool pipelined = capabilities.pipelining;
    if (pipelined && !sent_ahead) {
        session.begin_pipeline();
        const WaitResult sent = session.send_ahead(listing_commands(capabilities));
        if (sent != WaitResult::Answered) {
            return {sent, false, QStringLiteral("STAT")};
        }
    }
    // Pipelined, the next reply of the stream, which must be framed as one;
    // otherwise the reply to the command sent on its own.
    const auto reply_to = [&](const QString& command, ReplyMode mode, qsizetype cap) -> BreakOff {
        session.set_reply_mode(mode);
        session.set_reply_cap(cap);
        const WaitResult result = pipelined ? session.wait_next_reply() : session.sendMsg(command);
        session.set_reply_mode(ReplyMode::SingleLine);
        session.set_reply_cap(ReplyAssembler::kDefaultCap);
        return {result,
                result == WaitResult::Answered && pipelined && !session.reply().well_framed(),
                command};
    };
    BreakOff stop =
        reply_to(QStringLiteral("STAT"), ReplyMode::SingleLine, ReplyAssembler::kDefaultCap);
    if (stop.happened()) {
        return stop;
    }
    listing->count = stat_count(session.reply().reply_text());
    if (!capabilities.uidl) {
        return {};
    }
    if (!pipelined && listing->count == 0) {
        listing->ids = QStringList();
        listing->sizes = QVector<qint64>();
        return {};
    }
    const qsizetype cap = unique_id_listing_cap(listing->count);
    stop = reply_to(QStringLiteral("UIDL"), ReplyMode::Top, cap);
    if (stop.happened()) {
        return stop;
    }
    if (const auto text = listing_text(session.reply())) {
        listing->ids = parse_unique_ids(*text, listing->count);
    }
    // Without ids the sizes are of no use: one command at a time, LIST is
    // then not sent.
    if (!listing->ids && !pipelined) {
        return {};
    }
    stop = reply_to(QStringLiteral("LIST"), ReplyMode::Top, cap);
    if (stop.happened()) {
        return stop;
    }
    if (const auto text = listing_text(session.reply())) {
        listing->sizes = parse_message_sizes(*text, listing->count);
    }
    return {};
}

HeaderReading read_header_blocks(Pop3Session& session, const Capabilities& capabilities,
                                 const MailboxListing& listing,
                                 const QHash<QString, CachedHeader>& cached, MessageTable& table) {
    HeaderReading reading;
    Reader(session, listing, table, reading).read(capabilities, cached);
    return reading;
}

}  // namespace ostrel
