// The geometry of a load: the points and normals of the current run, collected in arrays (or, once a
// host asked for them, in the lists), and the flush that turns them into a mesh of the current group.
#include "slp/SLPParser.h"

#include <climits>
#include <memory>
#include <new>
#include <vector>

// ---------------------------------------------------------------------------------------------------
// The geometry flush

bool CSLPParser::FlushGeometryToWorld()
{
    bool bResult = false;
    CKarnGroup* pGroup = GetCurrentGroup();
    // What was collected, in the array or, once a host asked for it, in the list.
    const size_t nPoints = m_CollectedPoints.GetCount() + static_cast<size_t>(m_PointList.GetCount());
    const size_t nNormals = m_CollectedNormals.GetCount() + static_cast<size_t>(m_NormalList.GetCount());
    if (pGroup != nullptr && nPoints > 0 && nNormals == nPoints)
    {
        std::unique_ptr<CKarnStl> pMesh(new CKarnStl());
        if (nPoints / 3 > static_cast<size_t>(INT_MAX))
            throw std::bad_alloc(); // a triangle count the model cannot hold; far beyond any memory
        const int nFacets = static_cast<int>(nPoints / 3);
        pMesh->SetDecimationMagnitude(GetDecimationMagnitude());
        if (nFacets > 0)
        {
            vemoMatProps props;
            const vemoChroma color = GetCurrentColor();
            pMesh->m_pTriangles = new vemoTRex[static_cast<size_t>(nFacets)];
            pMesh->m_nTriangleCount = nFacets;
            FillTriangles(pMesh->m_pTriangles, nFacets);

            // The box of a long run in parts on the threads that read the file, when there are, merged
            // in order (which gives the box of the whole).
            const size_t nParts = nFacets >= 65536 ? 8 : 1;
            std::vector<vemoBBox> boxes(nParts);
            const size_t nPer = (static_cast<size_t>(nFacets) + nParts - 1) / nParts;
            m_IOManager.ShareWork(
                nParts,
                [&](size_t k)
                {
                    const size_t nFirst =
                        k * nPer < static_cast<size_t>(nFacets) ? k * nPer : static_cast<size_t>(nFacets);
                    const size_t nEnd = nFirst + nPer < static_cast<size_t>(nFacets)
                                            ? nFirst + nPer
                                            : static_cast<size_t>(nFacets);
                    boxes[k] = vemoSTL::BoxOfTriangles(pMesh->m_pTriangles + nFirst, nEnd - nFirst);
                });
            // Each part's least and greatest vertex are given to the box in order, as the vertices
            // themselves would be: a value that only equals the box's (a zero of the other sign) leaves it.
            vemoBBox box;
            for (const vemoBBox& part : boxes)
                if (!part.IsEmpty())
                {
                    box.Update(part.GetMin());
                    box.Update(part.GetMax());
                }
            pMesh->SetBBox(box);
            GetEstimatedBoundingBox().Update(pMesh->GetBBox());

            props.m_nMode = 2;
            props.m_Front.SetDiffuse(color);
            props.m_Back.SetDiffuse(color);
            props.m_Front.SetShininess(64.0f);
            props.m_Back.SetShininess(64.0f);
            if (pGroup->AddObject(pMesh.get(), props, 1))
            {
                pMesh.release();
                bResult = true;
            }
        }
    }
    m_nDiscardedPoints += static_cast<long long>(bResult ? nPoints % 3 : nPoints);
    ClearPointList();
    ClearNormalList();
    return bResult;
}

