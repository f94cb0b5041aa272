/// \file
/// The model library's world: the root group of a model, which the host owns.
#pragma once

#include "model/Export.h"
#include "model/KarnGroup.h"

/// The root of a model. Used as a CKarnGroup; destroying it destroys every group and object it owns,
/// at any depth, without recursion.
class KARN_API CKarnWorld : public CKarnGroup
{
public:
    CKarnWorld();
    ~CKarnWorld() override;
};
