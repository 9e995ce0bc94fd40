#pragma once

#include <cstdint>

namespace korvo {

struct InputFile;

// Opens an existing file for reading, exclusively: fails while another
// program holds it, and for directories. nullptr on failure. `shared`:
// other shared opens may read it at the same time (the runs of --all);
// every other one is still refused, and writers are kept out.
InputFile* OpenInputFile(const char* path, bool shared = false);

bool InputFileSize(InputFile* file, uint64_t* size);

// Reads until `size` bytes are in or the file ends; *got says how many came.
bool ReadInputFile(InputFile* file, void* buffer, uint64_t size, uint64_t* got);

void CloseInputFile(InputFile* file);

// Memory for a whole file's content, `size` bytes, ready to be read into at
// full speed; nullptr when there is not that much. Released with
// FreeFileBuffer and the same size.
unsigned char* AllocateFileBuffer(uint64_t size);
void FreeFileBuffer(unsigned char* buffer, uint64_t size);

}  // namespace korvo
