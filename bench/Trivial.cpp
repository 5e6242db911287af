// Does nothing but start and write one line through the same C++ runtime as the console: the
// cost of a process start under the platform, against which the console's own start is set.
#include <iostream>

int wmain() {
    std::wcout << L"" << std::endl;
    return 0;
}
