// Entry points of the fuzz harnesses. Each takes arbitrary bytes, drives one component with them and
// aborts (through FuzzFail) when the component breaks one of its contracts; a sanitizer reports memory
// errors on its own. The libFuzzer programs call them from LLVMFuzzerTestOneInput, and the corpus replay
// test calls them for every file of the repository's corpus, so both run the same checks.
#pragma once

#include <cstddef>
#include <cstdint>

// The generic tokenizer over the bytes as in-memory input and as a file read in tiny blocks: both must
// give the same tokens, offsets must grow within the input, and a saved read state must replay exactly.
int FuzzTokenizer(const uint8_t* pData, size_t nSize);

// CSLPParser::Parse over the bytes as file contents, once with the default block size and once with a
// tiny one: both loads must build the same model, the model must be consistent, the result must match
// what the model holds and the progress must grow within 1..99. A parser reused for further loads
// must stay consistent and forget a world that is gone.
int FuzzParse(const uint8_t* pData, size_t nSize);

// CSLPParser::Parse over the bytes as file contents, then ExportWorld to GLB, glTF, OBJ, PLY and STL. Each
// output is read back and checked against its format's framing (headers, chunk and data lengths, indices
// within range, strict JSON) and against counts taken from the model; the GLB and the glTF must hold the
// same document and data, and no file may be left that the report does not name.
int FuzzWriters(const uint8_t* pData, size_t nSize);

// CBasicString: narrow and wide conversions, search, substrings, editing and Format, checked against a
// plain std::u16string model where the contract says what the result is.
int FuzzString(const uint8_t* pData, size_t nSize);

// CBasicList, its iterators and CBasicMap under a sequence of operations read from the bytes, checked
// against std::vector and std::map models after every step.
int FuzzContainers(const uint8_t* pData, size_t nSize);

// The name of the input being run, printed by FuzzFail when set (the replay test sets it).
extern const char* g_pszFuzzInputName;

// Reports a broken contract on stderr and aborts, so that libFuzzer keeps the input and the replay test
// fails.
[[noreturn]] void FuzzFail(const char* pszFile, int nLine, const char* pszWhat);

#define FUZZ_CHECK(condition)                                                                                \
    do                                                                                                       \
    {                                                                                                        \
        if (!(condition))                                                                                    \
            FuzzFail(__FILE__, __LINE__, #condition);                                                        \
    } while (false)
