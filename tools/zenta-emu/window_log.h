// What the window probe saw inside the updater, read from its log.
#pragma once

#include <QStringList>

#include <string>
#include <vector>

// What the window probe saw inside the updater: one look each time the window changed.
struct WindowLook {
    double at = 0; // seconds since the probe was loaded
    QString title;
    QStringList labels;  // visible texts, in the window's order
    QStringList buttons; // visible buttons' texts; a disabled one ends with " (disabled)"
    int progress = -1;   // the progress bar's value; -1 when it is hidden
    QString shot;        // file name of a picture of the window at that moment, if one was taken
};

class WindowLog {
public:
    explicit WindowLog(std::string file) : file_(std::move(file)) {}

    // Takes in the lines written since the last call.
    void Update();
    bool ProbeLoaded() const { return loaded_; }
    const std::vector<WindowLook>& Looks() const { return looks_; }

    // A visible text that starts with `prefix`, at any time.
    bool EverShowed(const QString& prefix) const;
    // A visible text equal to `text` in the latest look.
    bool ShowsNow(const QString& text) const;
    // The texts each look showed, one line per change, for the report.
    std::vector<std::string> Story() const;

private:
    void Take(const QByteArray& line);

    std::string file_;
    long long consumed_ = 0;
    bool loaded_ = false;
    std::vector<WindowLook> looks_;
};
