// slp: inspect SLP files with the loader that hosts use.
#include "tools/Commands.h"

#include <CLI/CLI.hpp>

#include <clocale>

namespace
{
const char* const Version = "slp " SLP_VERSION;
}

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");

    CLI::App app{"Inspect SLP faceted-solid files with the SLP loader.", "slp"};
    app.set_version_flag("--version", Version);
    app.require_subcommand(1);

    InfoOptions infoOptions;
    std::vector<std::string> infoFiles;
    CLI::App* pInfo =
        app.add_subcommand("info", "Load each file and print its model tree, totals, box and timing");
    pInfo->add_option("FILE", infoFiles, "SLP files to load")->required();
    pInfo->add_flag("--json", infoOptions.bJson, "Print one JSON document per file (an array for several)");
    pInfo->add_flag("--geometry", infoOptions.bGeometry, "With --json: add each mesh's vertices and normals");
    pInfo->add_flag("-q,--quiet", infoOptions.bQuiet, "No progress bar");
    pInfo->add_option("--depth", infoOptions.nMaxDepth, "Text output: deepest group level printed")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();

    std::string tokensFile;
    long long nLimit = 0;
    CLI::App* pTokens =
        app.add_subcommand("tokens", "Print the file's tokens as the loader's token layer sees them");
    pTokens->add_option("FILE", tokensFile, "SLP file")->required();
    pTokens->add_option("--limit", nLimit, "Stop after this many tokens (0: all)")
        ->check(CLI::NonNegativeNumber);

    std::string convertInput;
    std::string convertOutput;
    std::string convertFormat;
    CLI::App* pConvert = app.add_subcommand(
        "convert", "Write an SLP file as glTF (.glb/.gltf), OBJ with MTL, PLY or STL, by OUT's extension");
    pConvert->add_option("IN", convertInput, "SLP file to read")->required();
    pConvert->add_option("OUT", convertOutput, "File to write (.glb, .gltf, .obj, .ply or .stl)")->required();
    pConvert->add_option("--format", convertFormat,
                         "Format regardless of OUT's extension: glb, gltf, obj, ply, stl");

    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& error)
    {
        // Help and version are successful exits; every other parse error is a usage error.
        const int nCode = app.exit(error);
        return nCode == 0 ? 0 : 2;
    }

    if (pInfo->parsed())
        return RunInfo(infoFiles, infoOptions);
    if (pConvert->parsed())
        return RunConvert(convertInput, convertOutput, convertFormat);
    return RunTokens(tokensFile, nLimit);
}
