// A minimal host of the SLP loader: loads the file given on its command line with a progress callback
// and prints each group's name and its triangle count.
#include "model/GroupWalk.h"
#include "slp/SLPParser.h"

#include <cstdio>

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
    // a vemoSTL, with its material. Files may nest a million solids deep: CGroupWalk visits every
    // group, each before its children, without recursion.
    for (CGroupWalk walk(world); walk.Next();)
    {
        const vemoBaseGroup& group = walk.GetGroup();
        long long nTriangles = 0;
        for (int i = 0; i < group.GetNumObjects(); ++i)
            if (const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i)))
                nTriangles += pMesh->m_nTriangleCount;
        if (walk.GetDepth() > 0)
            std::printf("%s: %lld triangles\n",
                        CBasicString(group.GetGroupName().GetText()).GetNarrowString(), nTriangles);
    }
    return 0;
}
