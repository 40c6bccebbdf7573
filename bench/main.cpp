// SPDX-License-Identifier: MIT
// qo3964_bench: how fast the server and the client library move telegrams,
// beside the time their characters take on the wire, on a bare
// pseudo-terminal and on one that the partner makes as slow as a real line.
//
// Progress goes to standard error; standard output carries the report:
// the set-up, how the floors come about, and one markdown table.
// Exit status: 0 done; 1 set-up or CSV failed; 2 bad command line; 3 a
// telegram was lost or duplicated; 130 interrupted.
#include <filesystem>
#include <iostream>
#include <thread>

#include "bench_options.h"
#include "bench_rig.h"
#include "figure_table.h"
#include "gnuplot_charts.h"
#include "latency_samples.h"
#include "measurements.h"
#include "report.h"
#include "scratch_dir.h"

namespace {

using namespace qobench;

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
              << "rc-file: BAUD " << options.baud << ", PARITY " << options.parity << ", BCC_MODE "
              << options.bcc_mode << ", ZVZ " << options.zvz_ms << ", QVZ " << options.qvz_ms
              << "; the partner answers as soon as the line lets it\n"
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
        if (f.unit == "telegrams/s" && f.wire > 0) {
            bars.push_back({f.line + " " + f.section + " " + f.name, f.measured, f.wire});
        }
    }
    return bars;
}

std::vector<LatencySeries> latency_series(const std::vector<Measurements>& lines)
{
    std::vector<LatencySeries> series;
    for (const Measurements& m : lines) {
        for (size_t i = 0; i < LENGTHS.size(); ++i) {
            series.push_back({m.line.name + " " + std::to_string(LENGTHS[i]) + " B", m.sends[i].times_ms});
        }
    }
    return series;
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

    const bool bcc = options.bcc_mode != 0;
    std::vector<Measurements> measured;
    for (const LineUnderTest& line : {bare_pty(bcc), emulated_line(options.baud, options.parity, bcc)}) {
        if (interrupted()) {
            break;
        }
        BenchRig rig;
        std::cerr << "starting " << server << " on a " << line.name << std::endl;
        if (!rig.open(options, line, server, error)) {
            std::cerr << "qo3964_bench: " << error << "\n";
            return 1;
        }
        measured.push_back(run_measurements(rig, line, options, std::cerr));
        std::cerr << "stopping the server" << std::endl;
        rig.close();
    }

    const std::vector<Figure> figures = build_figures(measured, options);
    std::cout << floor_notes(measured, options) << "\n"
              << markdown_table(figures) << "\n"
              << "load average " << load_average() << " at the end\n";
    const std::string warnings = run_warnings(measured);
    if (!warnings.empty()) {
        std::cout << "\n" << warnings;
    }

    bool written = true;
    if (!options.csv.empty()) {
        written = write_csv(options.csv, figures);
    }
    const std::vector<LatencySeries> latencies = latency_series(measured);
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
    if (interrupted() || measured.size() < 2 || !measured.back().complete) {
        return 130;
    }
    // Not a verdict on the figures: telegrams must arrive once, however slowly.
    if (delivery_faults(measured)) {
        return 3;
    }
    return written ? 0 : 1;
}
