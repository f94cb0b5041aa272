// Fixture paths and temporary files for the tests.
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

// A file of the fixture folder.
inline std::string DataPath(const std::string& name)
{
    return std::string(SLP_TEST_DATA_DIR) + "/" + name;
}

inline int ProcessId()
{
#if defined(_WIN32)
    return ::_getpid();
#else
    return static_cast<int>(::getpid());
#endif
}

// A path in the temporary folder named after the prefix, the running test and the process (CTest may
// run a test in two processes at once, and the tests of a program in parallel).
inline std::string TestTempPath(const std::string& prefix, const std::string& extension = std::string())
{
    return testing::TempDir() + prefix + testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
           std::to_string(ProcessId()) + extension;
}

// A file in the temporary folder, removed at the end of the test.
struct TempFile
{
    const std::string path = TestTempPath("slp_", ".slp");
    explicit TempFile(const std::string& contents = std::string()) { Write(contents); }
    ~TempFile() { std::remove(path.c_str()); }
    void Write(const std::string& contents) const
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    }
};
