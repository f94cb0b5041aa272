// A read watcher that makes reads fail on demand, as a failing disk or network file system would: every
// read that reaches a chosen offset of the file (or starts at or past it) fails with a chosen error.
#pragma once

#include "tokenizer/KarnFileInterface.h"

#include <atomic>
#include <cerrno>

struct CFailingReads : CKarnReadWatcher
{
    CFailingReads(long long nFailAt, int nError = EIO) : m_nFailAt(nFailAt), m_nError(nError) {}
    int AfterRead(long long nOffset, const char*, size_t nLength) override
    {
        if (nOffset + static_cast<long long>(nLength) <= m_nFailAt && nOffset < m_nFailAt)
            return 0;
        ++m_nFailed;
        return m_nError;
    }
    long long m_nFailAt;
    int m_nError;
    std::atomic<int> m_nFailed{0};
};
