#include "imap/response_parser.h"

namespace ostrel::imap {

namespace {

// Lists nest at most this deep; deeper ones are refused rather than followed
// down the stack.
constexpr int kDepthCap = 32;

std::optional<quint64> number_of(QByteArrayView digits, quint64 max) {
    if (digits.isEmpty() || digits.size() > 20) {
        return std::nullopt;
    }
    quint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > (max - quint64(c - '0')) / 10) {
            return std::nullopt;
        }
        value = value * 10 + quint64(c - '0');
    }
    return value;
}

std::optional<quint32> number32(QByteArrayView digits) {
    const auto value = number_of(digits, 0xffffffffu);
    return value ? std::optional<quint32>(quint32(*value)) : std::nullopt;
}

Condition condition_of(const QByteArray& word) {
    static const struct {
        const char* word;
        Condition condition;
    } names[] = {{"OK", Condition::Ok},
                 {"NO", Condition::No},
                 {"BAD", Condition::Bad},
                 {"BYE", Condition::Bye},
                 {"PREAUTH", Condition::Preauth}};
    for (const auto& name : names) {
        if (word == name.word) {
            return name.condition;
        }
    }
    return Condition::None;
}

QByteArrayList words_in_capitals(QByteArrayView text) {
    QByteArrayList words;
    for (const QByteArray& word : text.toByteArray().toUpper().split(' ')) {
        if (!word.isEmpty()) {
            words << word;
        }
    }
    return words;
}

// A value of the grammar: an atom (numbers and NIL included), a string
// (quoted or literal) or a parenthesised list. Only strings keep their bytes
// here; the rest is checked and skipped.
struct Value {
    enum class Type { Atom, String, List } type = Type::Atom;
    QByteArray bytes;
};

// Walks the bytes of one response; the first failure's reason is kept.
class Cursor {
public:
    explicit Cursor(QByteArrayView bytes) : bytes_(bytes) {}

    bool at(char c) const { return pos_ < bytes_.size() && bytes_[pos_] == c; }
    bool skip(char c) { return at(c) && ++pos_; }
    bool expect(char c, const char* why) { return skip(c) || fail(why); }
    bool fail(const char* why) {
        if (error_.isEmpty()) {
            error_ = why;
        }
        return false;
    }
    const QByteArray& error() const { return error_; }

    // The bytes up to the line end, not taken: free text.
    QByteArrayView rest_of_line() const {
        const qsizetype end = bytes_.indexOf("\r\n", pos_);
        return bytes_.sliced(pos_, (end < 0 ? bytes_.size() : end) - pos_);
    }
    void advance(qsizetype count) { pos_ += count; }

    // The response ends here: its line end is its last bytes, so a line of
    // free text cannot have announced a literal.
    bool finish() {
        return (bytes_.sliced(pos_) == "\r\n") || fail("unexpected bytes before the line end");
    }

    // Atom characters, and in them bracketed sections as in
    // BODY[HEADER.FIELDS (FROM SUBJECT)], which hold spaces and lists.
    QByteArray atom() {
        const qsizetype start = pos_;
        while (pos_ < bytes_.size() && is_atom_char(bytes_[pos_])) {
            if (bytes_[pos_] == '[' && !skip_section()) {
                return {};
            }
            ++pos_;
        }
        return bytes_.sliced(start, pos_ - start).toByteArray();
    }

    // A tag: atom characters but "+" (and no sections).
    QByteArray tag() {
        const qsizetype start = pos_;
        while (pos_ < bytes_.size() && is_atom_char(bytes_[pos_]) &&
               !QByteArrayView("+[%*\\").contains(bytes_[pos_])) {
            ++pos_;
        }
        return bytes_.sliced(start, pos_ - start).toByteArray();
    }

    std::optional<Value> value(int depth = 0) {
        if (at('(')) {
            return list(depth);
        }
        if (at('"')) {
            return quoted();
        }
        if (at('{')) {
            return literal();
        }
        const QByteArray word = atom();
        if (word.isEmpty()) {
            fail("a value is missing");
            return std::nullopt;
        }
        return Value{Value::Type::Atom, word};
    }

private:
    static bool is_atom_char(char c) {
        return c > ' ' && c < 0x7f && !QByteArrayView("(){\"").contains(c);
    }

