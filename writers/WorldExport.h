/// \file
/// Export of a loaded model to the file formats that viewers, slicers and game engines read: glTF 2.0
/// (binary .glb or text .gltf with a .bin beside it), Wavefront OBJ with an .mtl beside it, binary PLY
/// and binary STL.
#pragma once

#include "model/VemoGroup.h"
#include "writers/Export.h"

#include <cstdio>
#include <string>
#include <vector>

/// The formats ExportWorld writes.
enum ExportFormatTypes
{
    ExportFormatUnknown = 0, ///< no format: ExportWorld refuses it
    ExportFormatGlb,         ///< glTF 2.0, one binary file
    ExportFormatGltf,        ///< glTF 2.0, JSON with the binary data in a .bin file beside it
    ExportFormatObj,         ///< Wavefront OBJ with its materials in an .mtl file beside it
    ExportFormatPly,         ///< PLY, binary little-endian, with per-vertex normals and colours
    ExportFormatStl,         ///< STL, binary, geometry only
    ExportFormatSlp          ///< SLP text, which a load reads back as the same model
};

/// The outcome of ExportWorld.
enum ExportResultTypes
{
    ExportSuccess = 0,   ///< every file was written completely
    ExportUnknownFormat, ///< the format was ExportFormatUnknown; nothing was touched
    ExportCannotOpen,    ///< an output file could not be created; nothing is left behind
    ExportWriteFailed,   ///< writing failed part-way (disk full, I/O error); the partial files are removed
    ExportTooLarge ///< the model exceeds a limit of the format (32-bit sizes or counts); nothing is left
};

/// What ExportWorld did. Counts describe what was written (after merging shared vertices and leaving
/// out what the format cannot hold); on failure they are whatever was counted before the failure.
struct SLPEXPORT_API CExportReport
{
    ExportResultTypes m_eResult = ExportSuccess;
    /// One line in plain words when m_eResult is not ExportSuccess (naming the file and the cause);
    /// empty on success.
    std::string m_strMessage;
    /// The files written, the requested path first, then its companion (.mtl or .bin), if any.
    std::vector<std::string> m_Files;
    long long m_nGroups = 0;    ///< groups below the root that were walked
    long long m_nMeshes = 0;    ///< mesh objects written
    long long m_nTriangles = 0; ///< triangles written
    long long m_nVertices = 0;  ///< vertices written (after merging; 3 per triangle for STL)
    /// Mesh objects whose colour had a channel outside 0..1 (or not a number) and was clamped into
    /// 0..1, as glTF, MTL and PLY require. Always 0 for STL, which has no colour.
    long long m_nClampedColours = 0;
    /// glTF only: triangles left out because a vertex coordinate was infinite or not a number, which
    /// glTF forbids. A mesh object left with no triangle is left out as a whole.
    long long m_nSkippedTriangles = 0;
    /// glTF only: vertex normals of zero length (or not finite), replaced by the triangle's geometric
    /// normal (or +Z for a triangle without area), since glTF requires unit normals. Other normals are
    /// normalised silently.
    long long m_nReplacedNormals = 0;
};

/// The format named by a path's extension, matched without regard to ASCII case (".glb", ".gltf",
/// ".obj", ".ply", ".slp", ".stl"); ExportFormatUnknown for any other extension or none. Never throws.
SLPEXPORT_API ExportFormatTypes ExportFormatFromPath(const std::string& path);

/// The format named by a word ("glb", "gltf", "obj", "ply", "slp", "stl", ASCII case ignored);
/// ExportFormatUnknown otherwise. Never throws.
SLPEXPORT_API ExportFormatTypes ExportFormatFromName(const std::string& name);

/// The lower-case name of a format ("glb", ...); "unknown" for ExportFormatUnknown.
SLPEXPORT_API const char* ExportFormatName(ExportFormatTypes eFormat);

/// The companion file that a format writes beside the output: the path with its extension replaced
/// by ".mtl" (OBJ) or ".bin" (glTF text); empty for formats without one. Where the replacement would
/// name the output itself, the companion extension is appended instead.
SLPEXPORT_API std::string ExportCompanionPath(const std::string& path, ExportFormatTypes eFormat);

/// The companion file that ExportWorld writes for an output at the path: ExportCompanionPath of the file
/// the path leads to, its symbolic links followed (a chain of them too), so that it stands beside the
/// file written and not beside a link. Never throws but std::bad_alloc.
SLPEXPORT_API std::string ExportCompanionTarget(const std::string& path, ExportFormatTypes eFormat);

