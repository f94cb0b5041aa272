// A Windows host's view: windows.h, in full and before the loader's header, as many hosts include it.
// Its macros LoadString and GetObject must not rename the members a host calls.
#include <windows.h>

#include "slp/SLPParser.h"

#include <gtest/gtest.h>

#include <string>

TEST(WindowsHostTest, MembersSurviveTheSystemMacros)
{
    CKarnWorld world;
    CSLPParser parser;
    parser.SetFileName(CBasicString(SLP_TEST_DATA_DIR "/nested_solids.slp"));
    ASSERT_EQ(parser.Parse(&world), SLPLoadSuccess);
    const vemoBaseGroup* pAssembly = world.GetGroup(0);
    ASSERT_NE(pAssembly, nullptr);
    // GetObject is GetObjectW or GetObjectA here; both reach the same member.
    const vemoBaseGroup* pWithMesh = pAssembly->GetGroup(0);
    ASSERT_NE(pWithMesh, nullptr);
    const vemoSTL* pMesh = dynamic_cast<const vemoSTL*>(pWithMesh->GetObject(0));
    ASSERT_NE(pMesh, nullptr);
    EXPECT_EQ(pMesh->m_nTriangleCount, 2);
    EXPECT_EQ(pWithMesh->GetObjectA(0), pWithMesh->GetObjectW(0));
    EXPECT_EQ(pWithMesh->GetObject(1), nullptr);

    // LoadString likewise; the test program has no string resources, so every load is refused.
    CBasicString text("keep");
    EXPECT_FALSE(text.LoadString(1, GetModuleHandleW(nullptr)));
    EXPECT_FALSE(text.LoadStringW(1, nullptr));
    EXPECT_TRUE(text == "keep");
}
