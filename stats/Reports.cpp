// The report text and its writer; see Reports.h.
#include "stats/Reports.h"

#include <cstdio>
#include <sstream>

namespace {

// The report stores every counter as a signed 32-bit number: a counter past
// INT32_MAX wraps to a negative value, as the server has always read it.
int32_t Signed(uint32_t value) {
    return static_cast<int32_t>(value);
}

ReportValue Names(std::initializer_list<const char*> names) {
    ReportValue array = ReportValue::array();
    for (const char* name : names)
        array.push_back(name);
    return array;
}

ReportValue Values(std::initializer_list<uint32_t> values) {
    ReportValue array = ReportValue::array();
    for (uint32_t value : values)
        array.push_back(Signed(value));
    return array;
}

ReportValue ReportDocument(const std::string& uid, const std::string& date,
                           const StatCounters& c) {
    ReportValue report = ReportValue::object();
    report["uid"] = uid;
    report["ver"] = 2;
    report["date"] = date;
    report["widget"] = ReportValue::array(
        {Names({"phones", "enters", "shows", "hides", "starts", "exits", "offlines", "show_time",
                "run_time", "online_time", "idle_time"}),
         Values({c.phones, c.enters, c.shows, c.hides, c.starts, c.exits, c.offlines,
                 c.show_time, c.run_time, c.online_time, c.idle_time})});
    ReportValue tabs = ReportValue::array({Names({"clicks", "time", "int_clicks", "int_scrolls"})});
    for (const TabCounters& tab : c.tabs)
        tabs.push_back(Values({tab.clicks, tab.time, tab.int_clicks, tab.int_scrolls}));
    report["tabs"] = std::move(tabs);
    report["radio"] = ReportValue::array(
        {Names({"listen_time", "play_count"}), Values({c.listen_time, c.play_count})});
    report["map"] = ReportValue::array(
        {Names({"cities", "points", "listitems", "mapviews", "listviews"}),
         Values({c.cities, c.points, c.listitems, c.mapviews, c.listviews})});
    return report;
}

}  // namespace

void CompactWriter::Write(const ReportValue& value) {
    // The general form, whatever the caller left set on the stream.
    const std::ios::fmtflags flags = out_.flags();
    const std::streamsize precision = out_.precision(20);
    out_.unsetf(std::ios::floatfield | std::ios::showpoint | std::ios::showpos);
    out_.width(0);
    Visit(value);
    out_.precision(precision);
    out_.flags(flags);
    out_.flush();
}

void CompactWriter::Visit(const ReportValue& value) {
    switch (value.type()) {
    case ReportValue::value_t::object: {
        out_ << '{';
        bool first = true;
        for (const auto& member : value.items()) {
            if (!first)
                out_ << ',';
            first = false;
            // Member names are ours and go out as they are, unescaped.
            out_ << '\'' << member.key() << "':";
            Visit(member.value());
        }
        out_ << '}';
        break;
    }
    case ReportValue::value_t::array: {
        out_ << '[';
        bool first = true;
        for (const ReportValue& element : value) {
            if (!first)
                out_ << ',';
            first = false;
            Visit(element);
        }
        out_ << ']';
        break;
    }
    case ReportValue::value_t::string:
        String(value.get_ref<const std::string&>());
        break;
    case ReportValue::value_t::number_integer:
    case ReportValue::value_t::number_unsigned:
    case ReportValue::value_t::number_float:
        Number(value.get<double>());
        break;
    case ReportValue::value_t::boolean:
        out_ << (value.get<bool>() ? "true" : "false");
        break;
    default:  // null, and the kinds no report holds
        out_ << "null";
        break;
    }
}

void CompactWriter::String(const std::string& text) {
    // The seven escapes the server's reader undoes; every other byte, the
    // apostrophe and the other control characters included, goes as it is.
    out_ << '\'';
    for (char c : text) {
        switch (c) {
        case '\b': out_ << "\\b"; break;
        case '\t': out_ << "\\t"; break;
        case '\n': out_ << "\\n"; break;
        case '\f': out_ << "\\f"; break;
        case '\r': out_ << "\\r"; break;
        case '"': out_ << "\\\""; break;
        case '\\': out_ << "\\\\"; break;
        default: out_ << c; break;
        }
    }
    out_ << '\'';
}

void CompactWriter::Number(double value) {
    out_ << value;
}

std::string ReportDate(const SYSTEMTIME& statTime, unsigned periodDay) {
    char text[64];
    std::snprintf(text, sizeof(text), "%i %i.%i.%i", int(statTime.wDayOfWeek), int(periodDay),
                  int(statTime.wMonth), int(statTime.wYear));
    return text;
}

std::string BuildReport(const std::string& uid, const std::string& date,
                        const StatCounters& counters) {
    std::ostringstream text;
    // Numbers must not take the separators of whatever locale the process
    // has made global.
    text.imbue(std::locale::classic());
    CompactWriter(text).Write(ReportDocument(uid, date, counters));
    return text.str();
}
