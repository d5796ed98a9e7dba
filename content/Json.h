// The feeds' view of a JSON document: nlohmann-json behind a few readers
// that never fail. A missing member, or a member of another type, reads as
// an empty string, an empty array or 0; a document that is not an object
// reads as an empty object; every text reaches its field through the one
// conversion helper (base/Text.h), cut to the field's capacity.
//
// Parsing refuses, instead of throwing, what does not parse and what nests
// deeper than any feed needs, so that a hostile document can neither throw
// through a feed nor exhaust the worker's stack. Any thread.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

using JsonValue = nlohmann::json;

// Deeper nesting than any feed's documents have; a deeper document is refused.
constexpr int kJsonMaxDepth = 64;

// Parses length bytes of UTF-8 (up to the first zero byte, as documents
// are read as text); ill-formed UTF-8 reads as U+FFFD. False, leaving out
// as null, when it does not parse.
bool ParseJson(const char* text, size_t length, JsonValue& out);

// The text with each ill-formed UTF-8 sequence (the longest start of one
// that could be well formed, or a lone byte) replaced by U+FFFD.
std::string RepairedUtf8(const char* text, size_t length);

// The member named key of an object; a null value when value is not an
// object or has no such member.
const JsonValue& JsonMember(const JsonValue& value, const char* key);
// The elements of an array: 0 for anything else.
size_t JsonCount(const JsonValue& value);
// Element index of an array; a null value past its end or for anything else.
const JsonValue& JsonItem(const JsonValue& value, size_t index);

// The member as UTF-8 text: empty unless it is a string.
std::string JsonString(const JsonValue& object, const char* key);
// The member converted from UTF-8 into a UTF-16 field of capacity units.
void JsonText(const JsonValue& object, const char* key, wchar_t* field, size_t capacity);
template <size_t N>
void JsonText(const JsonValue& object, const char* key, wchar_t (&field)[N]) {
    JsonText(object, key, field, N);
}
// The member as a number: 0 unless it is one.
double JsonNumber(const JsonValue& object, const char* key);
// The member's bytes, unconverted, into an 8-bit field.
void JsonBytes(const JsonValue& object, const char* key, char* field, size_t capacity);
template <size_t N>
void JsonBytes(const JsonValue& object, const char* key, char (&field)[N]) {
    JsonBytes(object, key, field, N);
}
