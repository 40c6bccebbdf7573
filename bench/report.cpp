// SPDX-License-Identifier: MIT
#include "report.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "client_pacing.h"
#include "engine_pacing.h"
#include "statistics.h"

namespace qobench {

namespace {

constexpr std::array<double, 3> PERCENTILES{50, 90, 99};

std::string length_name(int length)
{
    return std::to_string(length) + " B";
}

// A median of the rounds' values.
template <typename Series, typename Value>
double median_of(const std::vector<Series>& rounds, Value value)
{
    std::vector<double> values;
    for (const Series& series : rounds) {
        values.push_back(value(series));
    }
    return median(values);
}

double rate_of(const SendSeries& s)
{
    return s.elapsed_s > 0 ? static_cast<double>(s.latencies_ms.size()) / s.elapsed_s : 0;
}

double rate_of(const ReceiveSeries& s)
{
    return s.elapsed_s > 0 ? static_cast<double>(s.delivered) / s.elapsed_s : 0;
}

std::string format(const char* pattern, double value)
{
    char text[128];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

void add_latency(std::vector<Figure>& figures, const Measurements& m, const FloorSet& pty, const FloorSet& line)
{
    for (size_t i = 0; i < LATENCY_LENGTHS.size(); ++i) {
        const std::vector<double>& measured = m.latency[i].latencies_ms;
        const std::string size = length_name(LATENCY_LENGTHS[i]);
        for (const double p : PERCENTILES) {
            figures.push_back({"send latency", size + " p" + format("%.0f", p), "ms", percentile(measured, p),
                               percentile(pty.latency_ms[i], p), percentile(line.latency_ms[i], p), Sense::time, 1});
        }
        figures.push_back({"send latency", size + " max", "ms", maximum(measured), maximum(pty.latency_ms[i]),
                           maximum(line.latency_ms[i]), Sense::time, 1});
    }
}

void add_throughput(std::vector<Figure>& figures, const Measurements& m, const FloorSet& pty, const FloorSet& line)
{
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        const double length = THROUGHPUT_LENGTHS[i];
        const std::string size = length_name(THROUGHPUT_LENGTHS[i]);
        const double rate = median_of(m.sends[i], [](const SendSeries& s) { return rate_of(s); });
        figures.push_back({"application -> partner", size, "telegrams/s", rate, pty.send_rate[i], line.send_rate[i],
                           Sense::rate, 1});
        figures.push_back({"application -> partner", size, "payload bytes/s", rate * length,
                           pty.send_rate[i] * length, line.send_rate[i] * length, Sense::rate, 0});
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        const double length = THROUGHPUT_LENGTHS[i];
        const std::string size = length_name(THROUGHPUT_LENGTHS[i]);
        const double rate = median_of(m.receives[i], [](const ReceiveSeries& s) { return rate_of(s); });
        figures.push_back({"partner -> application", size, "telegrams/s", rate, pty.receive_rate[i],
                           line.receive_rate[i], Sense::rate, 1});
        figures.push_back({"partner -> application", size, "payload bytes/s", rate * length,
                           pty.receive_rate[i] * length, line.receive_rate[i] * length, Sense::rate, 0});
    }
}

void add_burst(std::vector<Figure>& figures, const Measurements& m, const FloorSet& pty, const FloorSet& line,
               const BenchOptions& options)
{
    const std::string section = "receive burst (" + std::to_string(options.burst) + " x " +
                                length_name(BURST_LENGTH) + ")";
    const double wanted = static_cast<double>(options.burst);
    const ReceiveSeries& b = m.burst;
    figures.push_back({section, "delivered", "telegrams", static_cast<double>(b.delivered), wanted, wanted,
                       Sense::count, 0});
    figures.push_back({section, "lost", "telegrams", static_cast<double>(b.lost), 0, 0, Sense::count, 0});
    figures.push_back({section, "duplicated", "telegrams", static_cast<double>(b.duplicated), 0, 0, Sense::count, 0});
    figures.push_back({section, "error results", "calls", static_cast<double>(b.error_results), 0, 0, Sense::count, 0});
    figures.push_back({section, "time", "ms", b.elapsed_s * 1000.0, pty.burst_ms, line.burst_ms, Sense::time, 1});
}

// The server's usage over several runs together: their CPU time and
// wakeups summed, over their summed wall time. Each reading has a
// resolution of one clock tick, so short runs only count in sum.
UsageRates pooled(const std::vector<UsageRates>& runs)
{
    double wall = 0;
    double cpu = 0;
    double wakeups = 0;
    for (const UsageRates& run : runs) {
        wall += run.wall_s;
        cpu += run.cpu_ms_per_s * run.wall_s;
        wakeups += run.wakeups_per_s * run.wall_s;
    }
    UsageRates total;
    total.wall_s = wall;
    if (wall > 0) {
        total.cpu_ms_per_s = cpu / wall;
        total.wakeups_per_s = wakeups / wall;
    }
    return total;
}

void add_usage(std::vector<Figure>& figures, const std::string& what, const UsageRates& usage, double floor_wakeups_pty,
               double floor_wakeups_line, double poll_us)
{
    const std::string section = "server CPU time";
    figures.push_back({section, what, "ms per s", usage.cpu_ms_per_s, floor_wakeups_pty * poll_us / 1000.0,
                       floor_wakeups_line * poll_us / 1000.0, Sense::time, 2});
    figures.push_back({section, what + ": wakeups", "per s", usage.wakeups_per_s, floor_wakeups_pty,
                       floor_wakeups_line, Sense::time, 0});
}

void add_cpu(std::vector<Figure>& figures, const Measurements& m, const FloorSet& pty, const FloorSet& line,
             const FloorBasis& basis)
{
    const double us = basis.poll.cpu_us;
    add_usage(figures, "idle", m.idle, pty.idle_wakeups, line.idle_wakeups, us);
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        std::vector<UsageRates> runs;
        for (const SendSeries& s : m.sends[i]) {
            runs.push_back(s.server);
        }
        // The latency runs are the same traffic.
        for (size_t k = 0; k < LATENCY_LENGTHS.size(); ++k) {
            if (LATENCY_LENGTHS[k] == THROUGHPUT_LENGTHS[i]) {
                runs.push_back(m.latency[k].server);
            }
        }
        add_usage(figures, "sending " + length_name(THROUGHPUT_LENGTHS[i]), pooled(runs), pty.send_wakeups[i],
                  line.send_wakeups[i], us);
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        std::vector<UsageRates> runs;
        for (const ReceiveSeries& s : m.receives[i]) {
            runs.push_back(s.server);
        }
        add_usage(figures, "receiving " + length_name(THROUGHPUT_LENGTHS[i]), pooled(runs), pty.receive_wakeups[i],
                  line.receive_wakeups[i], us);
    }
}

// times() counts its ticks from the kernel's jiffies; an HZ that is no
// multiple of the tick rate makes them uneven.
std::string tick_note(const PacingSettings& s)
{
    if (s.kernel_hz % s.tick_hz == 0) {
        return "  (the kernel ticks at " + std::to_string(s.kernel_hz) + " Hz, so the clock ticks are even);\n";
    }
    const double jiffy_ms = 1000.0 / s.kernel_hz;
    const double jiffies_per_tick = static_cast<double>(s.kernel_hz) / s.tick_hz;
    return "  (the kernel ticks at " + std::to_string(s.kernel_hz) + " Hz, so the clock ticks come " +
           format("%.0f", std::floor(jiffies_per_tick) * jiffy_ms) + " and " +
           format("%.0f", std::ceil(jiffies_per_tick) * jiffy_ms) +
           " ms apart in turn, and so do the reads' lengths);\n";
}

// Figures of one run on this machine before the serial line waited for
// input with poll and wrote its chunks whole (one-byte reads with 1 ms
// sleeps, byte-by-byte writes), so that a run shows the change as ratios.
struct EarlierFigure {
    const char* section;
    const char* name;
    double value;
};

constexpr std::array<EarlierFigure, 5> earlier_figures{{
    {"server CPU time", "idle", 14.3},
    {"server CPU time", "idle: wakeups", 472},
    {"server CPU time", "sending 4096 B", 58},
    {"server CPU time", "receiving 4096 B", 618},
    {"partner -> application", "4096 B", 177},
}};

void add_earlier(std::vector<Figure>& figures)
{
    for (Figure& f : figures) {
        for (const EarlierFigure& e : earlier_figures) {
            if (f.section == e.section && f.name == e.name && f.unit != "payload bytes/s") {
                f.before = e.value;
            }
        }
    }
}

}  // namespace

