#pragma once
// The reply fuzzers' input: byte 0 picks a variant, byte 1 how many of the
// next bytes give arrival piece sizes; the rest are the server's bytes.
#include "pop3/reply_assembler.h"

struct SplitInput {
    SplitInput(const uint8_t* data, size_t size)
        : rest(reinterpret_cast<const char*>(data), qsizetype(size)),
          variant(size < 2 ? 0 : data[0]),
          splits(rest.mid(2, size < 2 ? 0 : data[1] % 16)),
          bytes(rest.mid(2 + splits.size())) {}
    QByteArray rest;
    unsigned char variant;
    QByteArray splits, bytes;
};

// Feeds `bytes` to `reply` (anything with arrive()) whole, or in pieces
// sized by `splits`; `after` runs after each.
template <class Receiver, class After>
void feed(Receiver& reply, const QByteArray& bytes, const QByteArray& splits, After after) {
    for (qsizetype i = 0, at = 0; at < bytes.size(); ++i) {
        const qsizetype piece =
            splits.isEmpty() ? bytes.size() : 1 + uchar(splits[i % splits.size()]) % 64;
        reply.arrive(bytes.mid(at, piece));
        at += piece;
        after();
    }
}
