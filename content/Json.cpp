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

}  // namespace

bool ParseJson(const char* text, size_t length, JsonValue& out) {
    out = nullptr;
    if (!text)
        return false;
    const void* zero = std::memchr(text, 0, length);
    if (zero)
        length = size_t(static_cast<const char*>(zero) - text);
    if (!NestingWithin(text, length, kJsonMaxDepth))
        return false;
    JsonValue parsed = JsonValue::parse(text, text + length, nullptr, false);
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
