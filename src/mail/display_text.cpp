// GLib's headers come before Qt's, which define "signals" as a macro.
#include <gmime/gmime.h>

#include "mail/display_text.h"

#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <optional>

namespace ostrel {

namespace {

// Set up once for the whole run, with options that accept the broken
// addresses real mailers send.
GMimeParserOptions* lenient_options() {
    static GMimeParserOptions* const options = [] {
        g_mime_init();
        GMimeParserOptions* made = g_mime_parser_options_new();
        g_mime_parser_options_set_rfc2047_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(made, fallback);
        return made;
    }();
    return options;
}

const QString kReplacement(QChar::ReplacementCharacter);
const QByteArray kIso2022Jp = QByteArrayLiteral("ISO-2022-JP");

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = char(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// A charset name, and an optional "*" language after it; mailers send
// misspelt and empty ones too.
bool is_charset_char(char c) {
    return (c > ' ' || c < 0) && c != '?' && c != 127;
}

// What ends a payload or makes it no encoded word at all.
bool breaks_payload(char c) {
    return (c >= 0 && c < ' ' && c != '\t') || c == '?' || c == 127;
}

// The charset a label stands for in mail programs and browsers (the WHATWG
// Encoding Standard), by the name the converters know: "iso-8859-1" and
// "us-ascii" are windows-1252, which gives the bytes 0x80 to 0x9F their
// punctuation ("…", "’", "€"); "shift_jis", "gb2312", "euc-kr" and "big5" are
// their larger Windows forms, with the rows Windows mailers use. Empty for a
// charset said to be unknown.
QByteArray charset_meant(const QByteArray& label) {
    static const QHash<QByteArray, QByteArray> meant = [] {
        const QList<std::pair<QByteArray, QByteArrayList>> families = {
            {"WINDOWS-1252",
             {"ansi_x3.4-1968", "ascii", "cp1252", "cp819", "csisolatin1", "ibm819", "iso-8859-1",
              "iso-ir-100", "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1",
              "latin1", "us-ascii", "windows-1252", "x-cp1252"}},
            {"WINDOWS-1254",
             {"cp1254", "csisolatin5", "iso-8859-9", "iso-ir-148", "iso8859-9", "iso88599",
              "iso_8859-9", "iso_8859-9:1989", "l5", "latin5", "windows-1254", "x-cp1254"}},
            {"WINDOWS-874",
             {"dos-874", "iso-8859-11", "iso8859-11", "iso885911", "tis-620", "windows-874"}},
            {"CP932",
             {"csshiftjis", "ms932", "ms_kanji", "shift-jis", "shift_jis", "sjis", "windows-31j",
              "x-sjis"}},
            {"EUC-JP-MS", {"cseucpkdfmtjapanese", "euc-jp", "x-euc-jp"}},
            {"ISO-2022-JP", {"csiso2022jp", "iso-2022-jp"}},
            {"CP949",
             {"cseuckr", "csksc56011987", "euc-kr", "iso-ir-149", "korean", "ks_c_5601-1987",
              "ks_c_5601-1989", "ksc5601", "ksc_5601", "windows-949"}},
            {"GB18030",
             {"chinese", "csgb2312", "csiso58gb231280", "gb18030", "gb2312", "gb_2312",
              "gb_2312-80", "gbk", "iso-ir-58", "x-gbk"}},
            {"BIG5-HKSCS", {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"}},
            {"", {"unknown", "unknown-8bit", "x-unknown"}}};
        QHash<QByteArray, QByteArray> made;
        for (const auto& [charset, labels] : families) {
            for (const QByteArray& label : labels) {
                made.insert(label, charset);
            }
        }
        return made;
    }();
    const QByteArray name = label.split('*').first().toLower();
    return meant.value(name, name);
}

// The system's converter for ISO-2022-JP lacks the NEC and IBM rows ("①",
// "㈱") that Windows mailers send in it; Qt's (ICU) has them. Its decoder
// drops an incomplete character at the end without a mark: one is added.
std::optional<QString> from_iso_2022_jp(const QByteArray& bytes) {
    QStringDecoder decoder(kIso2022Jp.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) {
        return std::nullopt;
    }
    QString text = decoder.decode(bytes);
    if (decoder.hasError() && !text.contains(kReplacement)) {
        text += kReplacement;
    }
    return text;
}

// `bytes` read in `charset`, a byte the charset does not define as U+FFFD;
// nothing when no converter knows the charset.
std::optional<QString> converted(const QByteArray& charset, const QByteArray& bytes) {
    if (charset.isEmpty()) {
        return std::nullopt;
    }
    if (charset == kIso2022Jp) {
        if (std::optional<QString> text = from_iso_2022_jp(bytes)) {
            return text;
        }
    }
    lenient_options();  // GMime set up
    const iconv_t converter = g_mime_iconv_open("UTF-8", charset.constData());
    if (converter == iconv_t(-1)) {
        return std::nullopt;
    }
    QString text;
    char* in = const_cast<char*>(bytes.constData());
    size_t in_left = size_t(bytes.size());
    char buffer[1024];
    while (in_left > 0) {
        char* out = buffer;
        size_t out_left = sizeof buffer;
        const bool failed = iconv(converter, &in, &in_left, &out, &out_left) == size_t(-1);
        const int error = errno;
        text += QString::fromUtf8(buffer, out - buffer);
        if (failed && error != E2BIG) {
            text += kReplacement;
            // An incomplete character ends the bytes; a wrong byte is skipped.
            in_left = error == EINVAL ? 0 : in_left - 1;
            ++in;
        }
    }
    // A converter may hold back a character until it knows what follows.
    char* out = buffer;
    size_t out_left = sizeof buffer;
    iconv(converter, nullptr, nullptr, &out, &out_left);
    text += QString::fromUtf8(buffer, out - buffer);
    g_mime_iconv_close(converter);
    return text;
}

// Bytes that came without a charset, word by word: UTF-8 when they are valid
// UTF-8, else windows-1252.
QString from_raw_bytes(const QByteArray& bytes) {
    QStringList words;
    for (const QByteArray& word : bytes.split(' ')) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        const QString text = utf8.decode(word);
        words << (utf8.hasError() ? converted("WINDOWS-1252", word).value_or(text) : text);
    }
    return words.join(QLatin1Char(' '));
}

QString from_charset(const QByteArray& charset, const QByteArray& bytes) {
    const std::optional<QString> text = converted(charset, bytes);
    return text ? *text : from_raw_bytes(bytes);
}

std::optional<QByteArray> q_decoded(const QByteArray& payload) {
    QByteArray bytes;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        if (payload[i] == '_') {
            bytes += ' ';
        } else if (payload[i] != '=') {
            bytes += payload[i];
        } else if (i + 2 < payload.size() && hex_value(payload[i + 1]) >= 0 &&
                   hex_value(payload[i + 2]) >= 0) {
            bytes += char(hex_value(payload[i + 1]) * 16 + hex_value(payload[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

// Padding may be missing or too long.
std::optional<QByteArray> b_decoded(QByteArray payload) {
    while (payload.endsWith('=')) {
        payload.chop(1);
    }
    const auto bytes =
        QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes || payload.size() % 4 == 1) {
        return std::nullopt;
    }
    return bytes.decoded;
}

// "=?" charset "?" encoding "?" payload "?=", at [start, end) of the text,
// and the payload's bytes when it decodes cleanly.
struct EncodedWord {
    qsizetype start = -1;
    qsizetype end = 0;
    QByteArray charset;
    std::optional<QByteArray> bytes;
};

// Finds encoded words from left to right. A payload runs to the first "?="
// and holds blanks (as some mailers send them) but no "?", no control
// character and no "=?" of another word. Where the next "?=" and "=?" lie is
// remembered, so that a long value is read once.
class WordScanner {
public:
    explicit WordScanner(const QByteArray& text) : text_(text) {}

    EncodedWord next(qsizetype from) {
        for (qsizetype start = text_.indexOf("=?", from); start >= 0;
             start = text_.indexOf("=?", start + 2)) {
            const qsizetype charset_end = span_end(start + 2);
            if (charset_end + 2 >= text_.size() || text_[charset_end] != '?' ||
                text_[charset_end + 2] != '?') {
                continue;
            }
            const char encoding = char(text_[charset_end + 1] | 0x20);
            const qsizetype payload_start = charset_end + 3;
            const qsizetype close = after(payload_start, "?=", close_);
            if (close < 0) {
                return {};
            }
            if ((encoding != 'b' && encoding != 'q') || opens_within(payload_start, close) ||
                breaks(payload_start, close)) {
                continue;
            }
            const QByteArray payload = text_.mid(payload_start, close - payload_start);
            return {start, close + 2, text_.mid(start + 2, charset_end - start - 2),
                    encoding == 'b' ? b_decoded(payload) : q_decoded(payload)};
        }
        return {};
    }

private:
    qsizetype span_end(qsizetype at) const {
        while (at < text_.size() && is_charset_char(text_[at])) {
            ++at;
        }
        return at;
    }

    // The first `marker` at or after `at`; -1 when there is none.
    qsizetype after(qsizetype at, const char* marker, qsizetype& remembered) const {
        if (remembered != kNone && (remembered < 0 || remembered >= at)) {
            return remembered;
        }
        remembered = text_.indexOf(marker, at);
        return remembered;
    }

    // Another word's "=?" inside the payload; the "=" of base64 padding may
    // touch the closing "?=".
    bool opens_within(qsizetype from, qsizetype close) {
        const qsizetype open = after(from, "=?", open_);
        return open >= 0 && open < close - 1;
    }

    bool breaks(qsizetype from, qsizetype to) const {
        return std::any_of(text_.cbegin() + from, text_.cbegin() + to, breaks_payload);
    }

    static constexpr qsizetype kNone = -2;
    const QByteArray& text_;
    qsizetype close_ = kNone;
    qsizetype open_ = kNone;
};

// A stretch of the value: plain text, a run of encoded words decoded (the
// blanks between them dropped), or an encoded word shown as it stands.
struct Piece {
    enum Kind { Text, Words, AsItStands };
    Kind kind;
    QString text;
};

// The decoded bytes of adjacent words of one charset are read together, so
// that a character split across two words comes out whole; ISO-2022-JP words
// each end in ASCII and are read one by one.
QList<Piece> pieces_of(const QByteArray& raw) {
    QByteArray unfolded = raw;
    unfolded.replace('\r', QByteArray()).replace('\n', QByteArray());
    QList<Piece> pieces;
    std::optional<QByteArray> charset;  // of the words read together
    QByteArray bytes;
    const auto end_run = [&] {
        if (charset) {
            pieces.last().text += from_charset(*charset, bytes);
            charset.reset();
        }
    };
    WordScanner scanner(unfolded);
    qsizetype at = 0;
    for (EncodedWord word = scanner.next(0); word.start >= 0; word = scanner.next(at)) {
        const QByteArray between = unfolded.mid(at, word.start - at);
        at = word.end;
        const bool joins = word.bytes && !pieces.isEmpty() && pieces.last().kind == Piece::Words &&
                           between.trimmed().isEmpty();
        if (!joins) {
            end_run();
            pieces.append({Piece::Text, from_raw_bytes(between)});
            if (!word.bytes) {
                const QByteArray as_sent = unfolded.mid(word.start, word.end - word.start);
                pieces.append({Piece::AsItStands, from_raw_bytes(as_sent)});
                continue;
            }
            pieces.append({Piece::Words, QString()});
        } else if (charset_meant(word.charset) != charset || charset == kIso2022Jp) {
            end_run();
        }
        if (!charset) {
            charset = charset_meant(word.charset);
            bytes.clear();
        }
        bytes += *word.bytes;
    }
    end_run();
    pieces.append({Piece::Text, from_raw_bytes(unfolded.mid(at))});
    return pieces;
}

// Nothing a label would act on or hide: tabs and line breaks (from encoded
// words) become blanks, other control characters U+FFFD.
QString readable(QString text) {
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            c = QLatin1Char(' ');
        } else if (c.category() == QChar::Other_Control) {
            c = QChar::ReplacementCharacter;
        }
    }
    return text.trimmed();
}

// Stand-ins for decoded words while an address parser reads the value: a
// decoded word is one word of a name, whatever characters it holds, and no
// word the parser would decode again.
constexpr char16_t kFirstStandIn = 0xE000;
constexpr char16_t kLastStandIn = 0xF8FF;

bool is_stand_in(QChar c) {
    return c.unicode() >= kFirstStandIn && c.unicode() <= kLastStandIn;
}

// The first mailbox of an address list, inside a group or not.
InternetAddressMailbox* first_mailbox(InternetAddressList* list) {
    for (int i = 0; i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        InternetAddressMailbox* mailbox = INTERNET_ADDRESS_IS_MAILBOX(address)
                                              ? INTERNET_ADDRESS_MAILBOX(address)
                                              : first_mailbox(internet_address_group_get_members(
                                                    INTERNET_ADDRESS_GROUP(address)));
        if (mailbox != nullptr) {
            return mailbox;
        }
    }
    return nullptr;
}

// The first mailbox's name, or its address when the name is empty; a group
// without mailboxes by its name. Empty when the parser finds no address.
QString first_mailbox_name(const QList<Piece>& pieces) {
    QString value;
    QStringList words;
    const auto stand_in = [&](const QString& word) {
        if (kFirstStandIn + words.size() > kLastStandIn) {
            return false;
        }
        value += QChar(char16_t(kFirstStandIn + words.size()));
        words << word;
        return true;
    };
    for (const Piece& piece : pieces) {
        if (piece.kind != Piece::Text) {
            if (!stand_in(piece.text)) {
                return {};
            }
            continue;
        }
        if (std::any_of(piece.text.cbegin(), piece.text.cend(), is_stand_in)) {
            return {};
        }
        // The parser reads what looks like an encoded word in its own way:
        // it sees none.
        const QStringList parts = piece.text.split(QStringLiteral("=?"));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0 && !stand_in(QStringLiteral("=?"))) {
                return {};
            }
            value += parts[i];
        }
    }
    value.replace(QChar(0), kReplacement);
    InternetAddressList* list =
        internet_address_list_parse(lenient_options(), value.toUtf8().constData());
    if (list == nullptr) {
        return {};
    }
    const auto shown = [&words](const char* parsed) {
        QString text;
        for (const QChar c : QString::fromUtf8(parsed)) {
            text += is_stand_in(c) ? words.value(c.unicode() - kFirstStandIn) : QString(c);
        }
        return readable(text);
    };
    QString name;
    if (InternetAddressMailbox* mailbox = first_mailbox(list)) {
        // One without "@" is a name the parser misread ("Lee, Ann <ann@example.org>").
        const QString address = shown(internet_address_mailbox_get_addr(mailbox));
        if (address.contains(QLatin1Char('@'))) {
            name = shown(internet_address_get_name(INTERNET_ADDRESS(mailbox)));
            name = name.isEmpty() ? address : name;
        }
    } else if (internet_address_list_length(list) > 0) {
        name = shown(internet_address_get_name(internet_address_list_get_address(list, 0)));
    }
    g_object_unref(list);
    return name;
}

QString joined(const QList<Piece>& pieces) {
    QString text;
    for (const Piece& piece : pieces) {
        text += piece.text;
    }
    return text;
}

}  // namespace

QString display_text(const QByteArray& raw) {
    return readable(joined(pieces_of(raw)));
}

QString sender_name(const QByteArray& raw_from) {
    const QList<Piece> pieces = pieces_of(raw_from);
    const QString name = first_mailbox_name(pieces);
    if (!name.isEmpty()) {
        return name;
    }
    const QString whole = readable(joined(pieces));
    const QString before_address = whole.left(whole.indexOf(QLatin1Char('<'))).trimmed();
    return before_address.isEmpty() ? whole : before_address;
}

DisplayValues display_values(const QString& raw_from, const QString& raw_subject) {
    const QByteArray from = raw_from.toLatin1();
    return {display_text(from), display_text(raw_subject.toLatin1()), sender_name(from)};
}

void store_decoded(MessageTable& table, int index, qint64 number, const QString& raw_from,
                   const QString& raw_subject) {
    table.store(index, number, raw_from, raw_subject, display_values(raw_from, raw_subject));
}

}  // namespace ostrel
