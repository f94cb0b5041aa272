// slp._slp: the load and the model it returns (groups, meshes and zero-copy arrays over the triangles).
#include "Binding.h"

#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "foundation/TextCodec.h"
#include "model/GroupWalk.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace slppy
{
namespace
{

// The arrays over the triangles rely on this layout: three vertices, then three normals, of three floats.
static_assert(sizeof(vemoFloatPoint) == 3 * sizeof(float) && sizeof(vemoVector) == 3 * sizeof(float),
              "points and vectors are three floats");
static_assert(sizeof(vemoTRex) == 6 * sizeof(vemoFloatPoint) && offsetof(vemoTRex, m_Normal) == 36,
              "a triangle is its three vertices followed by its three normals");

// A group of a loaded model.
struct CGroupRef
{
    WorldRef m_pWorld;
    const vemoBaseGroup* m_pGroup;
};

// A mesh of a loaded model, with the colour its group's material record gives it.
struct CMeshRef
{
    WorldRef m_pWorld;
    const vemoSTL* m_pMesh;
    vemoChroma m_Colour;
};

// The namedtuple type Box(min, max), made when the module is defined; the module keeps it.
py::handle g_BoxType;

// The float as the Python float with the shortest decimal text that reads back as the same float, so
// that 0.28 in a file shows as 0.28 (as the program prints it) rather than as the float's exact value,
// 0.2800000011920929; numpy's float32 of either is the same. Locale-independent.
double Shortest(float fValue)
{
    char szText[32];
    const std::to_chars_result written = std::to_chars(szText, szText + sizeof szText, fValue);
    double dValue = fValue;
    if (written.ec == std::errc() && std::isfinite(fValue))
        std::from_chars(szText, written.ptr, dValue);
    return dValue;
}

py::tuple PointTuple(const vemoFloatPoint& point)
{
    return py::make_tuple(Shortest(point.x), Shortest(point.y), Shortest(point.z));
}

py::tuple ColourTuple(const vemoChroma& c)
{
    return py::make_tuple(Shortest(c.red), Shortest(c.green), Shortest(c.blue), Shortest(c.alpha));
}

py::object BoxOf(const vemoBBox& box)
{
    if (box.IsEmpty())
        return py::none();
    return g_BoxType(PointTuple(box.GetMin()), PointTuple(box.GetMax()));
}

// The box around the group's meshes and those of every group below it, from the world's table, which
// the first call fills in one pass over all groups (children before their parents, no recursion).
const vemoBBox& SubtreeBox(const CLoadedWorld& world, const vemoBaseGroup& group)
{
    if (!world.m_bSubtreeBoxesMade)
    {
        std::vector<const vemoBaseGroup*> order{&world.m_World};
        for (std::size_t i = 0; i < order.size(); ++i)
            for (int k = 0; k < order[i]->GetNumGroups(); ++k)
                order.push_back(order[i]->GetGroup(k));
        world.m_SubtreeBoxes.reserve(order.size());
        for (auto it = order.rbegin(); it != order.rend(); ++it)
        {
            vemoBBox box = (*it)->GetBBox();
            for (int k = 0; k < (*it)->GetNumGroups(); ++k)
                box.Update(world.m_SubtreeBoxes[(*it)->GetGroup(k)]);
            world.m_SubtreeBoxes[*it] = box;
        }
        world.m_bSubtreeBoxesMade = true;
    }
    return world.m_SubtreeBoxes.at(&group);
}

// "1 triangle", "2 triangles".
std::string Count(long long nCount, const char* pszOne, const char* pszMany)
{
    return std::to_string(nCount) + " " + (nCount == 1 ? pszOne : pszMany);
}

py::str NameOf(const vemoBaseGroup& group)
{
    return py::str(BasicToUtf8(group.GetGroupName().GetText()));
}

py::list ChildGroups(const WorldRef& pWorld, const vemoBaseGroup& group)
{
    py::list groups;
    for (int i = 0; i < group.GetNumGroups(); ++i)
        groups.append(CGroupRef{pWorld, group.GetGroup(i)});
    return groups;
}

// The group's object i as a mesh of the model, or nothing when it is not a mesh.
std::optional<CMeshRef> MeshAt(const WorldRef& pWorld, const vemoBaseGroup& group, int i)
{
    if (const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i)))
        return CMeshRef{pWorld, pMesh, group.GetObjectMaterial(i)->m_Front.GetDiffuse()};
    return std::nullopt;
}

