// SPDX-License-Identifier: MIT
#include "report.h"

#include <array>
#include <cstdio>
#include <numeric>

#include "statistics.h"

namespace qobench {

namespace {

std::string length_name(int length)
{
    return std::to_string(length) + " B";
}

std::string format(const char* pattern, double value)
{
    char text[128];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double sum(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0);
}

// `count` telegrams in `elapsed_s`, beside the rate of the wire that
// takes `wire_ms` for them all (none on a bare pty).
Figure rate_figure(const Measurements& m, const std::string& section, const std::string& name, double count,
                   double elapsed_s, double wire_ms)
{
    return {m.line.name, section, name, "telegrams/s", elapsed_s > 0 ? count / elapsed_s : 0,
            wire_ms > 0 ? count * 1000.0 / wire_ms : -1, -1, 1};
}

// Percentiles of timed exchanges, each beside the same percentile of their wire times.
void add_times(std::vector<Figure>& figures, const Measurements& m, const std::string& section,
               const std::string& prefix, const std::vector<double>& times, const std::vector<double>& floors,
               const std::vector<const char*>& which)
{
    for (const std::string name : which) {
        const bool max = name == "max";
        const double p = max ? 100 : std::stod(name.substr(1));
        figures.push_back({m.line.name, section, prefix + name, "ms", percentile(times, p), percentile(floors, p), -1,
                           1});
    }
}

void add_line(std::vector<Figure>& figures, const Measurements& m, const BenchOptions& options)
{
    for (size_t i = 0; i < LENGTHS.size(); ++i) {
        add_times(figures, m, "send latency", length_name(LENGTHS[i]) + " ", m.sends[i].times_ms,
                  m.sends[i].floors_ms, {"p50", "p99"});
    }
    add_times(figures, m, "request/response", length_name(REQUEST_LENGTH) + " out, " + length_name(ANSWER_LENGTH) +
                  " back ", m.requests.times_ms, m.requests.floors_ms, {"p50", "p99"});
    for (size_t i = 0; i < LENGTHS.size(); ++i) {
        const SendSeries& s = m.sends[i];
        figures.push_back(rate_figure(m, "application -> partner", length_name(LENGTHS[i]),
                                      static_cast<double>(s.times_ms.size()), s.elapsed_s, sum(s.floors_ms)));
    }
    for (size_t i = 0; i < LENGTHS.size(); ++i) {
        const ReceiveSeries& r = m.receives[i];
        // The rate of the telegrams delivered, against the wire's for all of them.
        const double wanted = static_cast<double>(r.wanted);
        figures.push_back(rate_figure(m, "partner -> application", length_name(LENGTHS[i]),
                                      static_cast<double>(r.delivered), r.elapsed_s,
                                      wanted > 0 ? r.floor_ms * static_cast<double>(r.delivered) / wanted : 0));
    }
    const std::string burst = "receive burst (" + std::to_string(options.burst) + " x " + length_name(SHORT_LENGTH) + ")";
    const ReceiveSeries& b = m.burst;
    figures.push_back({m.line.name, burst, "delivered", "telegrams", static_cast<double>(b.delivered), -1, -1, 0});
    figures.push_back({m.line.name, burst, "lost", "telegrams", static_cast<double>(b.lost), -1, -1, 0});
    figures.push_back({m.line.name, burst, "duplicated", "telegrams", static_cast<double>(b.duplicated), -1, -1, 0});
    figures.push_back({m.line.name, burst, "time", "ms", b.elapsed_s * 1000.0, b.floor_ms, -1, 1});

    const std::string turn = "wait for a turn";
    add_times(figures, m, turn, "send, partner busy, ", m.send_waits.waits_ms, m.send_waits.floors_ms,
              {"p50", "max"});
    add_times(figures, m, turn, "receive, application busy, ", m.receive_waits.waits_ms, m.receive_waits.floors_ms,
              {"p50", "max"});
    figures.push_back({m.line.name, turn, "receive, application busy: partner repeated", "trials",
                       static_cast<double>(m.receive_waits.repeated), -1, -1, 0});

    const std::string server = "server";
    figures.push_back({m.line.name, server, "idle wake-ups", "per s", m.idle.wakeups_per_s(), -1, -1, 1});
    figures.push_back({m.line.name, server, "idle CPU", "ms per s", m.idle.cpu_ms_per_s(), -1, -1, 3});
    for (size_t i = 0; i < LENGTHS.size(); ++i) {
        const SendSeries& s = m.sends[i];
        const double sent = static_cast<double>(s.times_ms.size() + s.failed);
        figures.push_back({m.line.name, server, "CPU per telegram sent, " + length_name(LENGTHS[i]), "ms",
                           sent > 0 ? s.server.cpu_ms / sent : 0, -1, -1, 3});
    }
    for (size_t i = 0; i < LENGTHS.size(); ++i) {
        const ReceiveSeries& r = m.receives[i];
        const double received = static_cast<double>(r.delivered);
        figures.push_back({m.line.name, server, "CPU per telegram received, " + length_name(LENGTHS[i]), "ms",
                           received > 0 ? r.server.cpu_ms / received : 0, -1, -1, 3});
    }
}

// The figures of the server before it waited for events: one run on
// this machine, as the issue that changed it measured them (the
// request/response fetched by polling every 1 ms). The real-line figures
// hold for 9600 baud 8E1 in 3964R mode only.
struct TodayFigure {
    bool on_pty;
    const char* section;
    const char* name;
    double value;
};

constexpr std::array<TodayFigure, 8> today_figures{{
    {true, "send latency", "16 B p50", 70.4},
    {false, "send latency", "16 B p50", 70.7},
    {false, "request/response", "16 B out, 64 B back p50", 163.9},
    {false, "application -> partner", "16 B", 11},
    {true, "server", "idle wake-ups", 73},
    {false, "server", "idle wake-ups", 73},
    {true, "server", "idle CPU", 2.3},
    {false, "server", "idle CPU", 2.3},
}};

void add_today(std::vector<Figure>& figures, const BenchOptions& options)
{
    const bool line_as_then = options.baud == 9600 && options.parity == 'E' && options.bcc_mode == 1;
    for (Figure& f : figures) {
        const bool on_pty = f.line == "pty";
        for (const TodayFigure& t : today_figures) {
            if (t.on_pty == on_pty && (on_pty || line_as_then) && f.section == t.section && f.name == t.name) {
                f.today = t.value;
            }
        }
    }
}

}  // namespace

std::vector<Figure> build_figures(const std::vector<Measurements>& lines, const BenchOptions& options)
{
    std::vector<Figure> figures;
    for (const Measurements& m : lines) {
        add_line(figures, m, options);
    }
    add_today(figures, options);
    return figures;
}

std::string floor_notes(const std::vector<Measurements>& lines, const BenchOptions& options)
{
    std::string notes;
    notes += "Lines: \"pty\" is a bare pseudo-terminal, where bytes cross at once: its wire floor is 0.\n";
    for (const Measurements& m : lines) {
        if (m.line.speed == 0) {
            continue;
        }
        notes += "\"" + m.line.name + "\": the partner makes the pseudo-terminal as slow as a real line\n"
                 "(qo3964_partner --line-speed): its bytes go out one character time apart, " +
                 std::to_string(m.line.parity == 'N' ? 10 : 11) + " bits / " + std::to_string(m.line.speed) +
                 " baud = " + format("%.3f", m.line.character_ms()) +
                 " ms,\nand it takes the server's bytes only after their time on the wire.\n";
    }
    notes += "Wire floor: the characters of the figure's telegrams x the character time. A telegram is\n"
             "STX, DLE, the block (data with every DLE doubled, DLE ETX" +
             std::string(options.bcc_mode != 0 ? ", BCC" : "") +
             ") and DLE; a request/response has both telegrams. For a rate the wire floor is\n"
             "the wire's own rate. Ratio = measured / wire floor: 1.00 is the line's own speed, above\n"
             "1 a time costs more, below 1 a rate falls short.\n";
    for (const Measurements& m : lines) {
        if (m.line.speed != 0) {
            notes += "On \"" + m.line.name + "\" the server's QVZ is " + std::to_string(server_qvz_ms(options, m.line)) +
                     " ms: a pty has no output queue that the server could watch\n"
                     "drain, so its wait for the acknowledgement covers the wire time of the longest telegram too.\n";
        }
    }
    notes += "On an emulated line a series stops at about " + std::to_string(options.line_seconds) +
             " s of wire time (3 telegrams at least).\n";
    notes += "Waits for a turn: " + std::to_string(options.trials) +
             " trials each, at random moments while the other side sends " + length_name(SHORT_LENGTH) +
             " telegrams back to back;\n"
             "the send is timed to its acknowledgement, the partner's telegram until the application has it.\n"
             "A series stops at a trial that waits longer than " + std::to_string(WAIT_LIMIT_S) +
             " s, which counts with the time it waited.\n"
             "Taking turns fairly, neither waits longer than its own telegram and one of the busy side:\n";
    for (const Measurements& m : lines) {
        const WaitSeries& w = m.send_waits;
        const double own = w.floors_ms.empty() ? 0 : maximum(w.floors_ms);
        notes += "  " + m.line.name + ": " + format("%.1f", own + w.busy_ms) + " ms on the wire.\n";
    }
    notes += "Server: CPU time and wake-ups (voluntary and forced context switches) of all its threads.\n"
             "Today: the server before it waited for events (one run on this machine).\n";
    return notes;
}

bool delivery_faults(const std::vector<Measurements>& lines)
{
    const auto sends_faulty = [](const SendSeries& s) { return s.partner_missing != 0 || s.partner_duplicated != 0; };
    const auto receives_faulty = [](const ReceiveSeries& s) { return s.lost != 0 || s.duplicated != 0; };
    const auto waits_faulty = [](const WaitSeries& w) { return w.busy_lost != 0 || w.busy_duplicated != 0; };
    bool faulty = false;
    for (const Measurements& m : lines) {
        faulty = faulty || receives_faulty(m.burst) || waits_faulty(m.send_waits) || waits_faulty(m.receive_waits);
        for (size_t i = 0; i < LENGTHS.size(); ++i) {
            faulty = faulty || sends_faulty(m.sends[i]) || receives_faulty(m.receives[i]);
        }
    }
    return faulty;
}

std::string run_warnings(const std::vector<Measurements>& lines)
{
    std::string warnings;
    const auto add = [&warnings](const std::string& text) { warnings += "! " + text + "\n"; };
    const auto check_sends = [&add](const SendSeries& s, const std::string& what) {
        if (s.failed != 0) {
            add(what + ": " + std::to_string(s.failed) + " sends did not return 2");
        }
        if (s.partner_missing != 0 || s.partner_duplicated != 0) {
            add(what + ": the partner missed " + std::to_string(s.partner_missing) + " and got " +
                std::to_string(s.partner_duplicated) + " twice");
        }
    };
    const auto check_receives = [&add](const ReceiveSeries& s, const std::string& what) {
        if (s.lost != 0 || s.duplicated != 0 || s.error_results != 0 || s.partner_failed != 0) {
            add(what + ": " + std::to_string(s.lost) + " lost, " + std::to_string(s.duplicated) + " duplicated, " +
                std::to_string(s.error_results) + " error results, " + std::to_string(s.partner_failed) +
                " given up by the partner");
        }
    };
    const auto check_waits = [&add](const WaitSeries& w, const std::string& what) {
        if (w.over_limit != 0) {
            add(what + ": trial " + std::to_string(w.waits_ms.size()) +
                " waited longer than the limit, its time is a lower bound; the series stopped there");
        }
        if (w.failed != 0 || w.busy_lost != 0 || w.busy_duplicated != 0) {
            add(what + ": " + std::to_string(w.failed) + " failed, the busy side's telegrams " +
                std::to_string(w.busy_lost) + " lost and " + std::to_string(w.busy_duplicated) + " duplicated");
        }
    };
    for (const Measurements& m : lines) {
        const std::string on = " (" + m.line.name + ")";
        if (!m.complete) {
            add("interrupted" + on + ": the figures cover only the runs made so far");
        }
        for (size_t i = 0; i < LENGTHS.size(); ++i) {
            check_sends(m.sends[i], "sends " + length_name(LENGTHS[i]) + on);
            check_receives(m.receives[i], "partner -> application " + length_name(LENGTHS[i]) + on);
        }
        if (m.requests.failed != 0) {
            add("request/response" + on + ": " + std::to_string(m.requests.failed) + " cycles failed");
        }
        check_receives(m.burst, "receive burst" + on);
        check_waits(m.send_waits, "send, partner busy" + on);
        check_waits(m.receive_waits, "receive, application busy" + on);
    }
    return warnings;
}

}  // namespace qobench
