// The documents the benchmarks build from: our content set's, grown to
// the sizes a benchmark measures.
#pragma once

#include "FeedHarness.h"

#include <string>

// A document of our content set with its items repeated up to count, or,
// for the Map, count cities of perCity offices each (a city of the set
// without offices takes the first city's).
inline std::string RepeatedDocument(const char* name, size_t count, size_t perCity = 0) {
    const std::string text = ContentDocument(name);
    JsonValue source;
    ParseJson(text.c_str(), text.size(), source);
    const char* list = perCity ? "map" : "items";
    const JsonValue& items = JsonMember(source, list);
    JsonValue repeated = {{list, JsonValue::array()}};
    for (size_t i = 0; i < count && JsonCount(items); ++i) {
        JsonValue item = JsonItem(items, i % JsonCount(items));
        if (perCity) {
            JsonValue offices = JsonMember(item, "offices");
            if (JsonCount(offices) == 0)
                offices = JsonMember(JsonItem(items, 0), "offices");
            item["offices"] = JsonValue::array();
            for (size_t o = 0; o < perCity && JsonCount(offices); ++o)
                item["offices"].push_back(JsonItem(offices, o % JsonCount(offices)));
        }
        repeated[list].push_back(item);
    }
    return repeated.dump();
}

// The same, padded with a member no feed reads up to bytes in all.
inline std::string PaddedDocument(std::string document, size_t bytes) {
    const std::string pad = "\"pad\": \"\", ";
    if (document.size() + pad.size() < bytes)
        document.insert(1, "\"pad\": \"" + std::string(bytes - document.size() - pad.size(), 'x') +
                               "\", ");
    return document;
}
