// Arbitrary server bytes read as replies sent ahead, in arbitrary arrival
// splits: the replies taken are the same, in the same order, whatever the
// split; none is longer than the cap; and a unique-id listing or capability
// listing made of any of them parses without crashing, a usable listing
// naming every message once with an id of printable characters.
#include "pop3/capabilities.h"
#include "pop3/unique_ids.h"
#include "split_feed.h"

namespace {

constexpr qsizetype kCap = 4096;

struct Taken {
    QStringList replies;
    bool overflowed = false;
};

Taken take_all(const QByteArray& bytes, const QByteArray& splits) {
    ostrel::ReplyAssembler reply(kCap);
    reply.set_mode(ostrel::ReplyMode::Top);
    reply.begin_reply();
    Taken taken;
    feed(reply, bytes, splits, [&] {
        for (; reply.reply_done(); reply.next_reply()) {
            if (reply.reply_text().size() > kCap + 64) {
                __builtin_trap();
            }
            taken.replies << reply.reply_text();
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SplitInput in(data, size);
    const qint64 count = in.variant % 8;
    const Taken whole = take_all(in.bytes, QByteArray());
    const Taken pieces = take_all(in.bytes, in.splits);
    // An overflow ends the stream early; up to it the replies agree.
    const qsizetype agreed = qMin(whole.replies.size(), pieces.replies.size());
    if (whole.replies.mid(0, agreed) != pieces.replies.mid(0, agreed) ||
        (!whole.overflowed && !pieces.overflowed && whole.replies != pieces.replies)) {
        __builtin_trap();
    }
    for (const QString& reply : whole.replies) {
        check_listing(reply, count);
    }
    return 0;
}