std::vector<Figure> build_figures(const Measurements& m, const FloorSet& pty, const FloorSet& line,
                                  const FloorBasis& basis, const BenchOptions& options)
{
    std::vector<Figure> figures;
    add_latency(figures, m, pty, line);
    add_throughput(figures, m, pty, line);
    add_burst(figures, m, pty, line, options);
    add_cpu(figures, m, pty, line, basis);
    add_earlier(figures);
    return figures;
}

std::string line_heading(const BenchOptions& options)
{
    return "Floor (real line, " + std::to_string(options.baud) + " baud 8" + std::string(1, options.parity) + "1)";
}

std::string floor_notes(const FloorBasis& basis, const BenchOptions& options)
{
    const PacingSettings& s = basis.pty;
    const double tick_ms = 1000.0 / s.tick_hz;
    std::string notes;
    notes += "Floors: what the procedure's own pacing allows if the server and the client library cost no time\n"
             "at all. They come from a simulation (" + std::to_string(options.model_runs) +
             " runs each) of exactly the runs measured here, in which only these take time:\n";
    // The pacing as the engine and the library have it.
    const std::string read_ms = std::to_string(qo3964::IDLE_READ_MS);
    const std::string shortest_read_ms = format("%.0f", qo3964::IDLE_READ_MS - tick_ms);
    const std::string step_pause_ms = std::to_string(qo3964::STEP_PAUSE_MS);
    const std::string data_pause_ms = std::to_string(qo3964::DATA_PAUSE_MS);
    const std::string chunk = std::to_string(qo3964::CHUNK_MAX);
    const std::string window_ms = std::to_string(qo3964::RX_WINDOW_MS);
    const std::string room_pause_ms = std::to_string(qo3964::RX_BLOCKED_PAUSE_MS);
    constexpr int32_t handover = qo3964::client::HANDOVER_PAUSE_MS;
    constexpr int32_t poll = qo3964::client::POLL_PAUSE_MS;
    const std::string handover_ms = std::to_string(handover);
    const std::string poll_ms = std::to_string(poll);
    notes += "- the engine's idle step: a " + read_ms + " ms read, a DeadlineTimer on the " +
             std::to_string(s.tick_hz) + " Hz tick counter, so " + shortest_read_ms + " to " + read_ms +
             " ms on a silent line, then a " + step_pause_ms + " ms sleep;\n" + tick_note(s) +
             "  a send starts only after such a silent read (STX), the data go in chunks of at most " + chunk +
             " bytes\n"
             "  with a " + data_pause_ms +
             " ms sleep after each chunk and after DLE ETX BCC, and the acknowledgement is read in\n"
             "  the next step; a reception reads " + window_ms + " ms windows with a " +
             step_pause_ms + " ms sleep between them, and with\n"
             "  the receive ring full the engine waits for room in " + room_pause_ms +
             " ms steps;\n";
    notes += "- every read waits for the line (poll) until a byte is there or its limit is over, stopping\n"
             "  half a tick short and reading its limit again (one or two wake-ups);\n";
    notes += "- the dispatcher moves each job one stage per pass (stage the send, hand back its result, move\n"
             "  one received telegram into receive_job);\n";
    notes += "- qo3964m_send pauses " + handover_ms + " ms after handing the telegram over and then looks every " +
             poll_ms + " ms, so a\n"
             "  send's latency is " + handover_ms + " + " + poll_ms +
             "k ms (plus sleep slack); the application calls qo3964m_receive\n"
             "  again at once after a telegram and pauses " + std::to_string(options.poll_ms) +
             " ms when none was waiting;\n";
    notes += "- every sleep ends " + format("%.3f", s.sleep_slack_ms) +
             " ms late (the server's timer slack), plus a random delay of " + format("%.3f", s.sleep_jitter_ms) +
             " ms on average\n"
             "  (what this machine's 1 ms sleeps show beyond the slack);\n"
             "- the partner answers at once, but not before the server looks again right after its own write;\n";
    notes += "- the line: on a pty the bytes move instantly (column \"Floor (pty)\", which the overhead uses);\n"
             "  on a real line each character takes " + std::string(options.parity == 'N' ? "10" : "11") +
             " bits / " + std::to_string(options.baud) + " baud = " + format("%.3f", basis.line.char_ms) +
             " ms (last column).\n";
    notes += "Send latency floor, roughly: the rest of the server's current pass + a " + shortest_read_ms + "-" +
             read_ms + " ms silent read\n"
             "before STX + the DLE's turn + ceil(n / " + chunk + ") x " + data_pause_ms +
             " ms of data steps (+ line time), taken up to\n"
             "the client's " + handover_ms + " + " + poll_ms +
             "k ms grid. Throughput floors follow from the same chain, one telegram\n"
             "after the other; the receive floors from two turns of the line per telegram (+ line time).\n";
    if (basis.poll.measured) {
        notes += "CPU floor: the server's wakeups per second in the model x the CPU time of one look at a silent\n"
                 "line (non-blocking read, times(), a 1 ms sleep), measured here: " +
                 format("%.2f", basis.poll.cpu_us) + " us per look, " + format("%.3f", basis.poll.period_ms) +
                 " ms per 1 ms sleep.\n";
    }
    notes += "Two inputs of the floors are only known statistically, so a measurement can come out somewhat\n"
             "below its floor: whether a send takes " + std::to_string(handover + 2 * poll) +
             " or " + std::to_string(handover + 3 * poll) +
             " ms depends on the phase between the client's\n" + poll_ms +
             " ms looks and the clock ticks, which drifts with tiny differences in sleep lengths (about\n"
             "10 % on the send floors).\n";
    notes += "Overhead × = measured time / floor time (for rates: floor rate / measured rate); 1.00 means that\n"
             "no cost of our own is visible. Throughput figures are medians of " +
             std::to_string(options.rounds) + " rounds; CPU figures pool the rounds.\n";
    return notes;
}