py::list MeshesOf(const WorldRef& pWorld, const vemoBaseGroup& group)
{
    py::list meshes;
    for (int i = 0; i < group.GetNumObjects(); ++i)
        if (std::optional<CMeshRef> mesh = MeshAt(pWorld, group, i))
            meshes.append(*mesh);
    return meshes;
}

// A read-only array of shape (triangles, 3, 3) over the vertices (nOffset 0) or the normals (nOffset 36)
// of the mesh's triangles, without a copy. Its base holds the world.
py::array TriangleView(const CMeshRef& mesh, std::size_t nOffset)
{
    const py::ssize_t nTriangles = mesh.m_pMesh->m_pTriangles != nullptr && mesh.m_pMesh->m_nTriangleCount > 0
                                       ? mesh.m_pMesh->m_nTriangleCount
                                       : 0;
    if (nTriangles == 0)
    {
        py::array_t<float> empty(std::vector<py::ssize_t>{0, 3, 3});
        empty.attr("setflags")(py::arg("write") = false); // read-only, as every other mesh's
        return std::move(empty);
    }
    auto pKeep = std::make_unique<WorldRef>(mesh.m_pWorld);
    py::capsule owner(pKeep.get(), [](void* pRef) { delete static_cast<WorldRef*>(pRef); });
    pKeep.release();
    const char* pFirst = reinterpret_cast<const char*>(mesh.m_pMesh->m_pTriangles) + nOffset;
    py::array_t<float> view(std::vector<py::ssize_t>{nTriangles, 3, 3},
                            std::vector<py::ssize_t>{sizeof(vemoTRex), sizeof(vemoFloatPoint), sizeof(float)},
                            reinterpret_cast<const float*>(pFirst), owner);
    view.attr("setflags")(py::arg("write") = false);
    return std::move(view);
}

// model.meshes(): every mesh with the path of its group, the groups walked as CGroupWalk walks them.
class CMeshIterator
{
public:
    explicit CMeshIterator(WorldRef pWorld) : m_pWorld(std::move(pWorld)), m_Walk(m_pWorld->m_World) {}

    py::tuple Next()
    {
        for (;;)
        {
            while (m_pGroup != nullptr && m_nNext < m_pGroup->GetNumObjects())
            {
                if (std::optional<CMeshRef> mesh = MeshAt(m_pWorld, *m_pGroup, m_nNext++))
                {
                    if (!m_Path)
                        m_Path = PathTuple();
                    return py::make_tuple(m_Path, *mesh);
                }
            }
            if (!m_Walk.Next())
                throw py::stop_iteration();
            m_pGroup = &m_Walk.GetGroup();
            m_nNext = 0;
            m_Path = py::object();
            // The names of the path below the root, each converted once.
            const std::size_t nDepth = static_cast<std::size_t>(m_Walk.GetDepth());
            m_Names.resize(nDepth > 0 ? nDepth - 1 : 0);
            if (nDepth > 0)
                m_Names.push_back(NameOf(*m_pGroup));
        }
    }

private:
    py::tuple PathTuple() const
    {
        py::tuple path(m_Names.size());
        for (std::size_t i = 0; i < m_Names.size(); ++i)
            path[i] = m_Names[i];
        return path;
    }

    WorldRef m_pWorld;
    CGroupWalk m_Walk;
    std::vector<py::str> m_Names;
    const vemoBaseGroup* m_pGroup = nullptr;
    int m_nNext = 0;
    py::object m_Path; // the group's path, made when its first mesh is reached
};

