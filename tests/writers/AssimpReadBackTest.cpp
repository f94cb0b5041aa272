// The writers' output read back by an independent reader, the assimp library.
#include "ExportFixtures.h"
#include "tests/slp/WorldChecker.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>

#include <cmath>
#include <set>

namespace
{

// The world written to a file of the given name and read back; null (and a failure) when either fails.
const aiScene* WriteAndRead(Assimp::Importer& importer, const vemoBaseGroup& world, const std::string& name,
                            CExportReport* pReport = nullptr)
{
    const std::string path = OutputPath(name);
    const CExportReport report = ExportWorld(world, path, ExportFormatFromPath(path));
    EXPECT_EQ(report.m_eResult, ExportSuccess) << path << ": " << report.m_strMessage;
    if (pReport != nullptr)
        *pReport = report;
    const aiScene* pScene = importer.ReadFile(path, 0);
    EXPECT_NE(pScene, nullptr) << path << ": " << importer.GetErrorString();
    return pScene;
}

std::string DiffuseOf(const aiScene& scene, const aiMesh& mesh)
{
    aiColor4D c(0, 0, 0, 1);
    aiGetMaterialColor(scene.mMaterials[mesh.mMaterialIndex], AI_MATKEY_COLOR_DIFFUSE, &c);
    return DescribeColor(vemoChroma(c.r, c.g, c.b, c.a));
}

// The glTF scene in the form of DescribeWorld: the root node stands for the world; a node with a
// mesh stands for a mesh object, any other node for a group.
std::string DescribeGltfScene(const aiScene& scene)
{
    std::ostringstream out;
    std::vector<std::pair<const aiNode*, int>> pending;
    for (unsigned i = scene.mRootNode->mNumChildren; i-- > 0;)
        pending.emplace_back(scene.mRootNode->mChildren[i], 0);
    while (!pending.empty())
    {
        const aiNode* pNode = pending.back().first;
        const int nDepth = pending.back().second;
        pending.pop_back();
        const std::string indent(2 * static_cast<size_t>(nDepth), ' ');
        if (pNode->mNumMeshes == 1 && pNode->mNumChildren == 0)
        {
            const aiMesh& mesh = *scene.mMeshes[pNode->mMeshes[0]];
            out << indent << "mesh " << mesh.mNumFaces << " colour " << DiffuseOf(scene, mesh) << '\n';
            continue;
        }
        out << indent << "group " << pNode->mName.C_Str() << '\n';
        for (unsigned i = pNode->mNumChildren; i-- > 0;)
            pending.emplace_back(pNode->mChildren[i], nDepth + 1);
    }
    return out.str();
}

// Every triangle of the model, groups breadth first, as the single-mesh formats hold them.
std::vector<std::pair<const vemoTRex*, vemoChroma>> TrianglesInOrder(const vemoBaseGroup& world)
{
    std::vector<std::pair<const vemoTRex*, vemoChroma>> triangles;
    std::vector<const vemoBaseGroup*> groups(1, &world);
    for (size_t g = 0; g < groups.size(); ++g)
    {
        for (int i = 0; i < groups[g]->GetNumGroups(); ++i)
            groups.push_back(groups[g]->GetGroup(i));
        for (int i = 0; i < groups[g]->GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(groups[g]->GetObject(i));
            for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
                triangles.emplace_back(&pMesh->m_pTriangles[t],
                                       groups[g]->GetObjectMaterial(i)->m_Front.GetDiffuse());
        }
    }
    return triangles;
}

} // namespace

TEST(AssimpReadBackTest, GltfKeepsGroupTreeNamesTrianglesAndColours)
{
    for (const char* pszFixture : {"nested_solids.slp", "colour_runs.slp", "awkward_names.slp",
                                   "float_round_trip.slp", "../../examples/desk_lamp.slp"})
        for (const char* pszName : {"round_trip.glb", "round_trip.gltf"})
        {
            auto pWorld = LoadFixture(pszFixture);
            Assimp::Importer importer;
            const aiScene* pScene = WriteAndRead(importer, *pWorld, pszName);
            ASSERT_NE(pScene, nullptr);
            EXPECT_EQ(DescribeGltfScene(*pScene), DescribeWorld(*pWorld)) << pszFixture << " as " << pszName;
        }
}

