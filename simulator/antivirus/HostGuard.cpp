// Stand-in for the antivirus's HOSTGUARD.exe. The wizard never starts it, it renames it; should anything
// start it all the same, it ends at once and changes nothing.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
