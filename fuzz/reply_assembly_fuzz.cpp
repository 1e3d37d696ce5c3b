// Arbitrary server bytes in arbitrary arrival splits: the assembler never
// crashes, never holds more than its cap, and a reply it calls complete is
// the same whatever the split.
#include "split_feed.h"

namespace {

constexpr qsizetype kCap = 4096;

struct Assembled {
    bool done, overflowed, err;
    QString text;
};

Assembled assemble(ostrel::ReplyMode mode, const QByteArray& bytes, const QByteArray& splits) {
    ostrel::ReplyAssembler reply(kCap);
    reply.set_mode(mode);
    reply.begin_reply();
    feed(reply, bytes, splits, [] {});
    if (reply.reply_text().size() > kCap + 8) {
        __builtin_trap();
    }
    return {reply.reply_done(), reply.overflowed(), reply.reply_err(), reply.reply_text()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SplitInput in(data, size);
    const auto mode = (in.variant & 1) ? ostrel::ReplyMode::Top : ostrel::ReplyMode::SingleLine;
    const Assembled whole = assemble(mode, in.bytes, QByteArray());
    const Assembled pieces = assemble(mode, in.bytes, in.splits);
    if ((whole.done && pieces.done && (whole.text != pieces.text || whole.err != pieces.err)) ||
        (whole.done && !pieces.done && !pieces.overflowed)) {
        __builtin_trap();
    }
    return 0;
}
