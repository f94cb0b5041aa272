/// \file
/// The model's points and boxes as JSON, the same for the slp program's `info --json` and the web
/// page's model description.
#pragma once

#include "model/VemoTypes.h"
#include "writers/Export.h"
#include "writers/FileSink.h"

/// A point as `[x, y, z]`, each coordinate as CFileSink::JsonFloat writes it.
SLPEXPORT_API void WriteJsonPoint(CFileSink& out, const vemoFloatPoint& point);

/// A box as `{"min": [x, y, z], "max": [x, y, z]}`, or `null` when the box is empty.
SLPEXPORT_API void WriteJsonBox(CFileSink& out, const vemoBBox& box);
