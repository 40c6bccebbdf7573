// SPDX-License-Identifier: MIT
#include "gnuplot_charts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

#include "scratch_dir.h"

namespace qobench {

namespace {

std::string find_gnuplot()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/gnuplot";
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

// The samples as an empirical distribution: latency, share not above it.
std::string distribution(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    std::ostringstream text;
    for (size_t i = 0; i < samples.size(); ++i) {
        text << samples[i] << ' ' << static_cast<double>(i + 1) / static_cast<double>(samples.size()) << '\n';
    }
    return text.str();
}

std::string quoted_label(const std::string& label)
{
    std::string text = "\"";
    for (const char c : label) {
        text += c == '"' ? '\'' : c;
    }
    return text + "\"";
}

// Paths go into the script between single quotes.
bool scriptable(const std::string& path)
{
    return path.find('\'') == std::string::npos && path.find('\n') == std::string::npos;
}

constexpr const char* TERMINAL =
    "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo size 960,600 } "
    "else { set terminal png size 960,600 }\n";

}  // namespace

std::vector<std::string> draw_charts(const std::vector<LatencySeries>& latencies, const std::vector<RateBar>& rates,
                                     const std::string& folder)
{
    const std::string gnuplot = find_gnuplot();
    ScratchDir work;
    if (gnuplot.empty() || work.path().empty() || !scriptable(folder) || !scriptable(work.path())) {
        return {};
    }
    const std::string latency_png = folder + "/qo3964_bench_latency.png";
    const std::string rates_png = folder + "/qo3964_bench_throughput.png";
    // Charts of an earlier run must not pass for this run's.
    std::remove(latency_png.c_str());
    std::remove(rates_png.c_str());

    std::ostringstream script;
    script << TERMINAL;
    script << "set output '" << latency_png << "'\n"
           << "set title 'qo3964m\\_send latency'\n"
           << "set xlabel 'latency (ms)'\nset ylabel 'share of sends'\nset key bottom right\nset grid\n"
           << "set logscale x\nplot ";
    for (size_t i = 0; i < latencies.size(); ++i) {
        const std::string data = work.file("latency" + std::to_string(i) + ".dat");
        write_text_file(data, distribution(latencies[i].samples_ms));
        script << (i > 0 ? ", " : "") << "'" << data << "' using 1:2 with steps title "
               << quoted_label(latencies[i].title);
    }
    script << "\nunset logscale x\n";

    std::ostringstream bars;
    for (const RateBar& bar : rates) {
        bars << quoted_label(bar.label) << ' ' << bar.measured << ' ' << bar.floor << '\n';
    }
    const std::string rates_data = work.file("rates.dat");
    write_text_file(rates_data, bars.str());
    script << "set output '" << rates_png << "'\n"
           << "set title 'telegrams per second: measured and the wire rate'\n"
           << "set xlabel ''\nset ylabel 'telegrams/s'\nset key top right\nset logscale y\n"
           << "set style data histograms\nset style histogram clustered gap 1\n"
           << "set style fill solid 0.8 border -1\nset xtics rotate by -30\n"
           << "plot '" << rates_data << "' using 2:xtic(1) title 'measured', '' using 3 title 'wire'\n";

    const std::string script_file = work.file("charts.gp");
    write_text_file(script_file, script.str());
    const std::string command = "'" + gnuplot + "' '" + script_file + "' >/dev/null 2>&1";
    if (!scriptable(gnuplot) || std::system(command.c_str()) != 0) {
        return {};
    }
    std::vector<std::string> written;
    for (const std::string& png : {latency_png, rates_png}) {
        if (access(png.c_str(), R_OK) == 0) {
            written.push_back(png);
        }
    }
    return written;
}

}  // namespace qobench