/// How ExportWorld writes, beyond the path and the format.
struct SLPEXPORT_API CExportOptions
{
    /// When set, the output goes to this stream (standard output, say), which stays the caller's and
    /// open; the path then only names the output in messages. Formats that write a companion file
    /// (glTF text, OBJ) cannot go to a stream: the result is then ExportCannotOpen.
    std::FILE* m_pStream = nullptr;
    /// When set, called with the percentage of the work done (0 to 100) each time it grows, from the
    /// calling thread.
    void (*m_pfnProgress)(void* pContext, int nPercentage) = nullptr;
    void* m_pProgressContext = nullptr;
    /// The threads the export may use, the calling thread among them: 1 writes on the calling thread
    /// alone; 0, the default, as many as the processor has (at most 64 are used). Other threads only
    /// merge the vertices of glTF, OBJ and PLY meshes of 32,768 triangles and more, in parts, and format
    /// the text of OBJ and SLP meshes of 8,192 vertices or triangles and more, in parts that the calling
    /// thread writes in order; they start at the first such mesh. The files, the report and every
    /// failure are what one thread gives, and progress is reported from the calling thread.
    int m_nThreads = 0;
};

/// Writes the model below (and including the objects of) the root group to the file at a path (UTF-8),
/// in the given format, creating or replacing it and its companion file. Every file is first written to
/// a temporary file in the same folder and moves into place only when the whole output is complete, so
/// a failure (a full disk, a file size limit, an interruption) leaves what was there before untouched.
/// A symbolic link (or a chain of them) is written through to the file it leads to, made there when
/// missing, with the companion file beside it (ExportCompanionTarget); an existing target that is not a
/// regular file (a device, a pipe) is written in place, and a name of one of the process's descriptors
/// (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written on that descriptor, as a stream is.
///
/// What each format receives:
/// - glTF: the root group and every group below it as named nodes in the same tree (a group's node
///   lists one node per mesh object, named "<group> mesh <k>", before its child groups); one glTF mesh
///   per mesh object with an interleaved POSITION/NORMAL buffer view (POSITION with min and max) and
///   32-bit indices; one material per distinct colour and shininess, as a double-sided, non-metallic
///   pbrMetallicRoughness material with the colour as baseColorFactor (alpha below 1 blends) and
///   roughness 1 - shininess/128. The .gltf form refers to its .bin by a relative URI.
/// - OBJ: per group that holds meshes, "o" and "g" lines with the group's path of names joined by '/'
///   (white space and control characters in names become '_'; paths longer than 1023 bytes keep their
///   end only, since readers drop longer names); per mesh object "usemtl" of a material whose Kd is its
///   colour, then "v", "vn" and "f v//vn" lines. Floats in the shortest text that reads back to the same
///   float, in any locale.
/// - PLY: per vertex float x y z nx ny nz and uchar red green blue (the mesh colour), faces as uint
///   index lists; no names.
/// - STL: every triangle with the normalised mean of its three vertex normals as the facet normal
///   (zero where they cancel); no names, no colour.
/// - SLP: the groups as nested solids with their names, each mesh object as a run of facets with its
///   colour, three normals and three vertices per facet, every float in the shortest text that reads
///   back to it (CSlpTextWriter), so that a load of the file gives the same model. Objects of the root
///   itself (which no load makes) have no solid to stand in and are left out; a name that cannot be one
///   token (white space in it; empty, but for the last group) has those bytes written as '_'.
/// In glTF, OBJ and PLY, the vertices of one mesh object that share position and normal (bit for bit)
/// are written once and indexed.
///
/// The model is walked without recursion at any depth; the files are written mesh by mesh through a
/// buffer; extra memory is about the size of the largest mesh object plus 4 bytes per triangle corner
/// (glTF and PLY keep the index of the whole output) and a few words per group, and on several threads
/// about as much again for a mesh merged in parts; time is linear in the model's size. Objects that are
/// not vemoSTL meshes, and meshes without triangles, are left out.
///
/// Failures are reported in the result, never by exceptions, except std::bad_alloc when memory runs
/// out (temporary files are then removed as well). On any failure no output file is left behind.
SLPEXPORT_API CExportReport ExportWorld(const vemoBaseGroup& root, const std::string& path,
                                        ExportFormatTypes eFormat, const CExportOptions& options);
SLPEXPORT_API CExportReport ExportWorld(const vemoBaseGroup& root, const std::string& path,
                                        ExportFormatTypes eFormat);

/// Removes the temporary files of the exports under way in this process (none is left behind). Safe to
/// call from a signal handler: a program that ends on SIGINT or SIGTERM calls it before it dies.
SLPEXPORT_API void ExportRemovePendingFiles();
