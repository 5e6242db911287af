#pragma once
// The console's entry: chooses the mode from the arguments and runs it. Returns the exit code.
int RunOrvel(int argc, wchar_t** argv);
