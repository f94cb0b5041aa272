/// \file
/// The model library's triangle mesh.
#pragma once

#include "model/Export.h"
#include "model/VemoObject.h"

/// A triangle mesh of the model library (the triangle array's ownership as for vemoSTL). Hosts reach it
/// as a vemoBaseObject and cast it to vemoSTL.
class KARN_API CKarnStl : public vemoSTL
{
public:
    /// No triangles, decimation magnitude 0, empty box.
    CKarnStl();
    ~CKarnStl() override;
};
