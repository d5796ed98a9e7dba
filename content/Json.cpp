// Readers over nlohmann-json; see Json.h.
#include "content/Json.h"

#include "base/Text.h"

#include <cstring>

namespace {

const JsonValue& Null() {
    static const JsonValue null;
    return null;
}

// Whether the nesting of arrays and objects stays within the bound; brackets
// inside strings do not count. A linear scan before parsing, so that depth
// is never met by recursion.
bool NestingWithin(const char* text, size_t length, int bound) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > bound)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// The length of the well-formed UTF-8 sequence at text, or, when there is
// none, minus the length of its longest start that could begin one (at
// least 1): that start reads as one U+FFFD, and reading goes on after it.
ptrdiff_t SequenceAt(const unsigned char* text, size_t left) {
    const unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;  // nothing past U+10FFFF
    } else {
        return -1;
    }
    for (size_t i = 1; i < length; ++i) {
        const unsigned char c = i < left ? text[i] : 0;
        if (i >= left || c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return -ptrdiff_t(i);
    }
    return ptrdiff_t(length);
}

}  // namespace

std::string RepairedUtf8(const char* text, size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::string repaired;
    size_t copied = 0;  // of text, into repaired
    for (size_t i = 0; i < length;) {
        const ptrdiff_t step = SequenceAt(bytes + i, length - i);
        if (step > 0) {
            i += size_t(step);
            continue;
        }
        if (repaired.empty())
            repaired.reserve(length + 16);
        repaired.append(text + copied, i - copied).append("\xEF\xBF\xBD");
        i += size_t(-step);
        copied = i;
    }
    if (copied == 0)
        return std::string(text, length);
    return repaired.append(text + copied, length - copied);
}

bool ParseJson(const char* text, size_t length, JsonValue& out) {
    out = nullptr;
    if (!text)
        return false;
    const void* zero = std::memchr(text, 0, length);
    if (zero)
        length = size_t(static_cast<const char*>(zero) - text);
    if (!NestingWithin(text, length, kJsonMaxDepth))
        return false;
    // One bad byte costs one character, not the document.
    const std::string repaired = RepairedUtf8(text, length);
    JsonValue parsed = JsonValue::parse(repaired.begin(), repaired.end(), nullptr, false);
    if (parsed.is_discarded())
        return false;
    out = std::move(parsed);
    return true;
}

const JsonValue& JsonMember(const JsonValue& value, const char* key) {
    if (!value.is_object())
        return Null();
    auto found = value.find(key);
    return found == value.end() ? Null() : *found;
}

size_t JsonCount(const JsonValue& value) {
    return value.is_array() ? value.size() : 0;
}

const JsonValue& JsonItem(const JsonValue& value, size_t index) {
    if (!value.is_array() || index >= value.size())
        return Null();
    return value[index];
}

std::string JsonString(const JsonValue& object, const char* key) {
    const JsonValue& member = JsonMember(object, key);
    return member.is_string() ? member.get_ref<const std::string&>() : std::string();
}

void JsonText(const JsonValue& object, const char* key, wchar_t* field, size_t capacity) {
    const JsonValue& member = JsonMember(object, key);
    if (!member.is_string()) {
        ToWide(Encoding::Utf8, "", field, capacity);
        return;
    }
    // A UTF-16 unit takes at most three bytes of UTF-8: what lies beyond
    // them could not fit, and is not converted only to be cut away.
    const std::string& text = member.get_ref<const std::string&>();
    ToWide(Encoding::Utf8, text.substr(0, 3 * capacity).c_str(), field, capacity);
}

double JsonNumber(const JsonValue& object, const char* key) {
    const JsonValue& member = JsonMember(object, key);
    return member.is_number() ? member.get<double>() : 0.0;
}

void JsonBytes(const JsonValue& object, const char* key, char* field, size_t capacity) {
    const JsonValue& member = JsonMember(object, key);
    CopyText(field, capacity,
             member.is_string() ? member.get_ref<const std::string&>().c_str() : "");
}
