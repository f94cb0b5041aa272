#include "model/VemoGroup.h"

#include <utility>

vemoBaseGroup::vemoBaseGroup() : m_pParent(nullptr), m_pNextDoomed(nullptr) {}

vemoBaseGroup::~vemoBaseGroup()
{
    if (m_pParent != nullptr)
        m_pParent->ForgetChild(this);

    // The owned subtree is torn down from an explicit stack threaded through the doomed groups
    // themselves: recursion would follow the depth of the tree, and a separate work list could fail to
    // allocate inside a destructor. Each group is emptied before it is deleted, so its own destructor
    // finds nothing left to do.
    vemoBaseGroup* pDoomed = nullptr;
    ReleaseContents(pDoomed);
    while (pDoomed != nullptr)
    {
        vemoBaseGroup* pGroup = pDoomed;
        pDoomed = pGroup->m_pNextDoomed;
        pGroup->m_pNextDoomed = nullptr;
        pGroup->ReleaseContents(pDoomed);
        delete pGroup;
    }
}

void vemoBaseGroup::ReleaseContents(vemoBaseGroup*& pDoomed)
{
    for (ObjectEntry& entry : m_Objects)
    {
        // Cleared first, so the object's destructor does not search this group for itself.
        entry.pObject->m_pOwnerGroup = nullptr;
        if (entry.bOwned)
            delete entry.pObject;
    }
    m_Objects.clear();

    for (const GroupEntry& entry : m_Groups)
    {
        entry.pGroup->m_pParent = nullptr;
        if (entry.bOwned)
        {
            entry.pGroup->m_pNextDoomed = pDoomed;
            pDoomed = entry.pGroup;
        }
    }
    m_Groups.clear();
}

bool vemoBaseGroup::AddObject(vemoBaseObject* pObject, const vemoMatProps& props, vemoBool bOwn)
{
    if (pObject == nullptr || pObject->m_pOwnerGroup != nullptr)
        return false;
    // Both allocations happen before anything is linked, so a failure leaves everything as it was.
    std::unique_ptr<vemoMatProps> pProps(new vemoMatProps(props));
    m_Objects.push_back(ObjectEntry{pObject, std::move(pProps), bOwn != 0});
    pObject->m_pOwnerGroup = this;
    m_BBox.Update(pObject->GetBBox());
    return true;
}

bool vemoBaseGroup::AddChildGroup(vemoBaseGroup* pChild, vemoBool bOwn)
{
    if (pChild == nullptr || pChild == this || pChild->m_pParent != nullptr)
        return false;
    // Only a group with children can be an ancestor of this one; a fresh group (the common case while
    // a model is built top-down) needs no walk up the tree.
    if (!pChild->m_Groups.empty())
    {
        for (const vemoBaseGroup* pAncestor = m_pParent; pAncestor != nullptr;
             pAncestor = pAncestor->m_pParent)
        {
            if (pAncestor == pChild)
                return false;
        }
    }
    m_Groups.push_back(GroupEntry{pChild, bOwn != 0});
    pChild->m_pParent = this;
    return true;
}

vemoBaseGroup* vemoBaseGroup::GetGroup(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetNumGroups())
        return nullptr;
    return m_Groups[static_cast<size_t>(nIndex)].pGroup;
}

vemoBaseObject* vemoBaseGroup::GetObject(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetNumObjects())
        return nullptr;
    return m_Objects[static_cast<size_t>(nIndex)].pObject;
}

const vemoMatProps* vemoBaseGroup::GetObjectMaterial(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetNumObjects())
        return nullptr;
    return m_Objects[static_cast<size_t>(nIndex)].pProps.get();
}

bool vemoBaseGroup::OwnsGroup(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetNumGroups() && m_Groups[static_cast<size_t>(nIndex)].bOwned;
}

bool vemoBaseGroup::OwnsObject(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetNumObjects() && m_Objects[static_cast<size_t>(nIndex)].bOwned;
}

void vemoBaseGroup::ForgetChild(const vemoBaseGroup* pChild)
{
    for (auto it = m_Groups.begin(); it != m_Groups.end(); ++it)
    {
        if (it->pGroup == pChild)
        {
            m_Groups.erase(it);
            return;
        }
    }
}

void vemoBaseGroup::ForgetObject(const vemoBaseObject* pObject)
{
    for (auto it = m_Objects.begin(); it != m_Objects.end(); ++it)
    {
        if (it->pObject == pObject)
        {
            m_Objects.erase(it);
            return;
        }
    }
}

vemoWorld::vemoWorld() = default;

vemoWorld::~vemoWorld() = default;

std::weak_ptr<const void> vemoBaseGroup::GetLifeToken() const
{
    if (!m_pLifeAnchor)
        m_pLifeAnchor = std::make_shared<const char>('\0');
    return m_pLifeAnchor;
}