// The watch of the load under way on this thread: the parser's progress callback has no context
// argument, so it finds the watch here.
thread_local CPythonWatch* t_pWatch = nullptr;

// Sets this thread's watch for one load and restores the one before (a progress callable may load too).
class CWatchScope
{
public:
    explicit CWatchScope(CPythonWatch& watch) : m_pOuter(t_pWatch) { t_pWatch = &watch; }
    ~CWatchScope() { t_pWatch = m_pOuter; }
    CWatchScope(const CWatchScope&) = delete;
    CWatchScope& operator=(const CWatchScope&) = delete;

private:
    CPythonWatch* m_pOuter;
};

// Thrown by the progress callback through a load from memory once the watch has stopped (Ctrl-C, or an
// exception of the progress callable): such a load reads no block at which to fail, so it ends here.
struct CLoadStopped
{
};

void SLP_STDCALL ProgressToWatch(int nPercentage)
{
    if (t_pWatch != nullptr && t_pWatch->Progress(nPercentage) != 0 && t_pWatch->StopsByThrowing())
        throw CLoadStopped();
}

// Why a load failed, as the slp program tells it: (errno, "") for a file that would not open or read
// ((EILSEQ, "corrupt gzip data") for a gzipped file whose data is corrupt or cut), else (0, what the
// file holds).
py::tuple LoadFailure(CSLPParser& parser, SLPLoadResultTypes eResult)
{
    if (eResult == SLPLoadResult2 && parser.GetIOManager()->GetFileInterface()->GetCorruptGzip())
        return py::make_tuple(EILSEQ, "corrupt gzip data");
    const CLoadFailure failure = ExplainLoadFailure(parser, eResult);
    return py::make_tuple(failure.m_nSystemError, failure.m_pszContent);
}

// Runs parse (the parser's Parse or ParseBuffer) with the GIL released, its progress reported to the
// watch, then finishes the watch, which raises what the progress callable or a signal handler raised.
template <typename ParseFunction>
SLPLoadResultTypes RunLoad(CSLPParser& parser, CPythonWatch& watch, ParseFunction parse)
{
    parser.SetLoaderPtr(&ProgressToWatch);
    SLPLoadResultTypes eResult = SLPLoadFailure;
    {
        CWatchScope scope(watch);
        py::gil_scoped_release release;
        try
        {
            eResult = parse();
        }
        catch (const CLoadStopped&)
        {
            // Finish raises why.
        }
    }
    watch.Finish(eResult == SLPLoadSuccess);
    return eResult;
}

py::object ModelOf(const CSLPParser& parser, std::shared_ptr<CLoadedWorld> pWorld)
{
    pWorld->m_nDiscardedVertices = parser.GetDiscardedPointCount();
    return py::cast(CModel{std::move(pWorld)});
}

// The model, or the failure's (errno, reason). Binary input is refused at its first block, as the
// program refuses it, so an endless device is not read forever. nThreads: CSLPParser::SetThreadCount's.
py::object Load(const py::bytes& path, const py::object& progress, long long nSize, int nThreads)
{
    auto pWorld = std::make_shared<CLoadedWorld>();
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(std::string(path).c_str()));
    parser.SetThreadCount(nThreads);
    CPythonWatch watch(progress, nSize);
    CBinaryInputGuard guard(&watch);
    parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&guard);
    const SLPLoadResultTypes eResult = RunLoad(parser, watch, [&] { return parser.Parse(&pWorld->m_World); });
    if (eResult != SLPLoadSuccess)
        return LoadFailure(parser, eResult);
    return ModelOf(parser, std::move(pWorld));
}