TEST(AssimpReadBackTest, ObjKeepsGroupPathsTrianglesAndColours)
{
    // Each "o" and "g" line makes a node of the root (the "o" node stays empty): a line per group that
    // holds meshes, with its path, its triangles and its colours.
    const std::pair<const char*, const char*> cases[] = {
        {"nested_solids.slp", "assembly: 2 {1 1 1 1}\nassembly/wheel: 2 {1 1 1 1}\n"
                              "assembly/wheel/hub: 1 {1 1 1 1}\nlid: 1 {1 1 1 1}\n"},
        {"colour_runs.slp", "painted: 3 {0.5 1 0.25 1, 1 1 1 1}\n"}};
    for (const auto& [pszFixture, pszExpected] : cases)
    {
        Assimp::Importer importer;
        const aiScene* pScene = WriteAndRead(importer, *LoadFixture(pszFixture), "read_back.obj");
        ASSERT_NE(pScene, nullptr);
        std::string text;
        for (unsigned n = 0; n < pScene->mRootNode->mNumChildren; ++n)
        {
            const aiNode& node = *pScene->mRootNode->mChildren[n];
            unsigned nTriangles = 0;
            std::set<std::string> colours;
            for (unsigned m = 0; m < node.mNumMeshes; ++m)
            {
                nTriangles += pScene->mMeshes[node.mMeshes[m]]->mNumFaces;
                colours.insert(DiffuseOf(*pScene, *pScene->mMeshes[node.mMeshes[m]]));
            }
            std::string line = std::string(node.mName.C_Str()) + ": " + std::to_string(nTriangles) + " {";
            for (const std::string& colour : colours)
                line += (line.back() == '{' ? "" : ", ") + colour;
            text += nTriangles > 0 ? line + "}\n" : "";
        }
        EXPECT_EQ(text, pszExpected) << pszFixture;
    }
}

TEST(AssimpReadBackTest, PlyAndStlKeepEveryTriangleInOrder)
{
    auto pWorld = LoadFixture("../../examples/desk_lamp.slp");
    const auto triangles = TrianglesInOrder(*pWorld);
    for (const char* pszName : {"read_back.ply", "read_back.stl"})
    {
        Assimp::Importer importer;
        CExportReport report;
        const aiScene* pScene = WriteAndRead(importer, *pWorld, pszName, &report);
        ASSERT_NE(pScene, nullptr);
        ASSERT_EQ(pScene->mNumMeshes, 1u) << pszName;
        const aiMesh& mesh = *pScene->mMeshes[0];
        ASSERT_EQ(mesh.mNumFaces, triangles.size()) << pszName;
        const bool bPly = ExportFormatFromPath(pszName) == ExportFormatPly;
        if (bPly)
        {
            ASSERT_NE(mesh.mColors[0], nullptr);
            EXPECT_EQ(mesh.mNumVertices, static_cast<unsigned>(report.m_nVertices));
        }
        for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        {
            ASSERT_EQ(mesh.mFaces[f].mNumIndices, 3u);
            for (unsigned k = 0; k < 3; ++k)
            {
                const aiVector3D& read = mesh.mVertices[mesh.mFaces[f].mIndices[k]];
                const vemoFloatPoint& v = triangles[f].first->m_Vertex[k];
                ASSERT_TRUE(read.x == v.x && read.y == v.y && read.z == v.z) << pszName << " face " << f;
            }
            if (bPly)
            {
                const aiColor4D& c = mesh.mColors[0][mesh.mFaces[f].mIndices[0]];
                const vemoChroma& expected = triangles[f].second;
                EXPECT_NEAR(c.r, std::round(expected.red * 255) / 255, 1e-6) << "face " << f;
                EXPECT_NEAR(c.g, std::round(expected.green * 255) / 255, 1e-6) << "face " << f;
                EXPECT_NEAR(c.b, std::round(expected.blue * 255) / 255, 1e-6) << "face " << f;
            }
        }
    }
}
