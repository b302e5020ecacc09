#include "app/session.h"

// A desktop system always has its session; Qt tells when it cannot show a window.
bool hasGraphicalSession(int, char**)
{
    return true;
}
