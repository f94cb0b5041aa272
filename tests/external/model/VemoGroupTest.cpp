#include "external/model/KarnGroup.h"
#include "external/model/KarnStl.h"
#include "external/model/KarnWorld.h"

#include <gtest/gtest.h>

#include <memory>

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
    EXPECT_EQ(nDestroyed, 2); // the owned objects; the borrowed one survives
    EXPECT_TRUE(childLife.expired());
    EXPECT_FALSE(borrowedGroup.GetLifeToken().expired());
    EXPECT_EQ(borrowedObject.GetOwnerGroup(), nullptr);
    EXPECT_EQ(borrowedGroup.GetParent(), nullptr);
}

TEST(VemoGroupTest, MaterialRecordsAreCopiesAndBoxesMerge)
{
    CKarnWorld world;
    vemoMatProps props;
    props.m_Front.SetDiffuse(vemoChroma(0.75f, 0.5f, 0.25f, 1.0f));
    props.m_nMode = 2;
    auto* pMesh = new CKarnStl;
    pMesh->m_nTriangleCount = 1;
    pMesh->m_pTriangles = new vemoTRex[1];
    pMesh->m_pTriangles[0].m_Vertex[0] = vemoFloatPoint(-2.0f, 1.0f, 1.0f);
    pMesh->ComputeBBoxFromPoints();
    ASSERT_TRUE(world.AddObject(pMesh, props, 1));
    const vemoMatProps* pStored = world.GetObjectMaterial(0);
    props.m_nMode = 0;
    for (int i = 0; i < 100; ++i) // the first record must stay where it is while more are added
        ASSERT_TRUE(world.AddObject(new CKarnStl, props, 1));
    ASSERT_EQ(world.GetObjectMaterial(0), pStored);
    EXPECT_EQ(pStored->m_Front.GetDiffuse().red, 0.75f);
    EXPECT_EQ(pStored->m_nMode, 2);
    EXPECT_EQ(world.GetObjectMaterial(1)->m_nMode, 0);
    EXPECT_EQ(world.GetObject(0), pMesh);

    // The mesh's box, taken when it was added, merged with another.
    vemoBBox extra;
    extra.Update(vemoFloatPoint(3.0f, -7.0f, 0.5f));
    world.UpdateBBox(extra);
    EXPECT_EQ(world.GetBBox().GetMin().x, -2.0f);
    EXPECT_EQ(world.GetBBox().GetMax().x, 3.0f);
}

TEST(VemoGroupTest, MillionDeepTreeIsBuiltWalkedAndDestroyedWithoutRecursion)
{
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
    int nDepth = 0;
    const vemoBaseGroup* pGroup = pWorld.get();
    for (; pGroup->GetNumGroups() == 1; ++nDepth)
        pGroup = pGroup->GetGroup(0);
    EXPECT_EQ(nDepth, kDepth);
    EXPECT_EQ(pGroup, pDeepest);

    // Grafting built subtrees bottom-up (each a new root over the previous chain) stays linear too.
    auto pRoot = std::make_unique<CKarnGroup>();
    for (int i = 0; i < kDepth / 4; ++i)
    {
        auto pNewRoot = std::make_unique<CKarnGroup>();
        ASSERT_TRUE(pNewRoot->AddGroup(pRoot.release(), 1));
        pRoot = std::move(pNewRoot);
    }
    pRoot.reset();
    pWorld.reset();
    EXPECT_EQ(nDestroyed, 1);
}
