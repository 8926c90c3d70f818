#include "cli/JsonText.h"

#include <cstdio>

namespace orvanta::cli {

namespace {

// The length of the valid UTF-8 character at `text[i]`, or 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8CharacterLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F; // UTF-16 surrogates are not characters
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

void appendString(const std::string& text, std::string& out) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8CharacterLength(text, i);
        char escape[8];
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", static_cast<unsigned char>(text[i]));
            out += escape;
            ++i;
            continue;
        }
        const char c = text[i];
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                out += escape;
            } else {
                out.append(text, i, length);
            }
        }
        i += length;
    }
    out += '"';
}

void append(const nlohmann::ordered_json& value, std::string& out) {
    if (value.is_string()) {
        appendString(value.get_ref<const std::string&>(), out);
    } else if (value.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& item : value.items()) {
            if (!first) out += ',';
            first = false;
            appendString(item.key(), out);
            out += ':';
            append(item.value(), out);
        }
        out += '}';
    } else if (value.is_array()) {
        out += '[';
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (i > 0) out += ',';
            append(value[i], out);
        }
        out += ']';
    } else {
        out += value.dump(); // numbers, booleans, null
    }
}

// True when text[i] starts the escape of a lone low surrogate \udc80 to \udcff.
bool isEscapedByte(const std::string& text, std::size_t i) {
    if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return false;
    unsigned code = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
        const char c = text[k];
        const char lower = char(c | 0x20);
        const int digit = c >= '0' && c <= '9' ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
        if (digit < 0) return false;
        code = code * 16 + unsigned(digit);
    }
    return code >= 0xDC80 && code <= 0xDCFF;
}

} // namespace

std::string jsonText(const nlohmann::ordered_json& value) {
    std::string out;
    append(value, out);
    return out;
}

nlohmann::ordered_json parseJsonText(const std::string& text) {
    std::string readable;
    readable.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            readable += text[i];
            continue;
        }
        // An escape: a lone low surrogate \udc80..\udcff becomes U+FFFD, every other one stays.
        if (isEscapedByte(text, i)) {
            readable += "\\ufffd";
            i += 5;
        } else {
            readable.append(text, i, 2);
            ++i;
        }
    }
    return nlohmann::ordered_json::parse(readable);
}

} // namespace orvanta::cli
