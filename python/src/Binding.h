// What the two files of the module slp._slp share: the loaded model as the module's objects hold it.
#pragma once

#include "slp/SLPParser.h"

#include <pybind11/pybind11.h>

#include <memory>

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
};
using WorldRef = std::shared_ptr<const CLoadedWorld>;

// What slp.load returns.
struct CModel
{
    WorldRef m_pWorld;
};

// Defines Box, Model, Group, Mesh, the mesh iterator and load in the module.
void DefineModel(py::module_& module);

} // namespace slppy
