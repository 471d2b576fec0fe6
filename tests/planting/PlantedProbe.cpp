// The counter-check of the planting test: a program that loads each name the
// way the wizard used to (by bare name, nothing restricted). Where it leaves no
// marker, the test could not catch a planted load of that name either, whatever
// the wizard did.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        ::LoadLibraryW(argv[i]);
    }
    return 0;
}
