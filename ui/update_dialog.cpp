// The dialog's construction, widgets, connections, texts and closing.
#include "ui/update_dialog.h"

#include "settings/settings.h"
#include "ui/file_line_label.h"
#include "ui/sentence_label.h"
#include "worker/forwarding.h"
#include "worker/update_worker.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

CCalcFWUpdateMSDialog* g_dialog = nullptr;

namespace {

const char kProgressStyle[] =
    "QProgressBar { border: 2px solid DarkGrey; border-radius: 4px; text-align: center; "
    "padding: 2px; } QProgressBar::chunk { background-color: #0096d6; width: 5px; }";

constexpr int kMinimumWidth = 525;
constexpr int kPictureSize = 64;
constexpr int kWaitingHintMs = 30000;

// The picture drawn at each size it may be shown at: 64 pixels at the scale of 1, the larger
// ones on high-density screens.
const char* const kPictureFiles[] = {":/CalculatorIconX64.png", ":/CalculatorIconX128.png",
                                     ":/CalculatorIconX256.png"};

// A size whose file is missing is left out rather than added as an empty image.
void addIconFile(QIcon& icon, const QString& name)
{
    if (QFile::exists(name))
        icon.addFile(name, QSize(), QIcon::Normal, QIcon::Off);
}

} // namespace

// The images are built into a static library; this pulls them into every program that shows
// the dialog.
static void loadBuiltInImages()
{
    Q_INIT_RESOURCE(updater_images);
}

CCalcFWUpdateMSDialog::CCalcFWUpdateMSDialog(QString folder, int language, bool station)
    : QDialog(nullptr), station_(station)
{
    g_dialog = this;
    setCurrentTextStore(&textStore);
    setForwardingReceiver(this);
    registerFilePrefixes();
    loadIcons();
    chooseFolderAndLanguage(folder, language);
    startWorker();
    buildWidgets();
    connectSignals();
}

CCalcFWUpdateMSDialog::~CCalcFWUpdateMSDialog()
{
    finishUpdate(translate("Update aborted", 633));
    if (finishDeferred_)
        sendFinish();
    // The program itself never gets here; a dialog that does go must not leave its thread
    // running behind it. A transfer under way is let finish: a half-written image is worse.
    // This call runs once the loop has returned, after the finish command has gone out.
    QMetaObject::invokeMethod(worker, "finish", Qt::BlockingQueuedConnection);
    workerThread->quit();
    workerThread->wait();
    delete worker;
    delete workerThread;
    clearUpdateFiles();
    setForwardingReceiver(nullptr);
    setCurrentTextStore(nullptr);
    if (g_dialog == this)
        g_dialog = nullptr;
}

QString CCalcFWUpdateMSDialog::translate(const char* englishDefault, int id) const
{
    return textStore.textOrDefault(englishDefault, id);
}

QString CCalcFWUpdateMSDialog::describe(const UpdateProblem& problem) const
{
    return describeProblem(problem,
                           [this](ProblemText text) { return translate(problemText(text)); });
}

void CCalcFWUpdateMSDialog::loadIcons()
{
    loadBuiltInImages();
    addIconFile(appIcon, ":/CalculatorIconX16.png");
    addIconFile(appIcon, ":/CalculatorIconX64.png");
    addIconFile(folderIcon, "icons:varFolder_16x16.png");
    addIconFile(folderIcon, "icons:varFolder_32x32.png");
}

void CCalcFWUpdateMSDialog::chooseFolderAndLanguage(const QString& folder, int language)
{
    if (!folder.isEmpty()) {
        updateFolder = folder;
        textStore.setLanguage(language);
        return;
    }
    const StoredSettings stored = loadSettings();
    textStore.setLanguage(stored.language);
    updateFolder = defaultUpdateFolder(stored.workFolder, textStore);
}

void CCalcFWUpdateMSDialog::startWorker()
{
    workerThread = new QThread;
    worker = new CUpdateWorker(&countdownMs, &busy, station_);
    worker->moveToThread(workerThread);
    connect(workerThread, &QThread::started, worker, &CUpdateWorker::process);
    connect(worker, &CUpdateWorker::finished, workerThread, &QThread::quit);
    connect(worker, &CUpdateWorker::finished, worker, &QObject::deleteLater);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);
    workerThread->start(QThread::InheritPriority);
}

