// Applications built from outside the tree against the installed library,
// with pkg-config and with find_package, in C and in C++.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr int BUILD_MS = 240000;
const std::string stage = QO3964_STAGE_DIR;

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
        ASSERT_EQ(run({"/usr/bin/env", "PKG_CONFIG_PATH=" + stage + "/lib/pkgconfig", "/bin/sh", "-c", script}, output), 0)
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
    for (const char* file : {"/lib/libqo3964_client.a", "/include/qo3964_client.h", "/lib/pkgconfig/qo3964_client.pc",
                             "/lib/cmake/qo3964_client/qo3964_client-config.cmake",
                             "/lib/cmake/qo3964_client/qo3964_client-config-version.cmake",
                             "/lib/cmake/qo3964_client/qo3964_client-targets.cmake"}) {
        EXPECT_TRUE(qotest::file_exists(stage + file)) << file;
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
