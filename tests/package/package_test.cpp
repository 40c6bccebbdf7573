// SPDX-License-Identifier: MIT
// Applications built from outside the tree against the installed library,
// with pkg-config and with find_package, in C and in C++.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "find_on_path.h"
#include "test_support.h"

namespace {

constexpr int BUILD_MS = 240000;
const std::string stage = QO3964_STAGE_DIR;

// Where the installed tree has the library: the multiarch directory, or
// lib/ in a tree configured before the library moved there.
std::string find_libdir()
{
    const std::string multiarch = stage + "/lib/" QO3964_MULTIARCH;
    return qotest::file_exists(multiarch + "/libqo3964_client.a") ? multiarch : stage + "/lib";
}
const std::string libdir = find_libdir();

std::string expected_output(const std::string& language)
{
    return language + " V 1.0.1\n"
                      "open -51 qo7_open_shm(): rc-File not found\n"
                      "info -98 --NONE--\n"
                      "control -98\n";
}

// The command that linked the program, from a verbose build log.
std::string link_line(const std::string& log)
{
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(" -o app ") != std::string::npos && line.find(" -c ") == std::string::npos) {
            return line;
        }
    }
    return "";
}

class InstalledPackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (stage.empty()) {
            GTEST_SKIP() << "no installed tree (QO3964_STAGE_DIR is empty)";
        }
    }

    // Runs a command to its end; returns its exit status.
    int run(const std::vector<std::string>& command, std::string& output, const std::string& workdir = "")
    {
        qotest::Process process(command, workdir);
        const int status = process.wait_exit(BUILD_MS);
        output = process.out() + process.err();
        return status;
    }

    void expect_program_output(const std::string& program, const std::string& language)
    {
        qotest::Process app({program, dir.file("absent.rc")});
        ASSERT_EQ(app.wait_exit(BUILD_MS), 0) << app.err();
        EXPECT_EQ(app.out(), expected_output(language));
    }

    void build_with_pkg_config(const std::string& compiler, const std::string& source, const std::string& language)
    {
        const std::string program = dir.file("app");
        std::string output;
        const std::string script = "\"" + compiler + "\" \"" + source + "\" $(pkg-config --cflags --libs qo3964_client) -o \"" +
                                   program + "\"";
        ASSERT_EQ(run({"/usr/bin/env", "PKG_CONFIG_PATH=" + libdir + "/pkgconfig", "/bin/sh", "-c", script}, output), 0)
            << output;
        expect_program_output(program, language);
    }

    void build_with_find_package(const std::string& languages, const std::string& source, const std::string& language)
    {
        const std::string project = dir.file("project");
        const std::string build = dir.file("build");
        std::string output;
        ASSERT_EQ(run({"/bin/mkdir", "-p", project}, output), 0);
        qotest::write_file(project + "/CMakeLists.txt",
                           "cmake_minimum_required(VERSION 3.20)\n"
                           "project(app LANGUAGES " + languages + ")\n"
                           "find_package(qo3964_client 1.0 REQUIRED)\n"
                           "add_executable(app \"" + source + "\")\n"
                           "target_link_libraries(app qo3964_client::qo3964_client)\n");
        ASSERT_EQ(run({QO3964_CMAKE, "-S", project, "-B", build, "-DCMAKE_PREFIX_PATH=" + stage}, output), 0) << output;
        ASSERT_EQ(run({QO3964_CMAKE, "--build", build, "--", "VERBOSE=1"}, output), 0) << output;
        expect_program_output(build + "/app", language);
        last_build_log = output;
    }

    qotest::TempDir dir;
    std::string last_build_log;
};

TEST_F(InstalledPackage, TreeHoldsLibraryHeaderAndPackageFiles)
{
    for (const char* file : {"/libqo3964_client.a", "/pkgconfig/qo3964_client.pc",
                             "/cmake/qo3964_client/qo3964_client-config.cmake",
                             "/cmake/qo3964_client/qo3964_client-config-version.cmake",
                             "/cmake/qo3964_client/qo3964_client-targets.cmake"}) {
        EXPECT_TRUE(qotest::file_exists(libdir + file)) << file;
    }
    EXPECT_TRUE(qotest::file_exists(stage + "/include/qo3964_client.h"));
    EXPECT_TRUE(qotest::file_exists(stage + "/share/man/man3/qo3964m_open_shm.3.gz"));
}

