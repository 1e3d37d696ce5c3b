// GLib's headers come before Qt's, which define "signals" as a macro.
#include <gmime/gmime.h>

#include "mail/display_text.h"

#include <QList>
#include <cstring>
#include <memory>

namespace ostrel {

namespace {

// Set up once for the whole run, with options that accept the broken
// encodings real mailers send.
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

struct GFree {
    void operator()(char* text) const { g_free(text); }
};
using GText = std::unique_ptr<char, GFree>;

QByteArray unfold(const QByteArray& raw) {
    const GText unfolded(g_mime_utils_header_unfold(raw.constData()));
    return QByteArray(unfolded.get());
}

bool is_alphanumeric(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

// A charset name, and an optional "*" language after it.
bool is_charset_char(char c) {
    return is_alphanumeric(c) || (c != 0 && std::strchr("-_.:*+", c) != nullptr);
}

bool is_payload_char(char c) {
    return c > ' ' && c < 127 && c != '?';
}

qsizetype span_end(const QByteArray& text, qsizetype from, bool (*allowed)(char)) {
    while (from < text.size() && allowed(text[from])) {
        ++from;
    }
    return from;
}

// "=?" charset "?" encoding "?" payload "?=", at [start, end) of the text.
struct EncodedWord {
    qsizetype start = -1;
    qsizetype end = 0;
    QByteArray charset;
    char encoding = 0;  // 'b' or 'q'
    QByteArray payload;
};

EncodedWord next_encoded_word(const QByteArray& text, qsizetype from) {
    for (qsizetype start = text.indexOf("=?", from); start >= 0;
         start = text.indexOf("=?", start + 2)) {
        const qsizetype charset_end = span_end(text, start + 2, is_charset_char);
        if (charset_end == start + 2 || charset_end + 2 >= text.size() ||
            !is_alphanumeric(text[start + 2]) || text[charset_end] != '?' ||
            text[charset_end + 2] != '?') {
            continue;
        }
        const char encoding = char(text[charset_end + 1] | 0x20);
        const qsizetype payload_start = charset_end + 3;
        const qsizetype payload_end = span_end(text, payload_start, is_payload_char);
        if ((encoding == 'b' || encoding == 'q') && payload_end + 1 < text.size() &&
            text[payload_end] == '?' && text[payload_end + 1] == '=') {
            return {start, payload_end + 2, text.mid(start + 2, charset_end - start - 2), encoding,
                    text.mid(payload_start, payload_end - payload_start)};
        }
    }
    return {};
}

QByteArray as_q_word(const QByteArray& charset, const QByteArray& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray word = "=?" + charset + "?Q?";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_alphanumeric(c)) {
            word += c;
        } else {
            word += '=';
            word += hex[byte >> 4];
            word += hex[byte & 15];
        }
    }
    return word + "?=";
}

// A stretch of header text, a run of encoded words for GMime to decode and
// join, or an encoded word to show as it stands.
struct Piece {
    enum Kind { Text, Words, AsItStands };
    Piece(Kind of, const QByteArray& handed_over) : kind(of), text(handed_over) {}

    Kind kind;
    QByteArray text;
    QByteArray original;  // of a run of words: the words and blanks as they came
};

// GMime joins the payloads of adjacent base64 words of one charset before
// decoding them, so a word that ends in "=" padding swallows the words after
// it. Each base64 word becomes a Q word of the same bytes, which GMime joins
// correctly (a character split across two words included). A base64 word
// that does not decode is kept apart, to be shown as it stands. Runs of
// encoded words are handed over on their own, so that what stands before a
// word never stops GMime from reading it.
QList<Piece> pieces_of(const QByteArray& text) {
    QList<Piece> pieces;
    qsizetype at = 0;
    for (EncodedWord word = next_encoded_word(text, 0); word.start >= 0;
         word = next_encoded_word(text, at)) {
        const QByteArray between = text.mid(at, word.start - at);
        at = word.end;
        QByteArray readable_word = text.mid(word.start, word.end - word.start);
        if (word.encoding == 'b') {
            const auto bytes = QByteArray::fromBase64Encoding(
                word.payload, QByteArray::AbortOnBase64DecodingErrors);
            if (!bytes || word.payload.size() % 4 == 1) {
                pieces.append({Piece::Text, between});
                pieces.append({Piece::AsItStands, readable_word});
                continue;
            }
            readable_word =
                bytes.decoded.isEmpty() ? QByteArray() : as_q_word(word.charset, bytes.decoded);
        }
        // Blanks between two encoded words are dropped.
        if (pieces.isEmpty() || pieces.last().kind != Piece::Words ||
            !between.trimmed().isEmpty()) {
            pieces.append({Piece::Text, between});
            pieces.append({Piece::Words, QByteArray()});
        } else {
            pieces.last().original += between;
        }
        pieces.last().text += ' ' + readable_word;
        pieces.last().original += text.mid(word.start, word.end - word.start);
    }
    pieces.append({Piece::Text, text.mid(at)});
    return pieces;
}

QString decoded(const QByteArray& unfolded) {
    QString text;
    for (const Piece& piece : pieces_of(unfolded)) {
        if (piece.kind == Piece::AsItStands) {
            text += QString::fromLatin1(piece.text);
            continue;
        }
        const GText utf8(
            g_mime_utils_header_decode_text(lenient_options(), piece.text.constData()));
        const QString words = QString::fromUtf8(utf8.get());
        if (piece.kind == Piece::Text) {
            text += words;
        } else {
            // A word GMime left unread would show in its rewritten form.
            text += words.contains(QLatin1String("=?")) ? QString::fromLatin1(piece.original)
                                                        : words.trimmed();
        }
    }
    return text;
}

// Nothing a label would act on or hide: tabs become blanks, other control
// characters U+FFFD.
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

// The decoded name of the first address; empty when it has none, or when the
// value holds what the address parser cannot be given (a NUL, an encoded
// word that does not decode) or what it does not understand.
QString first_address_name(const QByteArray& raw_from) {
    if (raw_from.contains('\0')) {
        return {};
    }
    QByteArray value;
    for (const Piece& piece : pieces_of(unfold(raw_from))) {
        if (piece.kind == Piece::AsItStands) {
            return {};
        }
        value += piece.text;
    }
    InternetAddressList* list = internet_address_list_parse(lenient_options(), value.constData());
    if (list == nullptr) {
        return {};
    }
    QString name;
    if (internet_address_list_length(list) > 0) {
        name = QString::fromUtf8(
            internet_address_get_name(internet_address_list_get_address(list, 0)));
    }
    g_object_unref(list);
    // An encoded word left in the name was not read: the decoded text knows better.
    return name.contains(QLatin1String("=?")) ? QString() : readable(name);
}

}  // namespace

QString display_text(const QByteArray& raw) {
    // GMime reads C strings: each stretch between NULs is decoded alone.
    QString text;
    const QList<QByteArray> parts = raw.split('\0');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            text += QChar(QChar::ReplacementCharacter);
        }
        text += decoded(unfold(parts[i]));
    }
    return readable(text);
}

QString sender_name(const QByteArray& raw_from) {
    const QString name = first_address_name(raw_from);
    if (!name.isEmpty()) {
        return name;
    }
    const QString whole = display_text(raw_from);
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
