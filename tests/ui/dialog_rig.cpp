#include "dialog_rig.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTimer>

DialogRig::DialogRig() = default;

DialogRig::~DialogRig()
{
    // Pauses no longer wait for the GUI thread, which now waits for the worker's thread.
    paced.release();
    dialog_.reset();
}

QString DialogRig::addFile(const QString& name, std::int64_t size)
{
    const QString path = folder_.filePath(name);
    if (name.endsWith('/')) {
        QDir().mkpath(path);
        return QDir::cleanPath(path);
    }
    const std::vector<unsigned char> bytes = fileBytes(size);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();
    host().AddSourceFile(QDir::toNativeSeparators(path).toStdString(), bytes);
    sizes_[name] = size;
    return path;
}

void DialogRig::addUpdateSet(const QStringList& names)
{
    std::int64_t size = 40000;
    for (const QString& name : names)
        addFile(name, size -= 7000);
}

CCalcFWUpdateMSDialog& DialogRig::construct(const QString& folder, int language, bool station)
{
    dialog_ = std::make_unique<CCalcFWUpdateMSDialog>(folder, language, station);
    return *dialog_;
}

CCalcFWUpdateMSDialog& DialogRig::start(int language, bool scan, bool station)
{
    construct(folder_.path(), language, station);
    QApplication::setActiveWindow(dialog_.get());
    dialog_->show();
    if (scan)
        dialog_->scanUpdateFolder();
    return *dialog_;
}

const CUpdateFile* DialogRig::breakSet(int disk, const QString& fault)
{
    const CUpdateFile* last = dialog_->updateFiles.last();
    const std::string lastPath = last->path.toStdString();
    if (fault == "open")
        host().EditSourceFile(lastPath, [](TestHost::SourceFile& f) { f.openFault = {0, -1}; });
    if (fault == "read")
        host().EditSourceFile(lastPath, [](TestHost::SourceFile& f) { f.readFault = {0, -1}; });
    if (fault == "disk")
        host().EditDisk(disk, [](TestHost::Disk& d) { d.size = 0x500000 + 1000; });
    return last;
}

bool DialogRig::calculatorHolds(int disk, const QString& name, std::int64_t offset)
{
    const std::int64_t size = sizes_.at(name);
    return host().DiskBytes(disk, offset, size) == fileBytes(size);
}

bool showsWholeLine(const CCalcFWUpdateMSDialog& dialog, int number)
{
    const QLabel* line = dialog.textLines[number - 1];
    const QLabel* picture = dialog.findChild<QLabel*>("pictureLabel");
    if (line->geometry().intersects(picture->geometry()))
        return false;
    // A line that wraps lays its text out in its width (a word too long for it is broken too):
    // it needs the height it asks for at that width.
    if (line->wordWrap())
        return line->heightForWidth(line->width()) <= line->height();
    const QRect needed =
        line->fontMetrics().boundingRect(QRect(0, 0, line->width(), 100000), 0, line->text());
    return needed.width() <= line->width() && needed.height() <= line->height();
}

void answerFolderBrowser(const QString& folder, bool accept, const QString& select)
{
    QTimer::singleShot(0, [folder, accept, select] {
        auto* browser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (browser == nullptr)
            qFatal("the folder browser did not open");
        browser->setDirectory(folder);
        if (!select.isEmpty()) {
            // The browser leaves alone a name field that has the keyboard, as on Windows.
            if (QWidget* focused = browser->focusWidget())
                focused->clearFocus();
            browser->selectFile(select);
        }
        QDialog* asDialog = browser; // accept() is public there, and runs the browser's own
        if (accept)
            asDialog->accept();
        else
            asDialog->reject();
    });
}
