// Arbitrary server bytes read as replies sent ahead, in arbitrary arrival
// splits, each reply single-line or multi-line as the variant byte says:
// the replies taken are exactly the same, in the same order, with the same
// framing, whatever the split (a block past the cap cut alike, a line past
// it abandoned alike); none, taken or still coming, is longer than the cap;
// and a unique-id, size or capability listing made of any of them parses
// without crashing, a usable listing naming every message once.
#include <algorithm>

#include "pop3/capabilities.h"
#include "pop3/unique_ids.h"
#include "split_feed.h"

namespace {

constexpr qsizetype kCap = 4096;

struct Taken {
    QStringList replies;
    bool overflowed = false;
    bool operator==(const Taken& other) const {
        return replies == other.replies && overflowed == other.overflowed;
    }
};

ostrel::ReplyMode mode_of(unsigned char variant, qsizetype reply) {
    return (variant >> (reply % 8)) & 1 ? ostrel::ReplyMode::Top : ostrel::ReplyMode::SingleLine;
}

Taken take_all(const QByteArray& bytes, const QByteArray& splits, unsigned char variant) {
    ostrel::ReplyAssembler reply(kCap);
    reply.set_mode(mode_of(variant, 0));
    reply.begin_reply();
    Taken taken;
    feed(reply, bytes, splits, [&] {
        for (;; reply.next_reply()) {
            if (reply.reply_text().size() > kCap) {
                __builtin_trap();
            }
            if (!reply.reply_done()) {
                break;
            }
            const int flags = int(reply.reply_err()) + 2 * reply.well_framed() + 4 * reply.cut() +
                              8 * reply.has_block();
            taken.replies << QString::number(flags, 16) + reply.reply_text();
            reply.set_mode(mode_of(variant, taken.replies.size()));
        }
    });
    taken.overflowed = reply.overflowed();
    return taken;
}

void check_listing(const QString& listing, qint64 count) {
    ostrel::parse_capabilities(listing);
    const auto ids = ostrel::parse_unique_ids(listing, count);
    if (ids && ids->size() != count) {
        __builtin_trap();
    }
    for (const QString& id : ids.value_or(QStringList())) {
        if (id.isEmpty() || id.contains(QLatin1Char(' ')) || id.contains(QLatin1Char('\r'))) {
            __builtin_trap();
        }
    }
    const auto sizes = ostrel::parse_message_sizes(listing, count);
    if (sizes && (sizes->size() != count || std::any_of(sizes->begin(), sizes->end(),
                                                        [](qint64 size) { return size < 0; }))) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SplitInput in(data, size);
    const qint64 count = in.variant % 8;
    const Taken whole = take_all(in.bytes, QByteArray(), in.variant);
    if (!(take_all(in.bytes, in.splits, in.variant) == whole)) {
        __builtin_trap();
    }
    for (const QString& reply : whole.replies) {
        check_listing(reply.mid(1), count);
    }
    return 0;
}
