// Merging of the vertices of one mesh that share position and normal. Internal to the writers library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One vertex as the writers write it: position x y z, then normal x y z; 24 bytes, the merging key.
struct CVertexRecord
{
    float m_aValues[6];
};

// A hash index of the distinct vertex records of one mesh, numbered 0, 1, 2, ... in order of first
// appearance. Records are equal when their 24 bytes are (so -0 and 0 differ, and a NaN matches the
// same NaN). Clear keeps the allocations, so one index serves mesh after mesh. The table grows with the
// distinct records, not the corners given, so well-shared meshes stay small. Throws std::bad_alloc
// only.
class CVertexIndex
{
public:
    CVertexIndex();

    // Forgets every record.
    void Clear();
    // The number of the record: an earlier equal record's, or the next number for a new one.
    std::uint32_t Add(const CVertexRecord& record);
    // The number of distinct records.
    size_t GetCount() const { return m_Records.size(); }
    const CVertexRecord& GetRecord(size_t nIndex) const { return m_Records[nIndex]; }
    // The hash of a record's 24 bytes, whose low bits pick its slot.
    static std::uint64_t Hash(const CVertexRecord& record);

private:
    void Grow();

    std::vector<CVertexRecord> m_Records;
    std::vector<std::uint32_t> m_Slots; // record number + 1; 0 marks a free slot
    size_t m_nMask;
};
