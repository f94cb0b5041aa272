#include "model/GroupWalk.h"
#include "model/KarnGroup.h"
#include "model/KarnStl.h"
#include "model/KarnWorld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace
{

// An object that counts its destructions, to see who destroyed what.
struct CountedObject : vemoBaseObject
{
    explicit CountedObject(int& nDestroyed) : m_nDestroyed(nDestroyed) {}
    ~CountedObject() override { ++m_nDestroyed; }
    int& m_nDestroyed;
};

} // namespace

TEST(VemoGroupTest, OwnershipRefusalsAndDestruction)
{
    int nDestroyed = 0;
    CountedObject borrowedObject(nDestroyed);
    CKarnGroup borrowedGroup;
    std::weak_ptr<const void> childLife;
    {
        CKarnWorld world;
        auto* pChild = new CKarnGroup;
        ASSERT_TRUE(world.AddGroup(pChild, 1));
        EXPECT_EQ(pChild->GetParent(), &world);
        childLife = pChild->GetLifeToken();
        EXPECT_TRUE(world.AddGroup(&borrowedGroup, 0));
        EXPECT_FALSE(world.AddGroup(nullptr, 1) || world.AddGroup(&world, 1));
        EXPECT_FALSE(pChild->AddGroup(&borrowedGroup, 1)); // already has a parent
        auto* pGrandChild = new CKarnGroup;
        ASSERT_TRUE(pChild->AddGroup(pGrandChild, 2));  // any non-zero value gives ownership
        EXPECT_FALSE(pGrandChild->AddGroup(&world, 1)); // would close a cycle
        EXPECT_EQ(world.GetNumGroups(), 2);
        EXPECT_EQ(world.GetGroup(1), &borrowedGroup);
        EXPECT_EQ(world.GetGroup(2), world.GetGroup(-1));
        EXPECT_TRUE(world.OwnsGroup(0) && !world.OwnsGroup(1));

        const vemoMatProps props;
        EXPECT_FALSE(world.AddObject(nullptr, props, 1));
        ASSERT_TRUE(pGrandChild->AddObject(new CountedObject(nDestroyed), props, 1));
        ASSERT_TRUE(pChild->AddObject(&borrowedObject, props, 0));
        EXPECT_FALSE(world.AddObject(&borrowedObject, props, 1)); // already held by a group
        EXPECT_TRUE(pGrandChild->OwnsObject(0) && !pChild->OwnsObject(0));

        // A group deleted directly leaves its parent's list, and an object its group's list.
        auto* pLoose = new CKarnGroup;
        ASSERT_TRUE(pChild->AddGroup(pLoose, 1));
        auto* pLooseObject = new CountedObject(nDestroyed);
        ASSERT_TRUE(pLoose->AddObject(pLooseObject, props, 1));
        delete pLooseObject;
        EXPECT_EQ(pLoose->GetNumObjects(), 0);
        delete pLoose;
        EXPECT_EQ(pChild->GetNumGroups(), 1);
        EXPECT_FALSE(childLife.expired());
    }
    EXPECT_EQ(nDestroyed, 2); // the owned object and the one deleted directly; not the borrowed one
    EXPECT_TRUE(childLife.expired());
    EXPECT_FALSE(borrowedGroup.GetLifeToken().expired());
    EXPECT_EQ(borrowedObject.GetOwnerGroup(), nullptr);
    EXPECT_EQ(borrowedGroup.GetParent(), nullptr);
}