    // From "[" to its "]", past quoted strings; the cursor stays on the "]".
    bool skip_section() {
        for (++pos_; pos_ < bytes_.size() && bytes_[pos_] != '\r'; ++pos_) {
            if (bytes_[pos_] == ']') {
                return true;
            }
            if (bytes_[pos_] == '"') {
                if (!quoted()) {
                    return false;
                }
                --pos_;  // back onto the closing quote, which the loop steps over
            }
        }
        return fail("a section has no closing bracket");
    }

    std::optional<Value> list(int depth) {
        ++pos_;
        if (depth >= kDepthCap) {
            fail("lists nest too deep");
            return std::nullopt;
        }
        if (skip(')')) {
            return Value{Value::Type::List, {}};
        }
        do {
            if (!value(depth + 1)) {
                return std::nullopt;
            }
        } while (skip(' '));
        if (!expect(')', "a list has no closing parenthesis")) {
            return std::nullopt;
        }
        return Value{Value::Type::List, {}};
    }

    // A quoted string; only a quote and a backslash may be escaped.
    std::optional<Value> quoted() {
        QByteArray text;
        for (++pos_; pos_ < bytes_.size(); ++pos_) {
            char c = bytes_[pos_];
            if (c == '"') {
                ++pos_;
                return Value{Value::Type::String, text};
            }
            if (c == '\r' || c == '\n') {
                break;
            }
            if (c == '\\') {
                c = ++pos_ < bytes_.size() ? bytes_[pos_] : '\0';
                if (c != '"' && c != '\\') {
                    fail("a quoted string holds a stray backslash");
                    return std::nullopt;
                }
            }
            text += c;
        }
        fail("a quoted string is not closed");
        return std::nullopt;
    }

    // "{n}" or "{n+}", CR LF, then exactly n bytes.
    std::optional<Value> literal() {
        const qsizetype close = bytes_.indexOf('}', pos_);
        QByteArrayView digits = bytes_.sliced(pos_ + 1, qMax<qsizetype>(close - pos_ - 1, 0));
        if (digits.endsWith('+')) {
            digits.chop(1);
        }
        const auto size = number_of(digits, quint64(bytes_.size()));
        if (close < 0 || !size || !bytes_.sliced(close + 1).startsWith("\r\n") ||
            quint64(bytes_.size() - close - 3) < *size) {
            fail("a literal is announced wrongly");
            return std::nullopt;
        }
        pos_ = close + 3 + qsizetype(*size);
        return Value{Value::Type::String, bytes_.sliced(close + 3, qsizetype(*size)).toByteArray()};
    }

    QByteArrayView bytes_;
    qsizetype pos_ = 0;
    QByteArray error_;
};

// resp-text: an optional "[CODE argument]", then free text to the line end.
bool read_status_text(Cursor& cursor, Response& response) {
    if (!cursor.skip(' ')) {
        return cursor.finish();
    }
    QByteArrayView text = cursor.rest_of_line();
    const qsizetype close = text.indexOf(']');
    if (text.startsWith('[') && close > 0) {
        const QByteArrayView inside = text.sliced(1, close - 1);
        const qsizetype space = inside.indexOf(' ');
        response.code = inside.first(space < 0 ? inside.size() : space).toByteArray().toUpper();
        response.code_argument = space < 0 ? QByteArray() : inside.sliced(space + 1).toByteArray();
        response.code_number = number32(response.code_argument);
        if (response.code == "CAPABILITY") {
            response.capabilities = words_in_capitals(response.code_argument);
        }
        text = text.sliced(close + 1);
        if (text.startsWith(' ')) {
            text = text.sliced(1);
        }
    }
    response.text = text.toByteArray();
    cursor.advance(cursor.rest_of_line().size());
    return cursor.finish();
}

// SEARCH numbers, up to a parenthesised suffix such as (MODSEQ n).
bool read_search(Cursor& cursor, Response& response) {
    const QByteArrayView line = cursor.rest_of_line();
    for (const QByteArray& word : line.toByteArray().split(' ')) {
        if (word.startsWith('(')) {
            break;
        }
        const auto number = number32(word);
        if (!word.isEmpty() && !number) {
            return cursor.fail("a search result is not a number");
        }
        if (number) {
            response.search << *number;
        }
    }
    return true;
}

