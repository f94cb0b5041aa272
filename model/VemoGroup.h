/// \file
/// Groups of the geometry kernel: a node of the model tree that holds child groups and objects.
#pragma once

#include "model/Export.h"
#include "model/VemoObject.h"
#include "model/VemoTypes.h"

#include <memory>
#include <vector>

// windows.h defines GetObject as a macro (GetObjectW or GetObjectA). The member keeps its own name whether a
// host includes windows.h before or after this header: the macro is set aside for the class definition, and
// members under the two expanded names forward to it for a host whose calls the macro renames.
#if defined(_WIN32)
#pragma push_macro("GetObject")
#undef GetObject
#endif

/// A node of the model tree: a name, a box, child groups and objects (each object with its own copy of
/// a material record), and a pointer to the parent group. Children and objects are kept in the order
/// they were added and reached by index in constant time.
///
/// Ownership: a child or object added with a non-zero vemoBool belongs to this group, which destroys it
/// when it is destroyed itself. One added with 0 stays the caller's, who must keep it alive as long as
/// this group holds it; when this group is destroyed such a child only loses its parent and such an
/// object only leaves the group.
///
/// Destroying a group destroys its whole owned subtree without recursion, in time and extra memory
/// independent of the depth of the tree (a model may nest a million groups), and never throws. A group
/// that still has a parent is first taken out of its parent (in time linear in the parent's child count).
///
/// Groups are not copyable. Adding allocates with the throwing allocation (std::bad_alloc); when that
/// throws, nothing was added and the caller keeps what it passed.
class KARN_API vemoBaseGroup
{
public:
    /// An empty group with an empty name and an empty box, without parent.
    vemoBaseGroup();
    virtual ~vemoBaseGroup();

    vemoBaseGroup(const vemoBaseGroup&) = delete;
    vemoBaseGroup& operator=(const vemoBaseGroup&) = delete;

    /// Appends an object with a copy of its material record. Refused (false, nothing changes) for a null
    /// object and for an object that a group already holds. The group's box grows to enclose the
    /// object's box as it is at this moment; later changes to the object's box are not followed.
    bool AddObject(vemoBaseObject* pObject, const vemoMatProps& props, vemoBool bOwn);

    int GetNumObjects() const { return static_cast<int>(m_Objects.size()); }
    int GetNumGroups() const { return static_cast<int>(m_Groups.size()); }

    /// Grows the group's box to enclose the given box (an empty box changes nothing). Parents are not
    /// updated.
    void UpdateBBox(const vemoBBox& box) { m_BBox.Update(box); }

    /// The child group at an index in order of addition; null for an index out of range.
    vemoBaseGroup* GetGroup(int nIndex) const;
    /// The object at an index in order of addition; null for an index out of range.
    vemoBaseObject* GetObject(int nIndex) const;
    /// The group's own copy of the material record of the object at an index; null for an index out of
    /// range. The record stays at the same address while the object is in this group.
    const vemoMatProps* GetObjectMaterial(int nIndex) const;
    /// Whether the group destroys the child group or object at an index; false out of range.
    bool OwnsGroup(int nIndex) const;
    bool OwnsObject(int nIndex) const;

    const vemoBBox& GetBBox() const { return m_BBox; }
    const vemoWRope& GetGroupName() const { return m_Name; }
    /// The group this one was added to, or null for a root.
    vemoBaseGroup* GetParent() const { return m_pParent; }

    /// A token that outlives the group and tells whether it still exists: it expires when the group is
    /// destroyed, so a holder can tell a live group from a destroyed one without touching it, even when
    /// another group has since taken its address. The first call allocates (std::bad_alloc); not for
    /// concurrent first calls on the same group.
    std::weak_ptr<const void> GetLifeToken() const;

protected:
    /// Appends a child group and makes this group its parent. Refused (false, nothing changes) for a null
    /// child, for this group itself, for a group that already has a parent, and for an ancestor of this
    /// group (which would close a cycle; checking it walks up from this group only when the child has
    /// children of its own, so adding fresh groups stays constant time at any depth).
    bool AddChildGroup(vemoBaseGroup* pChild, vemoBool bOwn);
    /// Replaces the name with a copy.
    void SetName(const vemoWRope& name) { m_Name = name; }

private:
    struct GroupEntry
    {
        vemoBaseGroup* pGroup;
        bool bOwned;
    };
    struct ObjectEntry
    {
        vemoBaseObject* pObject;
        std::unique_ptr<vemoMatProps> pProps; // own allocation, so the record never moves
        bool bOwned;
    };

    /// Empties this group without recursion: destroys owned objects, releases borrowed ones and
    /// borrowed children, and pushes owned children onto the stack threaded through m_pNextDoomed.
    void ReleaseContents(vemoBaseGroup*& pDoomed);
    /// Takes one child out of this group's list without destroying it.
    void ForgetChild(const vemoBaseGroup* pChild);
    friend class vemoBaseObject;
    void ForgetObject(const vemoBaseObject* pObject);

    std::vector<GroupEntry> m_Groups;
    std::vector<ObjectEntry> m_Objects;
    vemoBaseGroup* m_pParent;
    vemoBaseGroup* m_pNextDoomed; ///< link of the destruction stack; null outside a destruction
    vemoBBox m_BBox;
    vemoWRope m_Name;
    mutable std::shared_ptr<const void> m_pLifeAnchor; ///< made by the first GetLifeToken

#if defined(_WIN32)
public:
    vemoBaseObject* GetObjectA(int nIndex) const
    {
        return GetObject(nIndex);
    }
    vemoBaseObject* GetObjectW(int nIndex) const
    {
        return GetObject(nIndex);
    }
#endif
};

/// A group meant as the root of a model; it behaves as any other group.
class KARN_API vemoWorld : public vemoBaseGroup
{
public:
    vemoWorld();
    ~vemoWorld() override;
};

#if defined(_WIN32)
#pragma pop_macro("GetObject")
#endif
