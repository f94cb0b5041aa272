// What the two files of the module slp._slp share: the loaded model as the module's objects hold it.
#pragma once

#include "slp/SLPParser.h"
#include "tokenizer/KarnFileInterface.h"

#include <pybind11/pybind11.h>

#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <unordered_map>

namespace slppy
{

namespace py = pybind11;

// A loaded model: the world that a load filled and what the load said about it. Every object of the
// module that reaches into the model (the model, its groups and meshes, the arrays over its triangles)
// holds a reference, so the world lives as long as any of them does.
struct CLoadedWorld
{
    CKarnWorld m_World;
    long long m_nDiscardedVertices = 0;
    // The box of each group with every group below it, made for them all at the first group.box (with
    // the GIL held, which guards it).
    mutable std::unordered_map<const vemoBaseGroup*, vemoBBox> m_SubtreeBoxes;
    mutable bool m_bSubtreeBoxesMade = false;
};
using WorldRef = std::shared_ptr<const CLoadedWorld>;

// What slp.load returns.
struct CModel
{
    WorldRef m_pWorld;
};

// Keeps a load or a check that runs with the GIL released answerable to Python: it watches every block
// read (CKarnReadWatcher) and every progress step, and on the thread that started the work (made there,
// with the GIL held) takes the GIL to run pending signal handlers (Ctrl-C) and the progress callable.
// When either raises, the exception is kept and every later read, on any thread, fails with EINTR, so
// the work ends at its next block; Finish raises the kept exception once the work has returned. Reads
// on other threads only look at that flag: Python runs signal handlers on its main thread alone.
class CPythonWatch : public CKarnReadWatcher
{
public:
    // progress: None or a callable given the percentage points gained since its last call. nSize: the
    // input's size when the reader cannot know it (a pipe the binding feeds), from which the progress
    // is told by the reads; -1 otherwise.
    explicit CPythonWatch(py::object progress = py::none(), long long nSize = -1);
    ~CPythonWatch() override;
    CPythonWatch(const CPythonWatch&) = delete;
    CPythonWatch& operator=(const CPythonWatch&) = delete;

    int BeforeRead(long long nOffset) override;
    int AfterRead(long long nOffset, const char* pData, size_t nLength) override;
    // The work's percentage read, on the thread that started it, with the GIL released: 0, or EINTR
    // once the work is to stop.
    int Progress(int nPercentage);
    // For work that reads no blocks (a load from memory), which the progress callback then stops by
    // throwing once Progress asks it to.
    void SetStopsByThrowing() { m_bStopsByThrowing = true; }
    bool StopsByThrowing() const { return m_bStopsByThrowing; }
    // With the GIL held, after the work returned: raises the kept exception, if any; else, when
    // bComplete, gives the progress callable what it lacks of 100.
    void Finish(bool bComplete);

private:
    // Runs the pending signal handlers and reports nPercentage (when above the last), taking the GIL;
    // on the starting thread only. 0, or EINTR once something raised.
    int Poll(int nPercentage);

    py::object m_Progress;
    long long m_nSize;
    int m_nReported = 0;
    std::thread::id m_Starter;
    bool m_bRunsHandlers; // the starting thread is Python's main thread
    bool m_bStopsByThrowing = false;
    std::exception_ptr m_pPending;
    std::atomic<bool> m_bStop{false};
};

// Defines Box, Model, Group, Mesh, the mesh iterator and load in the module.
void DefineModel(py::module_& module);

} // namespace slppy
