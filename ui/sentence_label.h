// A text line that holds sentences: it wraps at word boundaries, and inside a word (a long path
// with no space in it) only where that word alone is wider than the line, so that nothing of
// it runs past the line's end or under the picture.
#pragma once

#include <QLabel>

class QTextLayout;

class SentenceLabel : public QLabel {
    Q_OBJECT
public:
    explicit SentenceLabel(QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the text out in lines of `width` pixels; gives the height they take.
    int layOut(QTextLayout& layout, int width) const;
};