// The bytes of a buffer object, held (and its object kept) while this lives.
class CHeldBuffer
{
public:
    explicit CHeldBuffer(const py::object& object)
    {
        if (PyObject_GetBuffer(object.ptr(), &m_View, PyBUF_SIMPLE) != 0)
            throw py::error_already_set();
    }
    ~CHeldBuffer() { PyBuffer_Release(&m_View); }
    CHeldBuffer(const CHeldBuffer&) = delete;
    CHeldBuffer& operator=(const CHeldBuffer&) = delete;

    const char* Data() const { return static_cast<const char*>(m_View.buf); }
    std::size_t Size() const { return static_cast<std::size_t>(m_View.len); }

private:
    Py_buffer m_View{};
};

// A file's content in memory, loaded as the file would load (the same model, progress and failures),
// with the GIL released: in place when nothing can change the content meanwhile (bCopy false: bytes, or
// a view of them), else from a copy made with the GIL released (another thread may write into a
// bytearray while the load reads it; the loader's scans are written for bytes that stay as they are).
// Content whose first block is binary is refused as that file's first block would be; gzipped content
// is not inflated (slp.load streams it to Load).
py::object LoadBuffer(const py::object& content, const py::object& progress, bool bCopy, int nThreads)
{
    const CHeldBuffer buffer(content);
    auto pWorld = std::make_shared<CLoadedWorld>();
    CSLPParser parser;
    parser.SetThreadCount(nThreads);
    const std::size_t nFirst =
        std::min(buffer.Size(), parser.GetIOManager()->GetFileInterface()->GetBlockSize());
    const bool bStartsAsBinary = nFirst > 0 && std::memchr(buffer.Data(), 0, nFirst) != nullptr;
    if (bStartsAsBinary && CBinaryInputGuard().AfterRead(0, buffer.Data(), nFirst) != 0)
        return py::make_tuple(0, DescribeNotSLP(1, true));
    CPythonWatch watch(progress);
    watch.SetStopsByThrowing();
    std::unique_ptr<char[]> pCopy;
    const auto parse = [&]
    {
        const char* pData = buffer.Data();
        if (bCopy && buffer.Size() > 0)
        {
            pCopy.reset(new char[buffer.Size()]);
            std::memcpy(pCopy.get(), pData, buffer.Size());
            pData = pCopy.get();
        }
        return parser.ParseBuffer(&pWorld->m_World, pData, buffer.Size());
    };
    const SLPLoadResultTypes eResult = RunLoad(parser, watch, parse);
    if (eResult != SLPLoadSuccess)
        return py::make_tuple(0, DescribeNotSLP(static_cast<long long>(buffer.Size()), bStartsAsBinary));
    return ModelOf(parser, std::move(pWorld));
}

std::string BoxText(const vemoBBox& box)
{
    return py::repr(BoxOf(box)).cast<std::string>();
}

} // namespace

CPythonWatch::CPythonWatch(py::object progress, long long nSize)
    : m_Progress(std::move(progress)), m_nSize(nSize), m_Starter(std::this_thread::get_id()),
      m_bRunsHandlers(
          py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>() ==
          PyThread_get_thread_ident())
{
}

CPythonWatch::~CPythonWatch() = default;

