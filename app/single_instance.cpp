#include "app/single_instance.h"

#include <QSharedMemory>

// Attaching and detaching again removes a segment that no process holds any more: the last
// detach of a System V segment deletes it. A segment that a running copy holds stays.
static void reclaimStaleSegment(const QString& key)
{
    QSharedMemory probe(key);
    if (probe.attach(QSharedMemory::ReadOnly))
        probe.detach();
}

bool takeSingleInstance(QSharedMemory& segment)
{
    reclaimStaleSegment(segment.key());
    return segment.create(1, QSharedMemory::ReadWrite);
}
