#include "ByteStreams.h"
#include "Program.h"

int wmain(int argc, wchar_t** argv) {
    InstallByteStreams();
    return RunOrvel(argc, argv);
}