int CPythonWatch::Poll(int nPercentage)
{
    if (m_bStop.load(std::memory_order_relaxed))
        return EINTR;
    if (std::this_thread::get_id() != m_Starter)
        return 0;
    const bool bReport = !m_Progress.is_none() && nPercentage > m_nReported;
    if (!bReport && !m_bRunsHandlers)
        return 0;
    py::gil_scoped_acquire gil;
    try
    {
        if (m_bRunsHandlers && PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        if (bReport)
        {
            const int nGained = nPercentage - m_nReported;
            m_nReported = nPercentage;
            m_Progress(nGained);
        }
    }
    catch (...)
    {
        m_pPending = std::current_exception();
        m_bStop.store(true, std::memory_order_relaxed);
        return EINTR;
    }
    return 0;
}

namespace
{
// The percentage of the input that lies before nOffset when its size is known, else 0.
int PercentageBefore(long long nOffset, long long nSize)
{
    if (nSize <= 0 || nOffset <= 0)
        return 0;
    return nOffset >= nSize
               ? 99
               : static_cast<int>(static_cast<double>(nOffset) * 100.0 / static_cast<double>(nSize));
}
} // namespace

int CPythonWatch::BeforeRead(long long nOffset)
{
    return Poll(PercentageBefore(nOffset, m_nSize));
}

int CPythonWatch::AfterRead(long long nOffset, const char*, size_t nLength)
{
    if (m_nSize <= 0)
        return m_bStop.load(std::memory_order_relaxed) ? EINTR : 0;
    return Poll(PercentageBefore(nOffset + static_cast<long long>(nLength), m_nSize));
}

int CPythonWatch::Progress(int nPercentage)
{
    return Poll(nPercentage);
}

void CPythonWatch::Finish(bool bComplete)
{
    if (m_pPending)
        std::rethrow_exception(m_pPending);
    if (bComplete && !m_Progress.is_none() && m_nReported < 100)
    {
        const int nGained = 100 - m_nReported;
        m_nReported = 100;
        m_Progress(nGained);
    }
}

void DefineModel(py::module_& module)
{
    py::object box = py::module_::import("collections").attr("namedtuple")("Box", "min max");
    box.attr("__module__") = "slp";
    box.attr("__doc__") = "An axis-aligned box: min and max are (x, y, z) tuples of its corners.";
    module.attr("Box") = box;
    g_BoxType = box.inc_ref();

    py::class_<CMeshRef>(module, "Mesh", R"(One mesh of a loaded model: a run of facets with one colour.

The arrays are views of the loaded model's memory, not copies, and read-only. They keep the model
alive: a mesh's arrays stay valid after the model, its groups and meshes are gone.)")
        .def_property_readonly(
            "positions", [](const CMeshRef& mesh) { return TriangleView(mesh, 0); },
            R"(The vertices, float32 of shape (triangle_count, 3, 3): triangle, corner, x y z.

A view of the model's triangles, which hold three vertices and then three normals each (72 bytes,
so the byte strides are 72, 12, 4). mesh.positions.reshape(-1, 3) gives one row per corner (a copy).)")
        .def_property_readonly(
            "normals", [](const CMeshRef& mesh) { return TriangleView(mesh, offsetof(vemoTRex, m_Normal)); },
            "The normal at each vertex, in the same shape and order as positions (as written in the file, "
            "not "
            "normalised).")
        .def_property_readonly(
            "color", [](const CMeshRef& mesh) { return ColourTuple(mesh.m_Colour); },
            "The colour as (red, green, blue, alpha), as the file gives it (not clamped); opaque white when "
            "the file gives none. Each is the shortest decimal that names the same float32 (0.28, not "
            "0.2800000011920929), as the program prints it; box coordinates are given the same way.")
        .def_property_readonly(
            "triangle_count", [](const CMeshRef& mesh) { return mesh.m_pMesh->m_nTriangleCount; },
            "The number of triangles.")
        .def_property_readonly(
            "box", [](const CMeshRef& mesh) { return BoxOf(mesh.m_pMesh->GetBBox()); },
            "The mesh's Box(min, max), or None when no vertex has coordinates that are all numbers.")
        .def("__repr__",
             [](const CMeshRef& mesh)
             {
                 return "<slp.Mesh " + Count(mesh.m_pMesh->m_nTriangleCount, "triangle", "triangles") +
                        ", color " + py::repr(ColourTuple(mesh.m_Colour)).cast<std::string>() + ">";
             });

    py::class_<CGroupRef>(module, "Group",
                          "A group of a loaded model: a solid of the file, or the model's root.")
        .def_property_readonly(
            "name", [](const CGroupRef& group) { return NameOf(*group.m_pGroup); },
            "The solid's name as the file gives it (the root's is empty).")
        .def_property_readonly(
            "groups", [](const CGroupRef& group) { return ChildGroups(group.m_pWorld, *group.m_pGroup); },
            "The child groups (the solids nested in this one), in file order, as a new list.")
        .def_property_readonly(
            "meshes", [](const CGroupRef& group) { return MeshesOf(group.m_pWorld, *group.m_pGroup); },
            "The group's own meshes, in file order, as a new list.")
        .def_property_readonly(
            "box", [](const CGroupRef& group) { return BoxOf(SubtreeBox(*group.m_pWorld, *group.m_pGroup)); },
            "The Box(min, max) around the group's meshes and those of every group nested in it, or None when "
            "none of them has a vertex whose coordinates are all numbers.")
        .def("__repr__",
             [](const CGroupRef& group)
             {
                 return "<slp.Group " + py::repr(NameOf(*group.m_pGroup)).cast<std::string>() + ", " +
                        Count(group.m_pGroup->GetNumGroups(), "group", "groups") + ", " +
                        Count(static_cast<long long>(MeshesOf(group.m_pWorld, *group.m_pGroup).size()),
                              "mesh", "meshes") +
                        ">";
             });

    py::class_<CMeshIterator>(module, "MeshIterator", "Iterates (path, mesh) over every mesh of a model.")
        .def("__iter__", [](CMeshIterator& it) -> CMeshIterator& { return it; })
        .def("__next__", &CMeshIterator::Next);

    py::class_<CModel>(module, "Model", R"(A loaded SLP file: a tree of groups (one per solid, nested as the
solids nest) holding coloured triangle meshes. Made by slp.load.)")
        .def_property_readonly(
            "root",
            [](const CModel& model) {
                return CGroupRef{model.m_pWorld, &model.m_pWorld->m_World};
            },
            "The root Group, whose child groups are the file's outermost solids.")
        .def_property_readonly(
            "groups",
            [](const CModel& model) { return ChildGroups(model.m_pWorld, model.m_pWorld->m_World); },
            "The outermost solids as Groups, in file order (root.groups).")
        .def_property_readonly(
            "box", [](const CModel& model) { return BoxOf(model.m_pWorld->m_World.GetBBox()); },
            "The Box(min, max) around every mesh, or None.")
        .def_property_readonly(
            "discarded_vertices", [](const CModel& model) { return model.m_pWorld->m_nDiscardedVertices; },
            "The number of vertices the load dropped, 0 when it kept them all: runs whose normals and "
            "vertices "
            "do not pair up, a run's last vertices that make no whole triangle, facets outside a solid. "
            "slp.load warns with a DroppedGeometryWarning when it is not 0; slp.check(path) says where and "
            "why.")
        .def(
            "meshes", [](const CModel& model) { return CMeshIterator(model.m_pWorld); },
            R"(Iterates over every mesh of the model as (path, mesh) pairs, groups in file order, each before
the groups nested in it. path is the tuple of group names from the outermost solid down to the mesh's
group. The walk uses no recursion, whatever the depth.)")
        .def("__repr__",
             [](const CModel& model)
             {
                 return "<slp.Model " + Count(model.m_pWorld->m_World.GetNumGroups(), "group", "groups") +
                        ", box " + BoxText(model.m_pWorld->m_World.GetBBox()) + ">";
             });

    module.def("load", &Load, py::arg("path"), py::arg("progress"), py::arg("size") = -1,
               py::arg("threads") = 0,
               "Loads the file (path as bytes) with the GIL released: the Model, or (errno, reason) when the "
               "load failed. size: the input's size when it is a pipe the caller feeds, else -1. threads: "
               "0 or more (0 lets the loader choose). slp.load is the documented entry.");
    module.def("load_buffer", &LoadBuffer, py::arg("content"), py::arg("progress"), py::arg("copy"),
               py::arg("threads") = 0,
               "Loads a file's content from a contiguous buffer object as load loads the file, with the GIL "
               "released: in place, or from a copy when copy is true (content that may change meanwhile); "
               "not gzipped content.");
}

} // namespace slppy