TEST(VemoGroupTest, MeshBoxesMaterialRecordsAndGroupBoxes)
{
    // A mesh's box covers every vertex (not the normals) of the triangles it counts.
    auto* pMesh = new CKarnStl;
    pMesh->m_nTriangleCount = 2;
    pMesh->m_pTriangles = new vemoTRex[2];
    pMesh->m_pTriangles[0].m_Vertex[1] = vemoFloatPoint(-1.0f, 2.0f, 3.0f);
    pMesh->m_pTriangles[1].m_Vertex[2] = vemoFloatPoint(4.0f, -5.0f, 6.0f);
    pMesh->m_pTriangles[1].m_Normal[0] = vemoVector(100.0f, 100.0f, 100.0f);
    pMesh->ComputeBBoxFromPoints();
    EXPECT_EQ(pMesh->GetBBox().GetMax().x, 4.0f);
    EXPECT_EQ(pMesh->GetBBox().GetMin().y, -5.0f);
    pMesh->m_nTriangleCount = 1;
    pMesh->ComputeBBoxFromPoints();
    EXPECT_EQ(pMesh->GetBBox().GetMax().x, 0.0f);
    EXPECT_EQ(pMesh->GetBBox().GetMax().z, 3.0f);

    // A group keeps its own copy of each material record, which stays where it is while more are added;
    // the group's box takes in the mesh's box as it was when added, and boxes merged later.
    CKarnWorld world;
    vemoMatProps props;
    props.m_nMode = 2;
    ASSERT_TRUE(world.AddObject(pMesh, props, 1));
    const vemoMatProps* pStored = world.GetObjectMaterial(0);
    props.m_nMode = 0;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(world.AddObject(new CKarnStl, props, 1));
    EXPECT_EQ(world.GetObjectMaterial(0), pStored);
    EXPECT_EQ(pStored->m_nMode, 2);
    vemoBBox extra;
    extra.Update(vemoFloatPoint(3.0f, -7.0f, 0.5f));
    world.UpdateBBox(extra);
    EXPECT_EQ(world.GetBBox().GetMin().x, -1.0f);
    EXPECT_EQ(world.GetBBox().GetMin().y, -7.0f);
}

TEST(VemoGroupTest, MillionDeepTreeIsBuiltAndDestroyedWithoutRecursion)
{
    // Adding a fresh group takes no walk up the tree, and destruction takes no recursion.
    constexpr int kDepth = 1000000;
    int nDestroyed = 0;
    auto pWorld = std::make_unique<CKarnWorld>();
    CKarnGroup* pDeepest = pWorld.get();
    for (int i = 0; i < kDepth; ++i)
    {
        auto* pChild = new CKarnGroup;
        ASSERT_TRUE(pDeepest->AddGroup(pChild, 1));
        pDeepest = pChild;
    }
    ASSERT_TRUE(pDeepest->AddObject(new CountedObject(nDestroyed), vemoMatProps(), 1));
    // The walk goes down and back up the whole chain without recursion.
    int nSteps = 0;
    int nDeepest = 0;
    for (CGroupWalk walk(*pWorld, true); walk.Next(); ++nSteps)
        nDeepest = std::max(nDeepest, walk.GetDepth());
    EXPECT_EQ(nSteps, 2 * (kDepth + 1));
    EXPECT_EQ(nDeepest, kDepth);
    pWorld.reset();
    EXPECT_EQ(nDestroyed, 1);
}

TEST(VemoGroupTest, WalksEnterGroupsBeforeTheirChildrenAndLeaveThemAfter)
{
    // a(b(d), c) under the world: entered in order, left after their children; depth, path and a
    // skipped subtree as the walk reports them.
    CKarnWorld world;
    CKarnGroup* aGroups[4];
    for (CKarnGroup*& pGroup : aGroups)
        pGroup = new CKarnGroup;
    world.AddGroup(aGroups[0], 1);
    aGroups[0]->AddGroup(aGroups[1], 1);
    aGroups[0]->AddGroup(aGroups[2], 1);
    aGroups[1]->AddGroup(aGroups[3], 1);
    const auto Name = [&](const vemoBaseGroup& group)
    {
        for (int i = 0; i < 4; ++i)
            if (&group == aGroups[i])
                return std::string(1, static_cast<char>('a' + i));
        return std::string("w");
    };
    for (const bool bSkipB : {false, true})
    {
        std::string steps;
        for (CGroupWalk walk(world, true); walk.Next();)
        {
            steps +=
                (walk.IsEntering() ? "+" : "-") + Name(walk.GetGroup()) + std::to_string(walk.GetDepth());
            EXPECT_EQ(walk.GetPath().back(), &walk.GetGroup());
            EXPECT_EQ(walk.GetPath().front(), &world);
            if (bSkipB && walk.IsEntering() && &walk.GetGroup() == aGroups[1])
                walk.SkipChildren();
        }
        EXPECT_EQ(steps, bSkipB ? "+w0+a1+b2-b2+c2-c2-a1-w0" : "+w0+a1+b2+d3-d3-b2+c2-c2-a1-w0");
    }
    std::string entered;
    for (CGroupWalk walk(*aGroups[0]); walk.Next();)
        entered += Name(walk.GetGroup());
    EXPECT_EQ(entered, "abdc");
}
