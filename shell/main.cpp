#include "Program.h"
#include "StandardStreams.h"

int wmain(int argc, wchar_t** argv) {
    InstallStandardStreams();
    return RunOrvel(argc, argv);
}