bool delivery_faults(const Measurements& m)
{
    const auto sends_faulty = [](const SendSeries& s) { return s.partner_missing != 0 || s.partner_duplicated != 0; };
    const auto receives_faulty = [](const ReceiveSeries& s) { return s.lost != 0 || s.duplicated != 0; };
    bool faulty = receives_faulty(m.burst);
    for (const SendSeries& s : m.latency) {
        faulty = faulty || sends_faulty(s);
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        for (const SendSeries& s : m.sends[i]) {
            faulty = faulty || sends_faulty(s);
        }
        for (const ReceiveSeries& s : m.receives[i]) {
            faulty = faulty || receives_faulty(s);
        }
    }
    return faulty;
}

std::string run_warnings(const Measurements& m, const FloorSet& pty, const FloorSet& line)
{
    std::string warnings;
    const auto add = [&warnings](const std::string& text) { warnings += "! " + text + "\n"; };
    if (!m.complete) {
        add("interrupted: the figures cover only the runs made so far");
    }
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
    for (size_t i = 0; i < LATENCY_LENGTHS.size(); ++i) {
        check_sends(m.latency[i], "send latency " + length_name(LATENCY_LENGTHS[i]));
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        for (const SendSeries& s : m.sends[i]) {
            check_sends(s, "application -> partner " + length_name(THROUGHPUT_LENGTHS[i]));
        }
        for (const ReceiveSeries& s : m.receives[i]) {
            check_receives(s, "partner -> application " + length_name(THROUGHPUT_LENGTHS[i]));
        }
    }
    check_receives(m.burst, "receive burst");
    if (!pty.finished || !line.finished) {
        add("a floor simulation did not come to its end; its floors are incomplete");
    }
    return warnings;
}

}  // namespace qobench