void CCalcFWUpdateMSDialog::buildWidgets()
{
    // Notes and hints (lines 2 and 4) are sentences: they wrap rather than run under the
    // picture, a path in them too.
    textLines[0] = new QLabel(this);
    textLines[1] = new SentenceLabel(this);
    textLines[2] = new FileLineLabel(this);
    textLines[3] = new SentenceLabel(this);
    for (int i = 0; i < 4; ++i)
        textLines[i]->setObjectName(QString("textLine%1").arg(i + 1));
    auto* pictureLabel = new QLabel(this);
    pictureLabel->setObjectName("pictureLabel");
    QIcon picture;
    for (const char* file : kPictureFiles)
        addIconFile(picture, file);
    if (picture.isNull())
        picture = appIcon;
    const qreal ratio = devicePixelRatioF();
    const int pixels = qRound(kPictureSize * ratio);
    QPixmap pixmap = picture.pixmap(pixels, pixels, QIcon::Normal, QIcon::Off);
    pixmap.setDevicePixelRatio(ratio);
    pictureLabel->setPixmap(pixmap);

    cancelButton = new QPushButton(translate("Cancel", 2), this);
    cancelButton->setObjectName("cancelButton");
    browseButton = new QPushButton(this);
    browseButton->setObjectName("browseButton");
    browseButton->setIcon(folderIcon);
    browseButton->setText(translate("Browse for update files", 744));
    browseButton->hide();
    progressBar = new QProgressBar(this);
    progressBar->setObjectName("progressBar");
    progressBar->setRange(0, 100);

    setWindowTitle(translate("Firmware update", 631));
    setWindowIcon(appIcon);
    buildLayout(pictureLabel);
    describeWidgets();

    waitingHintTimer_ = new QTimer(this);
    waitingHintTimer_->setObjectName("waitingHintTimer");
    waitingHintTimer_->setSingleShot(true);
    waitingHintTimer_->setInterval(kWaitingHintMs);
}

// What a screen reader says of each part of the window. The lines' names are their texts.
void CCalcFWUpdateMSDialog::describeWidgets()
{
    using namespace WindowTexts;
    textLines[0]->setAccessibleDescription(translate(kDescribeStatus));
    textLines[1]->setAccessibleDescription(translate(kDescribeDetails));
    fileLine()->setDescription(translate(kDescribeFile));
    textLines[3]->setAccessibleDescription(translate(kDescribeHint));
    auto* picture = findChild<QLabel*>("pictureLabel");
    picture->setAccessibleName(translate(kNamePicture));
    picture->setAccessibleDescription(translate(kDescribePicture));
    progressBar->setAccessibleName(translate(kNameProgress));
    progressBar->setAccessibleDescription(translate(kDescribeProgress));
    cancelButton->setAccessibleDescription(
        translate(station_ ? kDescribeStationButton : kDescribeButton));
    browseButton->setAccessibleDescription(translate(kDescribeBrowse));
}

FileLineLabel* CCalcFWUpdateMSDialog::fileLine() const
{
    return static_cast<FileLineLabel*>(textLines[2]);
}

void CCalcFWUpdateMSDialog::buildLayout(QLabel* pictureLabel)
{
    auto* textColumn = new QVBoxLayout;
    for (QLabel* line : textLines)
        textColumn->addWidget(line);
    auto* topRow = new QHBoxLayout;
    topRow->addLayout(textColumn);
    topRow->addStretch();
    topRow->addWidget(pictureLabel);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(browseButton);
    buttonRow->addWidget(cancelButton);

    auto* mainLayout = new QVBoxLayout;
    mainLayout->addLayout(topRow);
    mainLayout->addStretch();
    mainLayout->addSpacing(10);
    mainLayout->addWidget(progressBar);
    mainLayout->addSpacing(10);
    mainLayout->addLayout(buttonRow);
    progressBar->setVisible(true);
    progressBar->setStyleSheet(kProgressStyle);
    setLayout(mainLayout);
    setMinimumWidth(kMinimumWidth);
}

// The worker's signals cross from its thread and arrive queued, in the order emitted; so do
// the dialog's own two signals, which the engine's transfer threads emit.
void CCalcFWUpdateMSDialog::connectSignals()
{
    using Dialog = CCalcFWUpdateMSDialog;
    connect(cancelButton, &QPushButton::clicked, this, &Dialog::onCancel);
    connect(this, &Dialog::updateProgress, this, &Dialog::onUpdateProgress);
    connect(this, &Dialog::updateMessage, this, &Dialog::onUpdateMessage);
    connect(worker, &CUpdateWorker::foundDevice, this, &Dialog::onFoundDevice);
    connect(worker, &CUpdateWorker::waitingStart, this, &Dialog::onWaitingStart);
    connect(worker, &CUpdateWorker::waitingTicks, this, &Dialog::onWaitingTicks);
    connect(worker, &CUpdateWorker::downloadActive, this, &Dialog::onDownloadActive);
    connect(worker, &CUpdateWorker::downloadInactive, this, &Dialog::onDownloadInactive);
    connect(worker, &CUpdateWorker::updaterRan, this, &Dialog::onUpdaterRan);
    connect(browseButton, &QPushButton::clicked, this, &Dialog::onBrowseFolder);
    connect(worker, &CUpdateWorker::updateFailed, this, &Dialog::onUpdateFailed);
    connect(worker, &CUpdateWorker::finishSent, this, &Dialog::onFinishSent);
    connect(worker, &CUpdateWorker::calculatorsCounted, this, &Dialog::onCalculatorsCounted);
    connect(waitingHintTimer_, &QTimer::timeout, this, &Dialog::onWaitingTooLong);
    connect(worker, &CUpdateWorker::waveStarted, this, &Dialog::onWaveStarted);
    connect(worker, &CUpdateWorker::attemptStep, this, &Dialog::onAttemptStep);
    connect(worker, &CUpdateWorker::waveEnded, this, &Dialog::onWaveEnded);
    connect(worker, &CUpdateWorker::tallyChanged, this, &Dialog::onTallyChanged);
}

