#pragma once

#include <cstdint>

// Returns the position in commandLine just past the program name and the
// separators that follow it. The text is neither copied nor changed.
const char* CutCommandTail(const char* commandLine);

// Reads a decimal number from the start of commandTail. Every input yields a
// value: digits wrap modulo 2^32 and anything that is not a number gives 0.
std::int32_t ParseExitFlags(const char* commandTail);
