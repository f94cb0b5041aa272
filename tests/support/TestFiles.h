// Temporary files of a test, named after the test and the process, so that the same test running in
// two processes at once (a test program's per-test entries beside its runs with another scan, or two
// build folders) never shares a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

// The path of a file of the running test in the temporary folder: prefix, process id, test name,
// extension.
inline std::string TestFilePath(const std::string& strPrefix, const std::string& strExtension = ".slp")
{
#if defined(_WIN32)
    const int nProcess = ::_getpid();
#else
    const int nProcess = static_cast<int>(::getpid());
#endif
    return testing::TempDir() + strPrefix + std::to_string(nProcess) + "_" +
           testing::UnitTest::GetInstance()->current_test_info()->name() + strExtension;
}

// A file of the running test with the given contents, removed at the end of the test.
struct TestFile
{
    const std::string path;
    explicit TestFile(const std::string& strContents, const std::string& strPrefix = "slp_")
        : path(TestFilePath(strPrefix))
    {
        Write(strContents);
    }
    ~TestFile() { std::remove(path.c_str()); }
    TestFile(const TestFile&) = delete;
    TestFile& operator=(const TestFile&) = delete;
    void Write(const std::string& strContents) const
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << strContents;
    }
};
