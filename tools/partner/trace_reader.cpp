// SPDX-License-Identifier: MIT
#include "trace_reader.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "hex_text.h"

namespace qopartner {

namespace {

[[noreturn]] void refuse(int number, const std::string& why)
{
    throw std::invalid_argument("trace line " + std::to_string(number) + ": " + why);
}

// "2026-05-04" "22:10:01.123" -> ms since 1970, read as local time.
int64_t parse_time(const std::string& date, const std::string& clock, int number)
{
    tm when{};
    int ms = 0;
    if (std::sscanf(date.c_str(), "%d-%d-%d", &when.tm_year, &when.tm_mon, &when.tm_mday) != 3 ||
        std::sscanf(clock.c_str(), "%d:%d:%d.%d", &when.tm_hour, &when.tm_min, &when.tm_sec, &ms) != 4) {
        refuse(number, "no time \"" + date + " " + clock + "\"");
    }
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    when.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&when)) * 1000 + ms;
}

bool is_error_word(const std::string& word)
{
    return word == "BREAK" || word == "PARITY" || word == "MARKING";
}

}  // namespace

std::optional<TraceLine> parse_trace_line(const std::string& text, int number)
{
    std::istringstream words(text);
    std::string date;
    if (!(words >> date) || date[0] == '#') {
        return std::nullopt;
    }
    std::string clock;
    std::string direction;
    if (!(words >> clock >> direction) || (direction != "IN" && direction != "OUT")) {
        refuse(number, "not \"DATE TIME IN|OUT BYTES\"");
    }
    TraceLine line;
    line.number = number;
    line.time_ms = parse_time(date, clock, number);
    line.from_server = direction == "OUT";
    for (std::string word; words >> word;) {
        if (is_error_word(word)) {
            line.line_error = word;
            break;
        }
        if (word.size() != 2) {
            continue;  // the name of a control character
        }
        const std::optional<Bytes> byte = parse_hex(word);
        if (!byte) {
            refuse(number, "bad byte \"" + word + "\"");
        }
        line.bytes.push_back(byte->front());
    }
    if (line.bytes.empty() && line.line_error.empty()) {
        refuse(number, "no bytes");
    }
    return line;
}

std::vector<TraceLine> read_trace(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        throw std::invalid_argument("cannot read the trace file '" + path + "'");
    }
    std::vector<TraceLine> lines;
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        if (std::optional<TraceLine> line = parse_trace_line(text, number)) {
            lines.push_back(std::move(*line));
        }
    }
    return lines;
}

}  // namespace qopartner
