// SPDX-License-Identifier: MIT
// qo3964_bench: how fast the server and the client library move telegrams,
// beside the floor that the 3964R procedure's own pacing imposes.
//
// Progress goes to standard error; standard output carries the report:
// the set-up, how the floors come about, and one markdown table.
// Exit status: 0 done; 1 set-up or CSV failed; 2 bad command line; 3 a
// telegram was lost or duplicated; 130 interrupted.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <thread>
#include <unistd.h>

#include "bench_options.h"
#include "bench_rig.h"
#include "figure_table.h"
#include "floors.h"
#include "gnuplot_charts.h"
#include "kernel_ticks.h"
#include "latency_samples.h"
#include "measurements.h"
#include "poll_cost.h"
#include "process_usage.h"
#include "report.h"
#include "scratch_dir.h"

namespace {

using namespace qobench;

constexpr int POLL_COST_ROUNDS = 1000;
constexpr int QUICK_POLL_COST_ROUNDS = 200;
constexpr int TICKS_WATCHED = 40;

std::string program_folder()
{
    std::error_code failed;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
    return failed ? std::string(".") : self.parent_path().string();
}

std::string load_average()
{
    const std::string text = read_text_file("/proc/loadavg");
    const size_t third = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
    return third == std::string::npos ? "unknown" : text.substr(0, third);
}

void print_setup(const BenchOptions& options, const std::string& server)
{
    std::cout << "# qo3964_bench\n\n"
              << "server " << server << "\n"
              << "line: pty, rc-file BAUD " << options.baud << ", PARITY " << options.parity << ", BCC_MODE "
              << options.bcc_mode << ", ZVZ " << options.zvz_ms << ", QVZ " << options.qvz_ms
              << "; partner answers at once\n"
              << "machine: " << std::thread::hardware_concurrency() << " cores, load average " << load_average()
              << " at the start\n"
              << (options.quick ? "quick run: few iterations, short idle time\n" : "") << "\n";
}

bool write_csv(const std::string& path, const std::vector<Figure>& figures)
{
    if (!write_text_file(path, csv_text(figures))) {
        std::cerr << "qo3964_bench: cannot write " << path << "\n";
        return false;
    }
    return true;
}

std::vector<RateBar> rate_bars(const std::vector<Figure>& figures)
{
    std::vector<RateBar> bars;
    for (const Figure& f : figures) {
        if (f.unit == "telegrams/s") {
            bars.push_back({f.section + " " + f.name, f.measured, f.floor_pty});
        }
    }
    return bars;
}

}  // namespace

int main(int argc, char** argv)
{
    BenchOptions options;
    std::string error;
    bool help = false;
    if (!parse_options(argc, argv, options, error, help)) {
        std::cerr << "qo3964_bench: " << error << "\n" << usage_text();
        return 2;
    }
    if (help) {
        std::cout << usage_text();
        return 0;
    }
    install_interrupt_handler();
    const std::string server = options.server.empty() ? program_folder() + "/qo3964_server" : options.server;
    print_setup(options, server);

    std::cerr << "measuring the cost of one look at a silent line" << std::endl;
    FloorBasis basis;
    basis.poll = measure_poll_cost(options.quick ? QUICK_POLL_COST_ROUNDS : POLL_COST_ROUNDS);
    if (options.kernel_hz == 0) {
        std::cerr << "watching the clock ticks" << std::endl;
        const long ticks = sysconf(_SC_CLK_TCK);
        basis.kernel = measure_kernel_ticks(ticks > 0 ? static_cast<int>(ticks) : 100, TICKS_WATCHED);
    }

    BenchRig rig;
    std::cerr << "starting " << server << std::endl;
    if (!rig.open(options, server, error)) {
        std::cerr << "qo3964_bench: " << error << "\n";
        return 1;
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    basis.pty.tick_hz = ticks > 0 ? static_cast<int>(ticks) : 100;
    basis.pty.kernel_hz = options.kernel_hz > 0 ? options.kernel_hz : basis.kernel.hz;
    basis.pty.sleep_slack_ms = timer_slack_ms(rig.server().pid());
    // How much later than asked this machine's 1 ms sleeps end, beyond the slack.
    if (basis.poll.measured) {
        basis.pty.sleep_jitter_ms = std::max(0.0, basis.poll.period_ms - 1.0 - basis.pty.sleep_slack_ms);
    }
    basis.pty.app_poll_ms = options.poll_ms;
    basis.pty.zvz_ms = options.zvz_ms;
    basis.pty.qvz_ms = options.qvz_ms;
    basis.pty.bcc = options.bcc_mode != 0;
    basis.line = basis.pty;
    basis.line.char_ms = char_ms_for(options.baud, options.parity);

    const Measurements measured = run_measurements(rig, options, std::cerr);
    std::cerr << "stopping the server" << std::endl;
    rig.close();

    std::cerr << "computing the floors" << std::endl;
    const FloorSet pty = compute_floors(basis.pty, options);
    const FloorSet line = compute_floors(basis.line, options);

    const std::vector<Figure> figures = build_figures(measured, pty, line, basis, options);
    std::cout << floor_notes(basis, options) << "\n"
              << markdown_table(figures, line_heading(options)) << "\n"
              << "load average " << load_average() << " at the end\n";
    const std::string warnings = run_warnings(measured, pty, line);
    if (!warnings.empty()) {
        std::cout << "\n" << warnings;
    }

    bool written = true;
    if (!options.csv.empty()) {
        written = write_csv(options.csv, figures);
    }
    const std::vector<LatencySeries> latencies{
        {"16 B measured", measured.latency[0].latencies_ms},
        {"16 B floor", pty.latency_ms[0]},
        {"4096 B measured", measured.latency[1].latencies_ms},
        {"4096 B floor", pty.latency_ms[1]},
    };
    if (!options.samples.empty() && !write_text_file(options.samples, latency_samples_csv(latencies))) {
        std::cerr << "qo3964_bench: cannot write " << options.samples << "\n";
        written = false;
    }
    std::string plots = options.plots;
    if (plots.empty() && !options.csv.empty()) {
        plots = std::filesystem::absolute(options.csv).parent_path().string();
    }
    if (!plots.empty()) {
        for (const std::string& png : draw_charts(latencies, rate_bars(figures), plots)) {
            std::cout << "chart: " << png << "\n";
        }
    }
    if (!measured.complete) {
        return 130;
    }
    // Not a verdict on the figures: telegrams must arrive once, however slowly.
    if (delivery_faults(measured)) {
        return 3;
    }
    return written ? 0 : 1;
}
