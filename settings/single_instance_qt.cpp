// The single-instance guard elsewhere: a named shared memory segment of the key, a stale one
// reclaimed first.
#include "settings/single_instance.h"

#include <QSharedMemory>

// The named one-byte segment of the key; only its existence matters.
class SingleInstance::Held {
public:
    explicit Held(const QString& key) : segment(key) {}
    QSharedMemory segment;
};

SingleInstance::SingleInstance(const QString& key) : key_(key) {}

SingleInstance::~SingleInstance() = default;

// Attaching and detaching again removes a segment that no process holds any more where the
// segment can outlive its holder (System V): the last detach deletes it. A held one stays.
static void reclaimStaleSegment(const QString& key)
{
    QSharedMemory probe(key);
    if (probe.attach(QSharedMemory::ReadOnly))
        probe.detach();
}

bool SingleInstance::take()
{
    if (held_)
        return true;
    reclaimStaleSegment(key_);
    auto held = std::make_unique<Held>(key_);
    if (!held->segment.create(1, QSharedMemory::ReadWrite))
        return false;
    held_ = std::move(held);
    return true;
}
