// The session check on systems other than Linux: nothing to check before Qt starts.
#include "app/session.h"

// A desktop system always has its session; Qt tells when it cannot show a window.
bool hasGraphicalSession(int, char**)
{
    return true;
}
