// A program that imports UxTheme.dll, which is not one of the system's known
// DLLs: the imports check must reject it by name
// (tests/planting/CheckImportsTest.cmake).
#include <windows.h>
#include <uxtheme.h>

int main()
{
    return ::SetWindowTheme(nullptr, L" ", L" ") == S_OK ? 0 : 1;
}
