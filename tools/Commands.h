// The subcommands of the slp program.
#pragma once

#include <string>
#include <vector>

struct InfoOptions
{
    bool bJson = false;     // one JSON document per file instead of text
    bool bGeometry = false; // JSON: every mesh's vertices and normals too
    bool bQuiet = false;    // no progress bar
    int nMaxDepth = 64;     // text: groups deeper than this are counted, not printed
};

// Loads each file into a fresh world and prints what it holds. Returns 0 when every file loaded, 1
// otherwise.
int RunInfo(const std::vector<std::string>& files, const InfoOptions& options);

// Prints the file's tokens as the loader's token layer sees them, at most nLimit of them (0: all).
// Returns 0 when the file could be opened, 1 otherwise.
int RunTokens(const std::string& file, long long nLimit);

// Loads the SLP file and writes it to the output in the format named by `format` ("glb", "gltf", "obj",
// "ply", "stl") or, when that is empty, by the output's extension. Returns 0 on success, 1 when the
// input cannot be loaded or the output cannot be written (one line on stderr; nothing left behind), 2
// for an unknown format.
int RunConvert(const std::string& input, const std::string& output, const std::string& format);

// Why a file that failed to load failed, in plain words.
std::string DescribeFailure(const std::string& path, int nResult);
