// The save page's choice for pack and send. _0008_ takes only the destination, so the choice travels
// as a value under the wizard's key, written just before the call and read by the core's job; the
// wizard removes it when it ends, so no later run (or another caller of the core) inherits it.
#pragma once

#include <windows.h>

class CPackChoice {
public:
    static DWORD Record(bool bRemovePersonalData);
    static void Forget();
};
