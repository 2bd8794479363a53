// A small JSON reader for the checker's --json output: objects, arrays,
// strings (with \" \\ \/ \b \f \n \r \t \uXXXX escapes), numbers, true,
// false and null. A malformed document gives a value of kind Invalid.
#pragma once

#include <stdint.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

struct JsonValue {
    enum Kind { Invalid, Null, Bool, Number, String, Array, Object } kind = Invalid;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;

    const JsonValue& operator[](const std::string& name) const {
        static const JsonValue missing;
        const std::map<std::string, JsonValue>::const_iterator found = fields.find(name);
        return found == fields.end() ? missing : found->second;
    }
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    JsonValue document() {
        JsonValue value = parseValue();
        skipBlanks();
        if (pos_ != text_.size())
            return JsonValue();
        return value;
    }

  private:
    void skipBlanks() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t'))
            ++pos_;
    }

    bool take(char c) {
        skipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool word(const char* w) {
        const std::string expected(w);
        if (text_.compare(pos_, expected.size(), expected) != 0)
            return false;
        pos_ += expected.size();
        return true;
    }

    static void appendUtf8(std::string& out, uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool parseString(std::string& out) {
        if (!take('"'))
            return false;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size())
                return false;
            const char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (pos_ + 4 > text_.size())
                        return false;
                    const std::string hex = text_.substr(pos_, 4);
                    char* end = nullptr;
                    const unsigned long unit = strtoul(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4)
                        return false;
                    appendUtf8(out, static_cast<uint32_t>(unit));
                    pos_ += 4;
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    JsonValue parseValue() {
        JsonValue value;
        skipBlanks();
        if (pos_ >= text_.size() || ++depth_ > 64)
            return value;
        const char c = text_[pos_];
        if (c == '{') {
            ++pos_;
            value.kind = JsonValue::Object;
            if (!take('}')) {
                do {
                    std::string name;
                    if (!parseString(name) || !take(':'))
                        return JsonValue();
                    JsonValue field = parseValue();
                    if (field.kind == JsonValue::Invalid)
                        return JsonValue();
                    value.fields[name] = field;
                } while (take(','));
                if (!take('}'))
                    return JsonValue();
            }
        } else if (c == '[') {
            ++pos_;
            value.kind = JsonValue::Array;
            if (!take(']')) {
                do {
                    JsonValue item = parseValue();
                    if (item.kind == JsonValue::Invalid)
                        return JsonValue();
                    value.items.push_back(item);
                } while (take(','));
                if (!take(']'))
                    return JsonValue();
            }
        } else if (c == '"') {
            value.kind = parseString(value.text) ? JsonValue::String : JsonValue::Invalid;
        } else if (word("true")) {
            value.kind = JsonValue::Bool;
            value.boolean = true;
        } else if (word("false")) {
            value.kind = JsonValue::Bool;
        } else if (word("null")) {
            value.kind = JsonValue::Null;
        } else {
            const char* start = text_.c_str() + pos_;
            char* end = nullptr;
            value.number = strtod(start, &end);
            if (end == start)
                return JsonValue();
            value.kind = JsonValue::Number;
            pos_ += static_cast<size_t>(end - start);
        }
        --depth_;
        return value;
    }

    const std::string& text_;
    size_t pos_ = 0;
    int depth_ = 0;
};