// Only the calls and the two globals applications use, and names inside
// the project's namespace, so that nothing of the library clashes with
// an application's own names. Weak instantiations of std:: templates
// would be merged by the linker with an application's identical ones and
// are let through; none should be there in an optimised build.
TEST_F(InstalledPackage, LibraryExportsOnlyItsCallsAndTheProjectsNames)
{
    std::string output;
    ASSERT_EQ(run({"/usr/bin/nm", "-g", "--defined-only", "-C", libdir + "/libqo3964_client.a"}, output), 0) << output;
    const std::vector<std::string> calls{"qo3964m_open_shm", "qo3964m_close_shm", "qo3964m_svr_info",
                                         "qo3964m_send",     "qo3964m_send_strt", "qo3964m_send_control",
                                         "qo3964m_receive",  "qo3964_errortext",  "qo3964_errortext_en",
                                         "clinit_result",    "qo7_version",       "qo_version",
                                         "debug",            "shm_size"};
    std::istringstream lines(output);
    std::string line;
    int found = 0;
    while (std::getline(lines, line)) {
        // "<address> <type> <name>"; file headers and blank lines have no type.
        if (line.size() < 19 || line[16] != ' ' || line[18] != ' ') {
            continue;
        }
        const char type = line[17];
        const std::string name = line.substr(19);
        if (std::find(calls.begin(), calls.end(), name) != calls.end()) {
            ++found;
            continue;
        }
        const bool weak = type == 'W' || type == 'V' || type == 'u';
        EXPECT_TRUE(name.rfind("qo3964::", 0) == 0 || (weak && name.rfind("std::", 0) == 0)) << line;
    }
    EXPECT_EQ(found, static_cast<int>(calls.size())) << output;
}

TEST_F(InstalledPackage, LibraryLinksIntoASharedObject)
{
    const std::string source = dir.file("plugin.c");
    // Calls that reach the library's globals, whose addressing decides.
    qotest::write_file(source, "#include <qo3964_client.h>\n"
                               "int plugin_open(const char *rc) { debug = 0; return qo3964m_open_shm(0, rc); }\n"
                               "int plugin_send(const void *t, int n) { return qo3964m_send(0, t, n, shm_size); }\n");
    std::string output;
    EXPECT_EQ(run({QO3964_C_COMPILER, "-shared", "-fPIC", "-I" + stage + "/include", source, "-L" + libdir,
                   "-lqo3964_client", "-o", dir.file("plugin.so")},
                  output),
              0)
        << output;
}

// The packages of the release tree, when cpack has built them there: no
// tag at all, pedantic ones included, apart from the documented overrides.
TEST(DebianPackages, LintianFindsNothingEvenPedantic)
{
    const std::string packages = QO3964_PACKAGE_DIR;
    const std::string lintian = qotest::find_on_path("lintian");
    if (packages.empty() || lintian.empty()) {
        GTEST_SKIP() << "needs QO3964_PACKAGE_DIR (a tree where cpack -G DEB ran) and lintian";
    }
    for (const char* name : {"qo3964_", "libqo3964-dev_"}) {
        qotest::Process find({"/bin/sh", "-c", "ls \"" + packages + "\"/" + name + "*.deb"});
        ASSERT_EQ(find.wait_exit(BUILD_MS), 0) << name << " package missing in " << packages;
        std::istringstream debs(find.out());
        std::string deb;
        while (std::getline(debs, deb)) {
            qotest::Process check({lintian, "--pedantic", deb});
            check.wait_exit(BUILD_MS);
            std::istringstream lines(check.out() + check.err());
            std::string line;
            while (std::getline(lines, line)) {
                // A tag is "E: ", "W: ", "I: ", "P: " ... and the package.
                EXPECT_NE(line.find(": "), 1u) << deb << ": " << line;
            }
        }
    }
}

TEST_F(InstalledPackage, CProgramWithPkgConfig)
{
    build_with_pkg_config(QO3964_C_COMPILER, QO3964_PACKAGE_SOURCE_DIR "/package_app.c", "C");
}

TEST_F(InstalledPackage, CxxProgramWithPkgConfig)
{
    build_with_pkg_config(QO3964_CXX_COMPILER, QO3964_PACKAGE_SOURCE_DIR "/package_app.cpp", "C++");
}

TEST_F(InstalledPackage, CProgramWithFindPackageLinksWithTheCCompiler)
{
    // A project that also enables C++ must still link a C program as C.
    build_with_find_package("C CXX", QO3964_PACKAGE_SOURCE_DIR "/package_app.c", "C");
    const std::string link = link_line(last_build_log);
    EXPECT_EQ(link.rfind(QO3964_C_COMPILER " ", 0), 0u) << last_build_log;
    EXPECT_EQ(link.find("stdc++"), std::string::npos) << link;
}

TEST_F(InstalledPackage, CProgramWithFindPackageInACOnlyProject)
{
    build_with_find_package("C", QO3964_PACKAGE_SOURCE_DIR "/package_app.c", "C");
}

TEST_F(InstalledPackage, CxxProgramWithFindPackage)
{
    build_with_find_package("CXX", QO3964_PACKAGE_SOURCE_DIR "/package_app.cpp", "C++");
}

}  // namespace
