#include "pop3/header_reader.h"

#include <QVector>
#include <deque>
#include <optional>

#include "mail/message_table.h"
#include "pop3/unique_ids.h"

namespace ostrel {

namespace {

// At most this many TOP commands, and this many bytes of them, are sent
// ahead of their replies: enough to keep a distant server busy, never
// enough to fill its input buffer.
constexpr int kWindowCommands = 48;
constexpr qsizetype kWindowBytes = 1024;

QString top_command(qint64 k) {
    return QStringLiteral("TOP %1 0").arg(k);
}

class Reader {
public:
    Reader(Pop3Session& session, MessageTable& table, HeaderReading& reading)
        : session_(session), table_(table), reading_(reading) {}

    void read(const Capabilities& capabilities, qint64 count,
              const QHash<QString, HeaderFields>& cached);

private:
    bool read_unique_ids(qint64 count);
    void take_from_cache(const QHash<QString, HeaderFields>& cached);
    void read_sequentially();
    void read_pipelined();
    bool take_reply(qint64 k);
    void mete_arre(const QString& texto, qint64 k);
    void store(qint64 k, const HeaderFields& fields);
    void make_cache();
    void break_off(WaitResult result, const QString& command);

    // The messages still to ask for: every one in turn without unique ids,
    // else those listed in wanted_.
    qint64 peek_next() const;
    void skip_next();

    Pop3Session& session_;
    MessageTable& table_;
    HeaderReading& reading_;
    std::optional<QStringList> ids_;
    QHash<QString, int> id_uses_;
    QVector<HeaderFields> fields_;  // with unique ids: entry k - 1 for message k
    QVector<qint64> wanted_;
    qsizetype next_wanted_ = 0;
    qint64 next_number_ = 1;
    int refused_in_a_row_ = 0;
};

void Reader::read(const Capabilities& capabilities, qint64 count,
                  const QHash<QString, HeaderFields>& cached) {
    table_.clear();
    reading_.count = count;
    if (capabilities.uidl && !read_unique_ids(count)) {
        return;
    }
    take_from_cache(cached);
    session_.set_reply_mode(ReplyMode::Top);
    if (capabilities.pipelining) {
        read_pipelined();
    } else {
        read_sequentially();
    }
    session_.set_reply_mode(ReplyMode::SingleLine);
    if (reading_.result == WaitResult::Answered && ids_) {
        make_cache();
    }
}

// A refused or unusable listing means reading every message with TOP.
bool Reader::read_unique_ids(qint64 count) {
    if (count == 0) {
        ids_ = QStringList();
        return true;
    }
    session_.set_reply_cap(unique_id_listing_cap(count));
    session_.set_reply_mode(ReplyMode::Top);
    const WaitResult result = session_.sendMsg(QStringLiteral("UIDL"));
    session_.set_reply_mode(ReplyMode::SingleLine);
    session_.set_reply_cap(ReplyAssembler::kDefaultCap);
    if (result != WaitResult::Answered) {
        break_off(result, QStringLiteral("UIDL"));
        return false;
    }
    if (!session_.reply().reply_err()) {
        ids_ = parse_unique_ids(session_.reply().reply_text(), count);
    }
    return true;
}

// Messages whose id is known and no other message's come from the cache;
// the others are asked for.
void Reader::take_from_cache(const QHash<QString, HeaderFields>& cached) {
    if (!ids_) {
        return;
    }
    for (const QString& id : *ids_) {
        ++id_uses_[id];
    }
    fields_.resize(ids_->size());
    for (qint64 k = 1; k <= ids_->size(); ++k) {
        const QString& id = ids_->at(k - 1);
        const auto known = cached.constFind(id);
        if (known != cached.cend() && id_uses_.value(id) == 1) {
            store(k, *known);
        } else {
            wanted_.append(k);
        }
    }
}

qint64 Reader::peek_next() const {
    if (ids_) {
        return next_wanted_ < wanted_.size() ? wanted_[next_wanted_] : 0;
    }
    return next_number_ <= reading_.count ? next_number_ : 0;
}

void Reader::skip_next() {
    if (ids_) {
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
        if (!take_reply(k)) {
            return;
        }
    }
}

// A sliding window: each reply taken makes room for the next command.
void Reader::read_pipelined() {
    struct Sent {
        qint64 k;
        qsizetype bytes;
    };
    std::deque<Sent> in_flight;
    qsizetype bytes_in_flight = 0;
    session_.begin_pipeline();
    for (;;) {
        QByteArray lines;
        qint64 first = 0;
        for (qint64 k = peek_next(); k != 0; k = peek_next()) {
            const QByteArray line = top_command(k).toLatin1() + "\r\n";
            if (in_flight.size() == static_cast<size_t>(kWindowCommands) ||
                (!in_flight.empty() && bytes_in_flight + line.size() > kWindowBytes)) {
                break;
            }
            skip_next();
            first = first == 0 ? k : first;
            in_flight.push_back({k, line.size()});
            bytes_in_flight += line.size();
            lines += line;
            ++reading_.top_commands;
        }
        if (!lines.isEmpty()) {
            const WaitResult sent = session_.send_ahead(lines);
            if (sent != WaitResult::Answered) {
                break_off(sent, top_command(first));
                return;
            }
        }
        if (in_flight.empty()) {
            return;
        }
        const Sent answered = in_flight.front();
        in_flight.pop_front();
        bytes_in_flight -= answered.bytes;
        const WaitResult result = session_.wait_next_reply();
        if (result != WaitResult::Answered) {
            break_off(result, top_command(answered.k));
            return;
        }
        if (!take_reply(answered.k)) {
            return;
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
    return false;
}

// Stores the header block of message k.
void Reader::mete_arre(const QString& texto, qint64 k) {
    store(k, cut_fields(texto));
}

void Reader::store(qint64 k, const HeaderFields& fields) {
    const HeaderValues values = header_values(fields);
    table_.store(static_cast<int>(k - 1), k, values.from, values.subject, values.display);
    if (ids_) {
        fields_[k - 1] = fields;
    }
}

void Reader::make_cache() {
    reading_.unique_ids = true;
    for (qint64 k = 1; k <= reading_.count; ++k) {
        const QString& id = ids_->at(k - 1);
        if (table_.filled(k) && id_uses_.value(id) == 1) {
            reading_.cache.append({id, fields_[k - 1]});
        }
    }
}

void Reader::break_off(WaitResult result, const QString& command) {
    reading_.result = result;
    reading_.command = command;
}

}  // namespace

HeaderReading read_header_blocks(Pop3Session& session, const Capabilities& capabilities,
                                 qint64 count, const QHash<QString, HeaderFields>& cached,
                                 MessageTable& table) {
    HeaderReading reading;
    Reader(session, table, reading).read(capabilities, count, cached);
    return reading;
}

}  // namespace ostrel
