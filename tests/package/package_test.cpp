// SPDX-License-Identifier: MIT
// Applications built from outside the tree against the installed library,
// with pkg-config and with find_package, in C and in C++.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
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

// What applications may call: the header's calls and its two globals.
const std::vector<std::string> EXPORTED{"qo3964m_open_shm",    "qo3964m_close_shm", "qo3964m_svr_info",
                                        "qo3964m_send",        "qo3964m_send_strt", "qo3964m_send_control",
                                        "qo3964m_receive",     "qo3964m_receive_wait", "qo3964_errortext",  "qo3964_errortext_en",
                                        "clinit_result",       "qo7_version",       "qo_version",
                                        "qo3964_library_version", "debug",          "shm_size"};
// The version node of the shared library's symbols.
const std::string SYMBOL_VERSION = "QO3964_1";

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

    // Runs the program (which finds the shared library in the tree).
    void expect_program_output(const std::string& program, const std::string& language)
    {
        qotest::Process app({"/usr/bin/env", "LD_LIBRARY_PATH=" + libdir, program, dir.file("absent.rc")});
        ASSERT_EQ(app.wait_exit(BUILD_MS), 0) << app.err();
        EXPECT_EQ(app.out(), expected_output(language));
    }

    // The dynamic section of an ELF file: its soname, the libraries it needs.
    std::string dynamic_section(const std::string& file)
    {
        std::string output;
        EXPECT_EQ(run({"/usr/bin/readelf", "-d", file}, output), 0) << output;
        return output;
    }

    bool needs_shared_library(const std::string& program)
    {
        return dynamic_section(program).find("Shared library: [libqo3964_client.so.1]") != std::string::npos;
    }

    // Links the shared library, or with `archive` the static one, between
    // -Wl,-Bstatic and -Wl,-Bdynamic with what --static adds.
    void build_with_pkg_config(const std::string& compiler, const std::string& source, const std::string& language,
                               bool archive = false)
    {
        const std::string program = dir.file("app");
        std::string output;
        const std::string libs = archive ? "-Wl,-Bstatic $(pkg-config --static --libs qo3964_client) -Wl,-Bdynamic"
                                         : "$(pkg-config --libs qo3964_client)";
        const std::string script = "\"" + compiler + "\" \"" + source + "\" $(pkg-config --cflags qo3964_client) " +
                                   libs + " -o \"" + program + "\"";
        ASSERT_EQ(run({"/usr/bin/env", "PKG_CONFIG_PATH=" + libdir + "/pkgconfig", "/bin/sh", "-c", script}, output), 0)
            << output;
        expect_program_output(program, language);
        EXPECT_EQ(needs_shared_library(program), !archive);
    }

    void build_with_find_package(const std::string& languages, const std::string& source, const std::string& language,
                                 const std::string& target = "qo3964_client::qo3964_client")
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
                           "target_link_libraries(app " + target + ")\n");
        ASSERT_EQ(run({QO3964_CMAKE, "-S", project, "-B", build, "-DCMAKE_PREFIX_PATH=" + stage}, output), 0) << output;
        ASSERT_EQ(run({QO3964_CMAKE, "--build", build, "--", "VERBOSE=1"}, output), 0) << output;
        expect_program_output(build + "/app", language);
        EXPECT_EQ(needs_shared_library(build + "/app"), target != "qo3964_client::qo3964_client");
        last_build_log = output;
    }

    qotest::TempDir dir;
    std::string last_build_log;
};

TEST_F(InstalledPackage, TreeHoldsLibraryHeaderAndPackageFiles)
{
    for (const char* file : {"/libqo3964_client.a", "/libqo3964_client.so.1", "/libqo3964_client.so",
                             "/pkgconfig/qo3964_client.pc",
                             "/cmake/qo3964_client/qo3964_client-config.cmake",
                             "/cmake/qo3964_client/qo3964_client-config-version.cmake",
                             "/cmake/qo3964_client/qo3964_client-targets.cmake"}) {
        EXPECT_TRUE(qotest::file_exists(libdir + file)) << file;
    }
    EXPECT_TRUE(qotest::file_exists(stage + "/include/qo3964_client.h"));
    EXPECT_TRUE(qotest::file_exists(stage + "/share/man/man3/qo3964m_open_shm.3.gz"));
    EXPECT_TRUE(qotest::file_exists(stage + "/lib/python3/dist-packages/qo3964/__init__.py"));
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
    const std::vector<std::string>& calls = EXPORTED;
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

// The shared library exports the same names and nothing else, under its
// soname, all in its version node, and needs only the C library; the
// symbols file of its package lists exactly these names.
TEST_F(InstalledPackage, SharedLibraryExportsOnlyTheCallsUnderItsSoname)
{
    const std::string library = libdir + "/libqo3964_client.so.1";
    const std::string dynamic = dynamic_section(library);
    EXPECT_NE(dynamic.find("Library soname: [libqo3964_client.so.1]"), std::string::npos) << dynamic;
    // The only library it needs is the C library.
    const size_t libc = dynamic.find("Shared library: [libc.so.6]");
    EXPECT_TRUE(libc != std::string::npos && dynamic.find("Shared library: [") == libc &&
                dynamic.rfind("Shared library: [") == libc)
        << dynamic;
    std::string output;
    ASSERT_EQ(run({"/usr/bin/nm", "-D", "--defined-only", "--format=just-symbols", library}, output), 0) << output;
    std::set<std::string> exported{SYMBOL_VERSION};
    std::set<std::string> in_symbols_file{SYMBOL_VERSION + "@" + SYMBOL_VERSION};
    for (const std::string& name : EXPORTED) {
        exported.insert(name + "@@" + SYMBOL_VERSION);
        in_symbols_file.insert(name + "@" + SYMBOL_VERSION);
    }
    std::istringstream names(output);
    EXPECT_EQ(std::set<std::string>(std::istream_iterator<std::string>(names), {}), exported);
    // " name@version release" lines; the header and "* field" lines are no symbols.
    std::ifstream symbols(QO3964_SYMBOLS_FILE);
    std::set<std::string> listed;
    for (std::string line; std::getline(symbols, line);) {
        if (line.rfind(" ", 0) == 0) {
            listed.insert(line.substr(1, line.find(' ', 1) - 1));
        }
    }
    EXPECT_EQ(listed, in_symbols_file);
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
                   "-l:libqo3964_client.a", "-o", dir.file("plugin.so")},
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
    for (const char* name : {"qo3964_", "libqo3964-dev_", "libqo3964-1_", "python3-qo3964_"}) {
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

TEST_F(InstalledPackage, CProgramWithPkgConfigLinksTheArchive)
{
    build_with_pkg_config(QO3964_C_COMPILER, QO3964_PACKAGE_SOURCE_DIR "/package_app.c", "C", true);
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

TEST_F(InstalledPackage, CProgramWithFindPackageLinksTheSharedLibrary)
{
    build_with_find_package("C", QO3964_PACKAGE_SOURCE_DIR "/package_app.c", "C",
                            "qo3964_client::qo3964_client_shared");
}

}  // namespace