void CSLPParser::FillTriangles(vemoTRex* pTriangles, int nFacets)
{
    if (!m_bPointsListed && !m_bNormalsListed && m_PointList.GetCount() == 0 && m_NormalList.GetCount() == 0)
    {
        // The common case: triangle i takes points and normals 3i to 3i+2 of the arrays, which hold as
        // many of each and so have the same chunks, none of which splits a triangle. A chunk at a time,
        // on the threads that read the file when there are (a long run's copy, and the first touch of
        // its memory, are a visible share of a load).
        const size_t nChunks = m_CollectedPoints.ChunkCount();
        std::vector<size_t> firstTriangles(nChunks + 1, 0);
        for (size_t k = 0; k < nChunks; ++k)
            firstTriangles[k + 1] = firstTriangles[k] + m_CollectedPoints.ChunkSize(k) / 3;
        const size_t nTotal = static_cast<size_t>(nFacets);
        const auto fillChunk = [&](size_t k)
        {
            const size_t nFirst = firstTriangles[k] < nTotal ? firstTriangles[k] : nTotal;
            const size_t nEnd = firstTriangles[k + 1] < nTotal ? firstTriangles[k + 1] : nTotal;
            const vemoFloatPoint* pPoint = m_CollectedPoints.ChunkData(k);
            const vemoVector* pNormal = m_CollectedNormals.ChunkData(k);
            for (vemoTRex* pTriangle = pTriangles + nFirst; pTriangle < pTriangles + nEnd;
                 ++pTriangle, pPoint += 3, pNormal += 3)
            {
                pTriangle->m_Vertex[0] = pPoint[0];
                pTriangle->m_Vertex[1] = pPoint[1];
                pTriangle->m_Vertex[2] = pPoint[2];
                pTriangle->m_Normal[0] = pNormal[0];
                pTriangle->m_Normal[1] = pNormal[1];
                pTriangle->m_Normal[2] = pNormal[2];
            }
        };
        if (nTotal >= 65536)
            m_IOManager.ShareWork(nChunks, fillChunk);
        else
            for (size_t k = 0; k < nChunks; ++k)
                fillChunk(k);
        return;
    }
    // A host has the lists: the same walk over them, each iterator stepping on only where it had an item.
    ListCollectedPoints();
    ListCollectedNormals();
    CBasicListIterator points(&m_PointList);
    CBasicListIterator normals(&m_NormalList);
    for (int i = 0; i < nFacets; ++i)
    {
        vemoTRex& triangle = pTriangles[i];
        for (vemoFloatPoint& vertex : triangle.m_Vertex)
        {
            if (void* pItem = points.GetData())
            {
                vertex = *static_cast<vemoFloatPoint*>(pItem);
                points++;
            }
        }
        for (vemoVector& normal : triangle.m_Normal)
        {
            if (void* pItem = normals.GetData())
            {
                normal = *static_cast<vemoVector*>(pItem);
                normals++;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// The collection

void CSLPParser::AddPointToList(vemoFloatPoint& point)
{
    if (m_bPointsListed)
        m_PointList.AddTailCopy(&point);
    else
        m_CollectedPoints.Add(point);
}

void CSLPParser::AddNormalToList(vemoVector& normal)
{
    if (m_bNormalsListed)
        m_NormalList.AddTailCopy(&normal);
    else
        m_CollectedNormals.Add(normal);
}

namespace
{
// Empties a collection array; the storage of a long run is given back, a short run's is kept for the
// next one.
template <class T> void ClearCollected(CSLPCollectedArray<T>& items)
{
    items.Clear(1 << 20);
}

// Appends the array's items to the list, in order, and empties the array. When memory runs out on
// the way, the items already in the list leave the array, so none is held twice.
template <class T> void MoveIntoList(CSLPCollectedArray<T>& items, CKarnList& list)
{
    size_t nMoved = 0;
    try
    {
        for (size_t k = 0; k < items.ChunkCount(); ++k)
        {
            const T* const pItems = items.ChunkData(k);
            for (size_t i = 0; i < items.ChunkSize(k); ++i, ++nMoved)
                list.AddTailCopy(const_cast<T*>(pItems + i));
        }
    }
    catch (...)
    {
        items.RemoveFront(nMoved);
        throw;
    }
    ClearCollected(items);
}
} // namespace

void CSLPParser::ClearPointList()
{
    m_PointList.DeleteAll();
    ClearCollected(m_CollectedPoints);
    m_bPointsListed = false;
}

void CSLPParser::ClearNormalList()
{
    m_NormalList.DeleteAll();
    ClearCollected(m_CollectedNormals);
    m_bNormalsListed = false;
}

void CSLPParser::ListCollectedPoints()
{
    MoveIntoList(m_CollectedPoints, m_PointList);
    m_bPointsListed = true;
}

void CSLPParser::ListCollectedNormals()
{
    MoveIntoList(m_CollectedNormals, m_NormalList);
    m_bNormalsListed = true;
}

CKarnList* CSLPParser::GetPointList()
{
    ListCollectedPoints();
    return &m_PointList;
}

CKarnList* CSLPParser::GetNormalList()
{
    ListCollectedNormals();
    return &m_NormalList;
}
