// SPDX-License-Identifier: MIT
// The server's counters after known traffic, as qo3964_ctl status --json
// and --prometheus print them, and the trace of that traffic replayed by
// the partner against a new server.
#include <gtest/gtest.h>

#include <map>

#include "ctl_fixture.h"

namespace ctltest {
namespace {

// The number after "key": in a JSON text whose keys are unique.
long long json_number(const std::string& json, const std::string& key)
{
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stoll(json.substr(at + key.size() + 3));
}

// "name{labels} value" lines by name and labels.
std::map<std::string, std::string> samples(const std::string& text)
{
    std::map<std::string, std::string> found;
    for (const std::string& line : lines_of(text)) {
        if (!line.empty() && line[0] != '#') {
            found[line.substr(0, line.rfind(' '))] = line.substr(line.rfind(' ') + 1);
        }
    }
    return found;
}

// The partner refuses the server's first two STX (the send fails with -84
// after TDS 2 attempts) and the next closing block (the second attempt of
// the next send goes through), then echoes that telegram.
class KnownTraffic : public ::testing::Test {
protected:
    void SetUp() override
    {
        link = std::make_unique<PartnerServer>(
            std::vector<std::string>{"--echo", "--fault", "nak-stx=2", "--fault", "nak-end=1"},
            std::string(SERVER_TIMES) + "TRACEFILE " + dir.file("line.trace") + "\n");
        ASSERT_TRUE(link->start());
        EXPECT_EQ(run_ctl(link->ctl({"send", "01 02 03"})).out, "result -84: 3964: Initialisation conflict\n");
        EXPECT_EQ(run_ctl(link->ctl({"send", "41 10 42"})).status, 0);
        EXPECT_EQ(run_ctl(link->ctl({"receive"})).out, "received 3 bytes: 41 10 42\n");
    }

    qotest::TempDir dir;
    std::unique_ptr<PartnerServer> link;
};

TEST_F(KnownTraffic, StatusCountsItInJsonAndForPrometheus)
{
    const CtlRun json = run_ctl(link->ctl({"status", "--json"}));
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(lines_of(json.out).size(), 1u);
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");
    EXPECT_NE(json.out.find("\"line\":\"qo3964\",\"condition\":\"running\",\"running\":true,\"line_up\":true"),
              std::string::npos)
        << json.out;
    const std::map<std::string, long long> expected{
        {"telegrams_sent", 1},     {"bytes_sent", 3},          {"telegrams_received", 1},
        {"bytes_received", 3},     {"sends_failed_no_connect", 1}, {"attempts_failed", 3},
        {"attempts_refused", 3},   {"partner_silent", 0},      {"receptions_refused", 0},
        {"tds", 2},                {"qvz_ms", 500},
    };
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(json_number(json.out, key), value) << key;
    }
    EXPECT_GT(json_number(json.out, "last_received_ms"), json_number(json.out, "started_ms"));

    const CtlRun prometheus = run_ctl(link->ctl({"status", "--prometheus"}));
    ASSERT_EQ(prometheus.status, 0) << prometheus.err;
    std::map<std::string, std::string> found = samples(prometheus.out);
    EXPECT_EQ(found["qo3964_up{line=\"qo3964\"}"], "1");
    EXPECT_EQ(found["qo3964_line_up{line=\"qo3964\"}"], "1");
    for (const auto& [key, value] : expected) {
        if (key.find('_') != std::string::npos && key != "qvz_ms") {
            EXPECT_EQ(found["qo3964_" + key + "_total{line=\"qo3964\"}"], std::to_string(value)) << key;
        }
    }
    EXPECT_NE(prometheus.out.find("# TYPE qo3964_telegrams_sent_total counter\n"), std::string::npos);

    // A refusing partner is no silent one.
    const std::string log = link->server().process().err();
    EXPECT_NE(log.find("send failed: -84, the partner refused it (NAK)"), std::string::npos) << log;
    EXPECT_EQ(log.find("stopped answering"), std::string::npos) << log;
}

// The night's traffic, traced, played by the partner against a new server
// that the application drives as then: every line of the server's side
// comes as traced, and the application gets the partner's telegram.
TEST_F(KnownTraffic, ItsTraceIsReplayedAgainstANewServer)
{
    EXPECT_EQ(link->server().stop(), 1);
    const std::string trace = dir.file("line.trace");
    const std::vector<std::string> lines = lines_of(qotest::read_file(trace));
    std::vector<std::string> exchange;
    for (size_t i = 1; i < lines.size(); ++i) {
        exchange.push_back(lines[i].substr(24));  // without the time
    }
    const std::vector<std::string> traced{
        "OUT 02 STX", "IN  15 NAK", "OUT 02 STX",   "IN  15 NAK", "OUT 15 NAK",
        "OUT 02 STX", "IN  10 DLE", "OUT 41 10 10 42 10 03 10", "IN  15 NAK",
        "OUT 02 STX", "IN  10 DLE", "OUT 41 10 10 42 10 03 10", "IN  10 DLE",
        "IN  02 STX", "OUT 10 DLE", "IN  41 10 10 42 10 03 10", "OUT 10 DLE",
    };
    EXPECT_EQ(exchange, traced) << qotest::read_file(trace);

    PartnerServer replay({"--replay", trace, "--replay-after", "0"});
    ASSERT_TRUE(replay.start());
    EXPECT_EQ(run_ctl(replay.ctl({"send", "01 02 03"})).status, 1);
    EXPECT_EQ(run_ctl(replay.ctl({"send", "41 10 42"})).status, 0);
    EXPECT_EQ(run_ctl(replay.ctl({"receive"})).out, "received 3 bytes: 41 10 42\n");
    EXPECT_EQ(replay.partner().wait_exit(10000), 0) << replay.partner().out();
    EXPECT_NE(replay.partner().out().find("REPLAY-END written=8 matched=9 differed=0 missing=0 skipped=0"),
              std::string::npos)
        << replay.partner().out();
}

}  // namespace
}  // namespace ctltest
