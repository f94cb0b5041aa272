// Helpers shared by the harnesses that need the input as a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file in the temporary folder whose name is unique to this process and to the tag; written afresh
// by Write and removed when the program ends.
class CFuzzTempFile
{
public:
    explicit CFuzzTempFile(const char* pszTag);
    ~CFuzzTempFile();
    CFuzzTempFile(const CFuzzTempFile&) = delete;
    CFuzzTempFile& operator=(const CFuzzTempFile&) = delete;
    // Replaces the file's contents with the bytes; aborts when the file cannot be written.
    void Write(const uint8_t* pData, size_t nSize);
    const std::string& GetPath() const { return m_strPath; }

private:
    std::string m_strPath;
};

// A folder in the temporary folder whose name is unique to this process and to the tag; created at once
// and removed, with whatever it still holds, when the program ends. Its path uses '/' on every system.
class CFuzzTempFolder
{
public:
    explicit CFuzzTempFolder(const char* pszTag);
    ~CFuzzTempFolder();
    CFuzzTempFolder(const CFuzzTempFolder&) = delete;
    CFuzzTempFolder& operator=(const CFuzzTempFolder&) = delete;
    const std::string& GetPath() const { return m_strPath; }

private:
    std::string m_strPath;
};
