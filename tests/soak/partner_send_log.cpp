// SPDX-License-Identifier: MIT
#include "partner_send_log.h"

#include <algorithm>
#include <sstream>

namespace qosoak {

namespace {

std::vector<std::string> words_of(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

// "attempts=3" -> 3.
int count_of(const std::string& word)
{
    const size_t equals = word.find('=');
    return equals == std::string::npos ? 0 : std::stoi(word.substr(equals + 1));
}

}  // namespace

std::vector<PartnerSend> PartnerSendLog::sends() const
{
    std::lock_guard lock(mutex_);
    return sends_;
}

PartnerSendLog::int_type PartnerSendLog::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        std::lock_guard lock(mutex_);
        take(traits_type::to_char_type(c));
    }
    return traits_type::not_eof(c);
}

std::streamsize PartnerSendLog::xsputn(const char* text, std::streamsize count)
{
    std::lock_guard lock(mutex_);
    for (std::streamsize i = 0; i < count; ++i) {
        take(text[i]);
    }
    return count;
}

void PartnerSendLog::take(char c)
{
    if (c != '\n') {
        line_.push_back(c);
        return;
    }
    take_line();
    line_.clear();
}

// "HH:MM:SS.mmm TX-FAIL <outcome> attempt=N"
// "HH:MM:SS.mmm TX <hex bytes or -> <outcome> attempts=N"
void PartnerSendLog::take_line()
{
    if (copy_ != nullptr) {
        *copy_ << line_ << '\n';
    }
    const std::vector<std::string> words = words_of(line_);
    if (words.size() < 4) {
        return;
    }
    if (words[1] == "TX-FAIL") {
        failures_.push_back(words[2]);
        return;
    }
    if (words[1] != "TX") {
        return;
    }
    PartnerSend send;
    for (size_t i = 2; i + 2 < words.size(); ++i) {
        send.hex += (send.hex.empty() ? "" : " ") + words[i];
    }
    send.outcome = words[words.size() - 2];
    send.attempts = count_of(words.back());
    send.failures.swap(failures_);
    sends_.push_back(std::move(send));
}

}  // namespace qosoak
