#pragma once
// Bounded copy of zero-terminated text into a fixed-capacity buffer.
//
// Copies characters until the source's terminator or until capacity - 1
// characters have been copied, always writes a terminator and returns the
// number of characters copied. A null destination or a capacity of 0 writes
// nothing; a null source counts as empty text. Both return 0.

#include <cstddef>

size_t copyText(char* destination, const char* source, size_t capacity);
size_t copyText(char16_t* destination, const char16_t* source, size_t capacity);

// Wide to narrow, for interfaces that take 8-bit text: each wide character's
// low 8 bits are stored. A character whose low 8 bits are zero (U+0100,
// U+4E00, ...) is stored as '?' so that it does not end the text early.
size_t copyText(char* destination, const char16_t* source, size_t capacity);
