// Arbitrary server bytes in arbitrary arrival splits: the assembler never
// crashes, never holds more than its cap, and a reply it calls complete is
// the same whatever the split.
#include "pop3/reply_assembler.h"

namespace {

constexpr qsizetype kCap = 4096;

struct Assembled {
    bool done;
    bool overflowed;
    bool err;
    QString text;
};

Assembled assemble(ostrel::ReplyMode mode, const QByteArray& bytes, const QByteArray& splits) {
    ostrel::ReplyAssembler reply(kCap);
    reply.set_mode(mode);
    reply.begin_reply();
    qsizetype at = 0;
    for (qsizetype i = 0; at < bytes.size(); ++i) {
        const qsizetype piece =
            splits.isEmpty() ? bytes.size()
                             : 1 + static_cast<unsigned char>(splits[i % splits.size()]) % 64;
        reply.arrive(bytes.mid(at, piece));
        at += piece;
    }
    if (reply.reply_text().size() > kCap + 8) {
        __builtin_trap();
    }
    return {reply.reply_done(), reply.overflowed(), reply.reply_err(), reply.reply_text()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto mode = (data[0] & 1) ? ostrel::ReplyMode::Top : ostrel::ReplyMode::SingleLine;
    const qsizetype split_length = data[1] % 16;
    const QByteArray rest(reinterpret_cast<const char*>(data + 2),
                          static_cast<qsizetype>(size - 2));
    const QByteArray splits = rest.left(split_length);
    const QByteArray bytes = rest.mid(split_length);

    const Assembled whole = assemble(mode, bytes, QByteArray());
    const Assembled pieces = assemble(mode, bytes, splits);
    if (whole.done && pieces.done && (whole.text != pieces.text || whole.err != pieces.err)) {
        __builtin_trap();
    }
    if (whole.done && !pieces.done && !pieces.overflowed) {
        __builtin_trap();
    }
    return 0;
}
