#pragma once
// Where the set configex dialogue reads its answers.

#include <cstdio>

// Null, the default, is the process's standard input: the console's characters when it is one
// (a console read ends with its line, so the loop's reads and these follow one another), else its
// bytes, read through the same C stream as the command loop so that both see one buffer, in
// script mode too.
void SetConfigAnswerInput(FILE* input);
