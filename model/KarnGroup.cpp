#include "model/KarnGroup.h"

CKarnGroup::CKarnGroup() = default;

CKarnGroup::~CKarnGroup() = default;

void CKarnGroup::SetGroupName(const vemoWRope& name)
{
    SetName(name);
}

bool CKarnGroup::AddGroup(vemoBaseGroup* pChild, vemoBool bOwn)
{
    return AddChildGroup(pChild, bOwn);
}
