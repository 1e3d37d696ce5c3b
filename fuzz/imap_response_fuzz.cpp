// Arbitrary server bytes in arbitrary arrival splits: the IMAP response
// reader never crashes, keeps no response past its cap, and reads the same
// responses, up to the same over-cap point, whatever the split.
#include <algorithm>

#include "imap/response_reader.h"
#include "split_feed.h"

namespace {

using ostrel::imap::Response;

bool same(const Response& a, const Response& b) {
    return a.kind == b.kind && a.tag == b.tag && a.condition == b.condition && a.code == b.code &&
           a.code_argument == b.code_argument && a.code_number == b.code_number &&
           a.text == b.text && a.data == b.data && a.number == b.number &&
           a.capabilities == b.capabilities && a.search == b.search && a.fetch.uid == b.fetch.uid &&
           a.fetch.size == b.fetch.size && a.fetch.header_fields == b.fetch.header_fields;
}

// The responses read, and an empty tag-less Tagged one for the over-cap point.
QList<Response> read(const QByteArray& bytes, const QByteArray& splits, bool small) {
    const auto limits = small ? ostrel::imap::ResponseReader::Limits{64, 256}
                              : ostrel::imap::ResponseReader::Limits{1024, 4096};
    ostrel::imap::ResponseReader reader(limits);
    QList<Response> read;
    feed(reader, bytes, splits, [&] {
        while (const auto response = reader.take()) {
            // Header fields come as a literal or as a quoted string inside
            // the response line, so the larger cap bounds them.
            const qsizetype fields = response->fetch.header_fields.value_or("").size();
            if (fields > std::max(limits.literal, limits.response) ||
                response->text.size() > limits.response) {
                __builtin_trap();
            }
            read << *response;
        }
    });
    if (reader.over_cap()) {
        Response over_cap;
        over_cap.kind = Response::Kind::Tagged;
        read << over_cap;
    }
    return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const SplitInput in(data, size);
    const QList<Response> whole = read(in.bytes, QByteArray(), in.variant & 1);
    const QList<Response> pieces = read(in.bytes, in.splits, in.variant & 1);
    if (whole.size() != pieces.size() ||
        !std::equal(whole.begin(), whole.end(), pieces.begin(), same)) {
        __builtin_trap();
    }
    return 0;
}
