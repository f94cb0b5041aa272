/// \file
/// The model library's group: a kernel group whose name and children are set through virtual members.
#pragma once

#include "model/Export.h"
#include "model/VemoGroup.h"
#include "model/VemoTypes.h"

/// A group of the model library (ownership and destruction as for vemoBaseGroup).
class KARN_API CKarnGroup : public vemoWorld
{
public:
    /// An empty group with an empty name, without parent.
    CKarnGroup();
    ~CKarnGroup() override;

    /// Replaces the group's name with a copy of the given one. Throws std::bad_alloc when the copy
    /// cannot be allocated (the old name then stays).
    virtual void SetGroupName(const vemoWRope& name);
    /// Appends a child group and makes this group its parent; with a non-zero bOwn this group owns and
    /// will destroy the child. Refused (false, nothing changes) for a null child, for this group itself,
    /// for a group that already has a parent and for an ancestor of this group.
    virtual bool AddGroup(vemoBaseGroup* pChild, vemoBool bOwn);
};