void CCalcFWUpdateMSDialog::setLine(const QString& text, int line)
{
    if (line < 1 || line > 4)
        return;
    textLines[line - 1]->setText(text);
    if (line == 3)
        textLines[2]->setToolTip(text); // the whole path, however little of it is drawn
    if (textLines[line - 1]->wordWrap())
        growToLines();
}

// A window shown already does not grow by itself to the lines a wrapped text needs.
void CCalcFWUpdateMSDialog::growToLines()
{
    layout()->activate(); // now, not when the queued request comes: the text's lines count
    const int needed = layout()->totalHeightForWidth(width());
    if (isVisible() && needed > height())
        resize(width(), needed);
}

void CCalcFWUpdateMSDialog::setButtonText(const QString& text)
{
    if (cancelButton->text() == text)
        return;
    cancelButton->setText(text);
    QAccessibleEvent renamed(cancelButton, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
}

void CCalcFWUpdateMSDialog::setHint(const QString& hint)
{
    setLine(hint, 4);
    // Said at once, as a dialog's message would be, rather than when the line is next read.
    if (!hint.isEmpty()) {
        QAccessibleEvent alert(textLines[3], QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void CCalcFWUpdateMSDialog::setFailureHint(int result, bool updateOver)
{
    QString hint = translate(failureHint(result));
    // The calculator leaves update mode when its update breaks off; a new attempt needs it back.
    if (updateOver && worker->transferStarted)
        hint += " " + translate(WindowTexts::kBackIntoUpdateMode);
    // Nor does a failure hide that the calculators past the sixteenth got nothing.
    if (updateOver && !tooManyCalculators_.isEmpty())
        hint += " " + tooManyCalculators_;
    setHint(hint);
}

void CCalcFWUpdateMSDialog::finishUpdate(const QString& message)
{
    cancelButton->hide();
    progressBar->hide();
    setLine(message, 1);
    setLine(QString(), 2);
    setLine(QString(), 3);
    fileLine()->setCounter(QString());
    waitingHintTimer_->stop();
    setHint(tooManyCalculators_);
    progressBar->setFormat("%p%");
    updateUnderway_ = false;
    busy = false;
    // A station's waves send their finish commands themselves; nothing is left for the close.
    if (station_) {
        worker->requestStop();
        return;
    }
    if (worker->transferStarted) {
        sendFinish();
        return;
    }
    // Nothing was written: the calculator stays in update mode for a folder the user may still
    // pick with "Browse".
    worker->requestStop();
    finishDeferred_ = true;
}

void CCalcFWUpdateMSDialog::sendFinish()
{
    finishDeferred_ = false;
    finishPending_ = true;
    worker->requestFinish();
}

void CCalcFWUpdateMSDialog::onFinishSent()
{
    finishPending_ = false;
    // A calculator that did not take the finish command stays in update mode: "Done" would not
    // be true of it.
    const int finish = worker->finishResult;
    if (succeeded_ && finish != 0) {
        succeeded_ = false;
        if (auto* timer = findChild<QTimer*>("exitTimer"))
            timer->stop();
        setLine(translate(WindowTexts::kUpdateFailed).arg(finish), 1);
        setHint(translate(failureHint(finish))); // it is still in update mode: no more to say
    }
    if (quitWhenSent_ || (quitAfterDone_ && succeeded_))
        QCoreApplication::exit(0);
}

void CCalcFWUpdateMSDialog::leaveWhenFinishSent()
{
    if (finishDeferred_)
        sendFinish();
    hide();
    quitWhenSent_ = true;
}

bool CCalcFWUpdateMSDialog::mayClose() const
{
    // A station's wave holds the window from its countdown's end to its finish command.
    return !busy && !updateUnderway_ && !(station_ && worker->waveUnderway);
}

// The lines' needs change also without a new text (the window's width, its fonts once shown):
// the window grows to them then too.
bool CCalcFWUpdateMSDialog::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::LayoutRequest)
        growToLines();
    return handled;
}

void CCalcFWUpdateMSDialog::closeEvent(QCloseEvent* event)
{
    // A running update must not lose its window: the rest of it would go on unseen.
    if (!mayClose()) {
        event->ignore();
        return;
    }
    if (finishDeferred_ || finishPending_) {
        event->ignore();
        leaveWhenFinishSent();
        return;
    }
    event->accept();
}

void CCalcFWUpdateMSDialog::done(int result)
{
    if (!mayClose())
        return;
    if (finishDeferred_ || finishPending_) {
        setResult(result);
        leaveWhenFinishSent();
        return;
    }
    QDialog::done(result);
}