bool read_fetch_item(const QByteArray& name, const Value& value, FetchItems& items,
                     Cursor& cursor) {
    if (name == "UID") {
        const auto uid = number32(value.bytes);
        if (value.type != Value::Type::Atom || !uid || *uid == 0) {
            return cursor.fail("a UID is not a number above zero");
        }
        items.uid = uid;
    } else if (name == "RFC822.SIZE") {
        items.size = number_of(value.bytes, ~quint64(0));
        if (value.type != Value::Type::Atom || !items.size) {
            return cursor.fail("a size is not a number");
        }
    } else if (name.startsWith("BODY[HEADER.FIELDS ") || name.startsWith("BODY[HEADER.FIELDS(")) {
        const bool nil = value.type == Value::Type::Atom && value.bytes.toUpper() == "NIL";
        if (value.type != Value::Type::String && !nil) {
            return cursor.fail("header fields are not a string");
        }
        items.header_fields = nil ? QByteArray() : value.bytes;
    }
    return true;
}

// "(" name SP value *(SP name SP value) ")"
bool read_fetch(Cursor& cursor, FetchItems& items) {
    if (!cursor.expect(' ', "FETCH has no items") || !cursor.expect('(', "FETCH has no items")) {
        return false;
    }
    do {
        const QByteArray name = cursor.atom().toUpper();
        if (name.isEmpty() || !cursor.expect(' ', "a FETCH item has no value")) {
            return cursor.fail("a FETCH item has no name");
        }
        const auto value = cursor.value();
        if (!value || !read_fetch_item(name, *value, items, cursor)) {
            return false;
        }
    } while (cursor.skip(' '));
    return cursor.expect(')', "FETCH items are not closed") && cursor.finish();
}

// "* n EXISTS", "* n RECENT", "* n EXPUNGE", "* n FETCH (...)"
bool read_numbered(Cursor& cursor, quint32 number, Response& response) {
    response.number = number;
    if (!cursor.expect(' ', "a message number stands alone")) {
        return false;
    }
    response.data = cursor.atom().toUpper();
    if (response.data == "FETCH") {
        return read_fetch(cursor, response.fetch);
    }
    if (response.data == "EXISTS" || response.data == "RECENT" || response.data == "EXPUNGE") {
        return cursor.finish();
    }
    return !response.data.isEmpty() || cursor.fail("a message number has no data name");
}

bool read_untagged(Cursor& cursor, Response& response) {
    const QByteArray word = cursor.atom().toUpper();
    if (const auto number = number32(word)) {
        return read_numbered(cursor, *number, response);
    }
    response.condition = condition_of(word);
    if (response.condition != Condition::None) {
        return read_status_text(cursor, response);
    }
    response.data = word;
    if (word == "CAPABILITY") {
        response.capabilities = words_in_capitals(cursor.rest_of_line());
        cursor.advance(cursor.rest_of_line().size());
        return cursor.finish();
    }
    if (word == "SEARCH") {
        return read_search(cursor, response);
    }
    return !word.isEmpty() || cursor.fail("untagged data has no name");
}

bool read_tagged(Cursor& cursor, Response& response) {
    response.tag = cursor.tag();
    if (response.tag.isEmpty() || !cursor.expect(' ', "a tag stands alone")) {
        return cursor.fail("a response begins with neither a tag, \"*\" nor \"+\"");
    }
    response.condition = condition_of(cursor.atom().toUpper());
    if (response.condition != Condition::Ok && response.condition != Condition::No &&
        response.condition != Condition::Bad) {
        return cursor.fail("a tagged response is not OK, NO or BAD");
    }
    return read_status_text(cursor, response);
}

}  // namespace

Response parse_response(QByteArrayView bytes) {
    Cursor cursor(bytes);
    Response response;
    bool read;
    if (cursor.skip('+')) {
        response.kind = Response::Kind::Continuation;
        cursor.skip(' ');
        response.text = cursor.rest_of_line().toByteArray();
        cursor.advance(response.text.size());
        read = cursor.finish();
    } else if (cursor.skip('*')) {
        response.kind = Response::Kind::Untagged;
        read = cursor.expect(' ', "\"*\" stands alone") && read_untagged(cursor, response);
    } else {
        response.kind = Response::Kind::Tagged;
        read = read_tagged(cursor, response);
    }
    if (!read) {
        Response malformed;
        malformed.text = cursor.error();
        return malformed;
    }
    return response;
}

}  // namespace ostrel::imap
