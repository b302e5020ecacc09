#pragma once

#include <QLabel>
#include <QString>

// The file line: a path that keeps its file name in view. The text stays whole (text(), what a
// screen reader reads; the dialog puts it in the tooltip too); only what is drawn is cut in the
// middle to the width the window gives, with the counter ("File 2 of 3") at the right end.
class FileLineLabel : public QLabel {
    Q_OBJECT
public:
    explicit FileLineLabel(QWidget* parent = nullptr);

    // What a screen reader says the line is; the counter is said after it.
    void setDescription(const QString& description);
    void setCounter(const QString& counter);
    QString counter() const { return counter_; }
    // The path as drawn at the present width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int counterWidth() const;
    void describe();

    QString description_;
    QString counter_;
};
