// A minimal host of the SLP loader: loads the file given on its command line with a progress callback
// and prints each group's name and its triangle count.
#include "slp/SLPParser.h"

#include <cstdio>
#include <vector>

static void SLP_STDCALL OnProgress(int nPercentage)
{
    std::fprintf(stderr, "\r%3d%%", nPercentage);
}

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    CKarnWorld world;
    CSLPParser parser;
    parser.SetFileName(CBasicString(argv[1]));
    parser.SetLoaderPtr(&OnProgress);
    const SLPLoadResultTypes eResult = parser.Parse(&world);
    std::fprintf(stderr, "\n");
    if (eResult != SLPLoadSuccess)
        return 1;

    // Each solid is a group (nested solids are child groups); each run of facets is a mesh object,
    // a vemoSTL, with its material. Files may nest deeply: walk with a stack, not recursion.
    std::vector<const vemoBaseGroup*> pending(1, &world);
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back();
        pending.pop_back();
        long long nTriangles = 0;
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
            if (const auto* pMesh = dynamic_cast<const vemoSTL*>(pGroup->GetObject(i)))
                nTriangles += pMesh->m_nTriangleCount;
        if (pGroup != &world)
            std::printf("%s: %lld triangles\n",
                        CBasicString(pGroup->GetGroupName().GetText()).GetNarrowString(), nTriangles);
        for (int i = pGroup->GetNumGroups() - 1; i >= 0; --i)
            pending.push_back(pGroup->GetGroup(i));
    }
    return 0;
}
