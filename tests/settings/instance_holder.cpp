// Takes the single-instance guard of the key given, says "held" (or "busy" and ends with 3),
// and holds it until its standard input closes, or until it is killed.
#include "settings/single_instance.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString key = argc > 1 ? QString::fromLocal8Bit(argv[1]) : kSingleInstanceKey;
    SingleInstance guard(key);
    if (!guard.take()) {
        std::puts("busy");
        return 3;
    }
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
