// The program's entry point; the checker itself is runCheck.
#include <string>
#include <vector>

#include "check.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(_WIN32)
// Arguments come as UTF-16 and the report goes out as UTF-8.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(toUtf8(std::wstring(argv[i])));
    return runCheck(args, stdout);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return runCheck(args, stdout);
}
#endif
