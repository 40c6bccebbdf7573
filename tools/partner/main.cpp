// SPDX-License-Identifier: MIT
// qo3964_partner: the partner device at the other end of the server's line.
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <exception>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "partner.h"
#include "partner_options.h"
#include "slave_link.h"
#include "telegram_feeder.h"
#include "trace_reader.h"
#include "trace_replay.h"

namespace {

using namespace qopartner;

constexpr int EXIT_LINE = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_SEND_FAILED = 3;
constexpr int EXIT_REPLAY_DIFFERS = 4;

std::string stats_line(const PartnerStats& stats)
{
    std::ostringstream line;
    line << "STATS received=" << stats.received << " rejected=" << stats.rejected << " attempts=" << stats.attempts
         << " sent=" << stats.sent << " acknowledged=" << stats.acknowledged << " refused=" << stats.refused
         << " failed=" << stats.failed << " stray=" << stats.stray << " conflicts=" << stats.conflicts;
    for (size_t i = 0; i < FAULT_KINDS; ++i) {
        line << " fault-" << fault_names[i] << '=' << stats.faults[i];
    }
    return line.str();
}

// The signals end the run; they are taken synchronously by the main thread
// (blocked in every thread, waited for with sigtimedwait).
sigset_t stop_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

std::optional<PartnerLine> open_line(const ProgramOptions& options)
{
    try {
        if (options.device.empty()) {
            return PartnerLine::open_pty();
        }
        return PartnerLine::open_device(options.device, options.baud, options.parity);
    } catch (const std::exception& error) {
        std::cerr << "qo3964_partner: " << error.what() << std::endl;
        return std::nullopt;
    }
}

// Plays the trace on its own thread; the signals end it.
int replay(const ProgramOptions& options, PartnerLine& line, const sigset_t& signals)
{
    std::vector<TraceLine> lines;
    try {
        lines = read_trace(options.replay);
    } catch (const std::exception& error) {
        std::cerr << "qo3964_partner: " << error.what() << std::endl;
        return EXIT_USAGE;
    }
    TrafficLog log;
    log.set_stream(&std::cout);
    TraceReplay player(line, std::move(lines), options.replay_settings, log);
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    ReplayResult result;
    std::thread thread([&] {
        result = player.run(stop);
        done = true;
    });
    while (!done) {
        timespec slice{0, 50 * 1000 * 1000};
        if (sigtimedwait(&signals, nullptr, &slice) > 0) {
            stop = true;
        }
    }
    thread.join();
    line.wait_drained(1000);
    std::cout << "REPLAY-END written=" << result.written << " matched=" << result.matched
              << " differed=" << result.differed << " missing=" << result.missing << " skipped=" << result.skipped
              << std::endl;
    if (result.line_lost) {
        return EXIT_LINE;
    }
    return result.as_traced() ? 0 : EXIT_REPLAY_DIFFERS;
}

}  // namespace

int main(int argc, char** argv)
{
    ProgramOptions options;
    try {
        options = parse_options(argc, argv);
    } catch (const OptionError& error) {
        std::cerr << "qo3964_partner: " << error.what() << "\nTry 'qo3964_partner --help'." << std::endl;
        return EXIT_USAGE;
    }
    if (options.help) {
        std::cout << usage_text();
        return 0;
    }
    if (options.version) {
        std::cout << "qo3964_partner " QO3964_VERSION "\n";
        return 0;
    }

    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts
    std::signal(SIGPIPE, SIG_IGN);

    std::optional<PartnerLine> line = open_line(options);
    if (!line) {
        return EXIT_LINE;
    }
    if (options.line_speed != 0) {
        line->emulate_speed(options.line_speed, options.parity);
    }
    std::cout << (line->is_pty() ? "PTY " : "DEVICE ") << line->path() << std::endl;
    SlaveLink link;
    if (!options.link.empty()) {
        std::string error;
        if (!link.create(options.link, line->path(), error)) {
            std::cerr << "qo3964_partner: " << error << std::endl;
            return EXIT_LINE;
        }
    }

    if (!options.replay.empty()) {
        return replay(options, *line, signals);
    }

    Partner partner(std::move(*line), options.settings);
    for (const auto& [fault, times] : options.fault_counts) {
        partner.faults().arm(fault, times);
    }
    for (const auto& [fault, rate] : options.fault_rates) {
        partner.faults().set_probability(fault, rate);
    }
    partner.set_log(&std::cout);
    std::atomic<long> received{0};
    partner.on_received([&received](const Bytes&) { ++received; });
    partner.start();

    TelegramFeeder feeder(partner, options.telegrams, options.repeat, options.interval_ms, options.from_stdin);
    feeder.start();

    const auto started = std::chrono::steady_clock::now();
    const auto duration = std::chrono::duration<double>(options.duration_s);
    for (;;) {
        timespec slice{0, 50 * 1000 * 1000};
        if (sigtimedwait(&signals, nullptr, &slice) > 0) {
            break;
        }
        if (options.count > 0 && received >= options.count) {
            break;
        }
        if (options.duration_s > 0 && std::chrono::steady_clock::now() - started >= duration) {
            break;
        }
        if (options.quit_after_send && feeder.done()) {
            break;
        }
        if (!partner.running()) {
            break;  // the line was lost
        }
    }

    feeder.stop();
    partner.stop();
    // The last answer (say the DLE to the count's last telegram) must reach
    // the server before the line goes.
    partner.line().wait_drained(1000);
    std::cout << stats_line(partner.stats()) << std::endl;
    if (partner.line_lost()) {
        std::cerr << "qo3964_partner: the line " << partner.path() << " was lost" << std::endl;
        return EXIT_LINE;
    }
    if (options.quit_after_send && feeder.any_failed()) {
        return EXIT_SEND_FAILED;
    }
    return 0;
}
