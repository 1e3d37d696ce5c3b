// Arbitrary server bytes in arbitrary arrival splits: the assembler never
// crashes, never hands out more than its cap, and takes one reply exactly
// alike whatever the split: complete or not, abandoned or not, its text,
// error, framing and cut.
#include "split_feed.h"

namespace {

constexpr qsizetype kCap = 4096;

struct Assembled {
    bool done, overflowed, err, framed, cut;
    QString text;
    bool operator==(const Assembled& o) const {
        return done == o.done && overflowed == o.overflowed &&
               (!done || (err == o.err && framed == o.framed && cut == o.cut && text == o.text));
    }
};

Assembled assemble(ostrel::ReplyMode mode, const QByteArray& bytes, const QByteArray& splits) {
    ostrel::ReplyAssembler reply(kCap);
    reply.set_mode(mode);
    reply.begin_reply();
    feed(reply, bytes, splits, [] {});
    if (reply.reply_text().size() > kCap) {
        __builtin_trap();
    }
    return {reply.reply_done(),  reply.overflowed(), reply.reply_err(),
            reply.well_framed(), reply.cut(),        reply.reply_text()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SplitInput in(data, size);
    const auto mode = (in.variant & 1) ? ostrel::ReplyMode::Top : ostrel::ReplyMode::SingleLine;
    if (!(assemble(mode, in.bytes, QByteArray()) == assemble(mode, in.bytes, in.splits))) {
        __builtin_trap();
    }
    return 0;
}
