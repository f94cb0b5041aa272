// The group stack of a load: the solids that are open, and the check that groups kept from an earlier
// load (or set by the host) still exist in the world being loaded.
#include "slp/SLPParser.h"

#include <unordered_set>
#include <vector>

// ---------------------------------------------------------------------------------------------------
// The group stack

void CSLPParser::PushGroup(CKarnGroup* pGroup)
{
    if (AttachGroup(pGroup))
        RecordGroup(pGroup);
}

bool CSLPParser::AttachGroup(CKarnGroup* pGroup)
{
    if (pGroup == nullptr)
        return false;
    CKarnGroup* pParent = GetParentGroup();
    if (pParent == nullptr)
        return false;
    if (!pParent->AddGroup(pGroup, 1))
        return false;
    m_GroupStack.AddHead(pGroup);
    m_pCurrentGroup = pGroup;
    return true;
}

void CSLPParser::SetCurrentGroup(CKarnGroup* pGroup)
{
    RecordGroup(pGroup);
    m_pCurrentGroup = pGroup;
}

void CSLPParser::PopGroup()
{
    m_GroupStack.RemoveHead();
    if (m_GroupStack.GetCount() >= 1)
        m_pCurrentGroup = static_cast<CKarnGroup*>(m_GroupStack.GetHead());
    else
        m_pCurrentGroup = nullptr;
}

void CSLPParser::ClearGroupStack()
{
    m_GroupStack.RemoveAll();
}

CKarnGroup* CSLPParser::GetParentGroup()
{
    if (m_pCurrentGroup != nullptr)
        return m_pCurrentGroup;
    return m_pWorld;
}

// ---------------------------------------------------------------------------------------------------
// Groups kept between loads

void CSLPParser::DropStaleGroups()
{
    if (m_pCurrentGroup == nullptr && m_GroupStack.GetCount() == 0)
    {
        m_GroupTokens.clear();
        return;
    }
    // A group passes when its token says it still exists (a group without a token, put on the stack
    // list by the host, is taken as live) and its chain of parents ends at the world being loaded.
    // Groups already known to be in the world end the walk up, so a stack a million groups deep costs
    // one walk up its chain, not one per group.
    std::unordered_set<const vemoBaseGroup*> inWorld;
    inWorld.insert(m_pWorld);
    std::vector<const vemoBaseGroup*> path;
    auto isLive = [&](const CKarnGroup* pGroup)
    {
        const auto token = m_GroupTokens.find(pGroup);
        if (token != m_GroupTokens.end() && token->second.expired())
            return false;
        path.clear();
        const vemoBaseGroup* pStep = pGroup;
        while (pStep != nullptr && inWorld.count(pStep) == 0)
        {
            path.push_back(pStep);
            pStep = pStep->GetParent();
        }
        if (pStep == nullptr)
            return false;
        inWorld.insert(path.begin(), path.end());
        return true;
    };
    bool bLive = m_pCurrentGroup == nullptr || isLive(m_pCurrentGroup);
    for (CBasicListElement* pElement = m_GroupStack.GetFirstElement(); bLive && pElement != nullptr;
         pElement = m_GroupStack.GetNextElement())
        bLive = isLive(static_cast<const CKarnGroup*>(pElement->m_pData));
    if (!bLive)
    {
        ClearGroupStack();
        m_pCurrentGroup = nullptr;
        m_GroupTokens.clear();
    }
}

void CSLPParser::RecordOpenGroups()
{
    m_GroupTokens.clear();
    RecordGroup(m_pCurrentGroup);
    for (CBasicListElement* pElement = m_GroupStack.GetFirstElement(); pElement != nullptr;
         pElement = m_GroupStack.GetNextElement())
        RecordGroup(static_cast<const CKarnGroup*>(pElement->m_pData));
}

void CSLPParser::RecordGroup(const CKarnGroup* pGroup)
{
    if (pGroup != nullptr)
        m_GroupTokens[pGroup] = pGroup->GetLifeToken();
}
