// The guard that lets one copy of the updater run at a time.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// The key of the guard whose holder is the one copy of the updater that runs.
constexpr char kSingleInstanceKey[] = "VORMEX";

// The guard that says a copy of the updater runs. On Linux it covers every copy of one user
// (by effective uid) in one network namespace, whatever its environment (TMPDIR, HOME, ...):
// another user neither shares it nor can take it from us. On Windows it is the named segment of
// the key, which covers one session. The system gives it up when its holder ends, however it
// ends, so that a copy that crashed keeps no later start from running.
class SingleInstance {
public:
    explicit SingleInstance(const QString& key = kSingleInstanceKey);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the guard and holds it as long as this object lives. False when another copy holds
    // it, or when the system refuses it. On Linux, when other users hold every name it could
    // take, true without holding anything: being kept from starting by anyone would be worse.
    bool take();

private:
    class Held;
    QString key_;
    std::unique_ptr<Held> held_;
};

#ifdef __linux__
// How many abstract names a copy tries in turn: those that other users hold are passed over.
constexpr int kGuardNames = 4;

// The `index`th abstract socket name (without its leading 0) of the guard of `key` for the
// effective user `uid`.
QByteArray guardName(const QString& key, unsigned uid, int index);
#endif
