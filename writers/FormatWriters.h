// The writer of each format, called by ExportWorld once the format is known. Each one fills the
// report's counts and, on failure, its result and message; it returns whether it succeeded. A writer
// removes what it created when it fails. Internal to the writers library.
#pragma once

#include "model/VemoGroup.h"
#include "writers/WorldExport.h"

#include <string>

bool WriteGltf(const vemoBaseGroup& root, const std::string& path, bool bBinary,
               const CExportOptions& options, CExportReport& report);
bool WriteObj(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report);
bool WritePly(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report);
bool WriteSlp(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report);
bool WriteStl(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report);
