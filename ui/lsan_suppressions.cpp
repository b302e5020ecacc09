// Built only into sanitizer builds. Qt 5's platform plugins keep their screen objects until the
// process ends without releasing them; LeakSanitizer would report those, and end every program
// that shows a window with exit code 1.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:libqxcb.so\n"
           "leak:libQt5XcbQpa.so\n";
}
