// One picture of the window for each phase of an update, picked by the window's shape and saved
// under the phase's name.
#include "phase_shots.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>

namespace {

// The seconds left on an enabled button, as the countdown shows them; -1 for any other button.
int CountdownSeconds(const WindowLook& look)
{
    static const QRegularExpression counting(" - (\\d+)$");
    for (const QString& button : look.buttons) {
        const QRegularExpressionMatch match = counting.match(button);
        if (match.hasMatch())
            return match.captured(1).toInt();
    }
    return -1;
}

} // namespace

std::map<std::string, QString> PickPhaseShots(const std::vector<WindowLook>& looks)
{
    std::map<std::string, QString> shots;
    // The countdown at 3 seconds left if it was caught there, else its first picture.
    std::size_t first = looks.size();
    std::size_t three = looks.size();
    for (std::size_t i = 0; i < looks.size(); ++i) {
        const int seconds = looks[i].shot.isEmpty() ? -1 : CountdownSeconds(looks[i]);
        first = seconds >= 0 && first == looks.size() ? i : first;
        three = seconds == 3 && three == looks.size() ? i : three;
    }
    if (first < looks.size())
        shots["countdown"] = looks[three < looks.size() ? three : first].shot;
    for (std::size_t i = 0; i < first && i < looks.size(); ++i) {
        if (looks[i].labels.size() >= 2 && !looks[i].shot.isEmpty())
            shots["waiting"] = looks[i].shot;
    }
    int best = 101;
    for (const WindowLook& look : looks) {
        if (look.progress > 0 && look.progress < 100 && !look.shot.isEmpty() &&
            std::abs(look.progress - 50) < best) {
            best = std::abs(look.progress - 50);
            shots["transfer"] = look.shot;
        }
    }
    for (auto look = looks.rbegin(); look != looks.rend(); ++look) {
        if (!look->shot.isEmpty()) {
            shots["done"] = look->shot;
            break;
        }
    }
    return shots;
}

std::vector<std::string> SavePhaseShots(const std::vector<WindowLook>& looks,
                                        const std::string& from, const std::string& to)
{
    const std::map<std::string, QString> shots = PickPhaseShots(looks);
    const QDir source(QString::fromStdString(from));
    const QDir target(QString::fromStdString(to));
    QDir().mkpath(target.path());
    std::vector<std::string> missing;
    for (const char* phase : {"waiting", "countdown", "transfer", "done"}) {
        const QString name = QString(phase) + ".png";
        auto shot = shots.find(phase);
        QFile::remove(target.filePath(name));
        if (shot == shots.end() ||
            !QFile::copy(source.filePath(shot->second), target.filePath(name)))
            missing.push_back(phase);
    }
    return missing;
}
