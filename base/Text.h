// Text conversion and copying into fixed-capacity fields: the one place
// where the library cuts a text to fit or moves it between UTF-16 and an
// 8-bit encoding.
//
// Capacities count units of the destination (wchar_t or char), terminator
// included. Every cut falls on a whole character: a surrogate pair or a
// multi-byte sequence is never split. Any thread.
#pragma once

#include <cstddef>
#include <string>

enum class Encoding : unsigned {
    Utf8 = 65001,  // CP_UTF8: feed documents and reports
    Ansi = 0,      // CP_ACP: the audio library's strings
};

// Copies text (null reads as empty) and its terminator, cut to fit capacity.
void CopyText(wchar_t* field, size_t capacity, const wchar_t* text);
template <size_t N>
void CopyText(wchar_t (&field)[N], const wchar_t* text) {
    CopyText(field, N, text);
}
void CopyText(char* field, size_t capacity, const char* text);
template <size_t N>
void CopyText(char (&field)[N], const char* text) {
    CopyText(field, N, text);
}

// Copies up to units of text and fills the rest of the field with zeros; a
// text of units or more fills the whole field and is left unterminated, so
// readers of such a field stop at its size.
void CopyUnits(wchar_t* field, size_t units, const wchar_t* text);

// Whole conversions; text of length units, or up to its terminator when
// length is npos. Characters the encoding lacks become its default
// character; invalid input converts as the system converts it.
std::wstring ToWide(Encoding from, const char* text, size_t length = std::string::npos);
std::string ToNarrow(Encoding to, const wchar_t* text, size_t length = std::wstring::npos);

// Conversions into a fixed field, cut to fit with the terminator.
void ToWide(Encoding from, const char* text, wchar_t* field, size_t capacity);
template <size_t N>
void ToWide(Encoding from, const char* text, wchar_t (&field)[N]) {
    ToWide(from, text, field, N);
}
void ToNarrow(Encoding to, const wchar_t* text, char* field, size_t capacity);
template <size_t N>
void ToNarrow(Encoding to, const wchar_t* text, char (&field)[N]) {
    ToNarrow(to, text, field, N);
}
