// SPDX-License-Identifier: MIT
// The library links into a C program with the C compiler alone, and it
// asks nothing of the C++ runtime.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr int BUILD_MS = 120000;

// Splits the output of nm into the symbols it defines and those it needs.
void read_symbols(const std::string& listing, std::set<std::string>& defined, std::set<std::string>& needed)
{
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) {
            words.push_back(word);
        }
        if (words.size() == 2 && words[0] == "U") {
            needed.insert(words[1]);
        } else if (words.size() == 3) {
            defined.insert(words[2]);
        }
    }
}

// The archive's symbols (nm), and the dynamic ones of the shared object
// made from it (nm -D).
class LibrarySymbols : public ::testing::TestWithParam<std::string> {};

TEST_P(LibrarySymbols, NeedNoCxxRuntime)
{
    qotest::Process nm(GetParam() == "Archive"
                           ? std::vector<std::string>{QO3964_NM, QO3964_CLIENT_LIBRARY}
                           : std::vector<std::string>{QO3964_NM, "-D", QO3964_CLIENT_SHARED_LIBRARY});
    ASSERT_EQ(nm.wait_exit(BUILD_MS), 0) << nm.err();
    std::set<std::string> defined;
    std::set<std::string> needed;
    read_symbols(nm.out(), defined, needed);
    ASSERT_FALSE(defined.empty());
    for (const std::string& symbol : needed) {
        if (defined.count(symbol) != 0) {
            continue;
        }
        // Mangled names, exception support and unwinding come from the
        // C++ runtime; everything else must be the C library's.
        EXPECT_NE(symbol.rfind("_Z", 0), 0u) << symbol;
        EXPECT_NE(symbol.rfind("__cxa_", 0), 0u) << symbol;
        EXPECT_NE(symbol.rfind("__gxx_", 0), 0u) << symbol;
        EXPECT_NE(symbol.rfind("_Unwind_", 0), 0u) << symbol;
    }
}

INSTANTIATE_TEST_SUITE_P(CLink, LibrarySymbols, ::testing::Values("Archive", "SharedObject"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

class CProgram : public ::testing::TestWithParam<const char*> {};

TEST_P(CProgram, BuildsWithTheCCompilerAloneAndRuns)
{
    qotest::TempDir dir;
    const std::string program = dir.file("c_link_program");
    std::vector<std::string> command{QO3964_C_COMPILER, GetParam(), "-Wall", "-Wextra", "-Wpedantic", "-Werror",
                                     "-I" QO3964_CLIENT_INCLUDE, QO3964_C_PROGRAM, QO3964_CLIENT_LIBRARY,
                                     "-o", program};
    if (std::string(QO3964_SANITIZER_FLAGS) != "") {
        command.insert(command.begin() + 1, QO3964_SANITIZER_FLAGS);
    }
    qotest::Process build(command);
    ASSERT_EQ(build.wait_exit(BUILD_MS), 0) << build.out() << build.err();

    qotest::Process run({program, dir.file("absent.rc")});
    ASSERT_EQ(run.wait_exit(BUILD_MS), 0) << run.err();
    EXPECT_EQ(run.out(),
              "version V 1.0.1\n"
              "shm_size 9444 debug 0\n"
              "open -51\n"
              "svr_info -50 --NONE--\n"
              "receive -98\n"
              "send -98\n"
              "text timeout bei Client-Server-Kommunikation|timeout at client-server communication\n"
              "clinit\n +++ qo512_Verbindung: fehlerfrei\n");
}

INSTANTIATE_TEST_SUITE_P(Standards, CProgram, ::testing::Values("-std=c99", "-std=c11"));

}  // namespace
