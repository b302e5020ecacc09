// The guard that lets one copy of the updater run at a time.
#pragma once

#include <QString>
#include <memory>

// The key of the guard whose holder is the one copy of the updater that runs.
constexpr char kSingleInstanceKey[] = "VORMEX";

// The guard that says a copy of the updater runs. On Linux it covers the whole machine, every
// user and any environment (TMPDIR, HOME, ...); on Windows it is the named segment of the key.
// The system gives it up when its holder ends, however it ends, so that a copy that crashed
// keeps no later start from running.
class SingleInstance {
public:
    explicit SingleInstance(const QString& key = kSingleInstanceKey);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the guard and holds it as long as this object lives. False when another copy holds
    // it, or when the system refuses it.
    bool take();

private:
    class Held;
    QString key_;
    std::unique_ptr<Held> held_;
};
