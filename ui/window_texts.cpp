// The window's own texts: which hint answers which result code.
#include "ui/window_texts.h"

#include "device/engine.h"

#include <QtGlobal>

using namespace WindowTexts;

WindowText failureHint(int result)
{
    switch (result) {
    case kResultOk:
        return {0, nullptr};
    case kResultNoDevice:
        return kHintNoDevice;
    case kResultSourceOpen:
        return kHintSourceOpen;
    case kResultDiskNotOpen:
#ifdef Q_OS_WIN
        return kHintDiskNotOpenWindows;
#else
        return kHintDiskNotOpenLinux;
#endif
    case kResultSourceRead:
        return kHintSourceRead;
    case kResultNoMemory:
        return kHintNoMemory;
    case kResultOutsideDisk:
        return kHintOutsideDisk;
    case kResultWriteFailed:
        return kHintWriteFailed;
    case kResultStayedInUpdateMode:
        return kHintStayedInUpdateMode;
    case kResultException:
        return kHintStopped;
    default:
        return kHintOther;
    }
}

WindowText problemText(ProblemText text)
{
    switch (text) {
    case ProblemText::None:
        break;
    case ProblemText::NoFolderSet:
        return kProblemNoFolderSet;
    case ProblemText::FolderMissing:
        return kProblemFolderMissing;
    case ProblemText::NoUpdateFiles:
        return kProblemNoUpdateFiles;
    case ProblemText::NotOneUpdate:
        return kProblemNotOneUpdate;
    case ProblemText::NoApplications:
        return kProblemNoApplications;
    case ProblemText::NoSystem:
        return kProblemNoSystem;
    case ProblemText::NoKestol:
        return kProblemNoKestol;
    case ProblemText::ManyApplications:
        return kProblemManyApplications;
    case ProblemText::ManySystem:
        return kProblemManySystem;
    case ProblemText::ManyKestol:
        return kProblemManyKestol;
    case ProblemText::NotPlainFile:
        return kProblemNotPlainFile;
    case ProblemText::CannotOpen:
        return kProblemCannotOpen;
    case ProblemText::CannotReadToEnd:
        return kProblemCannotReadToEnd;
    case ProblemText::NoMemoryToRead:
        return kProblemNoMemoryToRead;
    case ProblemText::CannotRead:
        return kProblemCannotRead;
    case ProblemText::DoesNotFit:
        return kProblemDoesNotFit;
    case ProblemText::PathTooLong:
        return kProblemPathTooLong;
    case ProblemText::ChangedSince:
        return kProblemChangedSince;
    case ProblemText::PartSeparator:
        return kProblemPartSeparator;
    }
    return {0, nullptr};
}

const WindowText* windowTexts(int* count)
{
    static const WindowText all[] = {
        kUpdateOk,
        kUpdateFailedRetry,
        kUpdateFailed,
        kFileOfFiles,
        kUpdatingOne,
        kUpdatingMany,
        kTooManyCalculators,
        kTimeLeft,
        kWaitingHint,
        kFolderSearched,
        kBackIntoUpdateMode,
        kHintNoDevice,
        kHintSourceOpen,
        kHintDiskNotOpenLinux,
        kHintDiskNotOpenWindows,
        kHintSourceRead,
        kHintNoMemory,
        kHintOutsideDisk,
        kHintWriteFailed,
        kHintStopped,
        kHintStayedInUpdateMode,
        kHintOther,
        kDescribeStatus,
        kDescribeDetails,
        kDescribeFile,
        kDescribeHint,
        kNamePicture,
        kDescribePicture,
        kNameProgress,
        kDescribeProgress,
        kDescribeButton,
        kDescribeBrowse,
        kProblemNoFolderSet,
        kProblemFolderMissing,
        kProblemNoUpdateFiles,
        kProblemNotOneUpdate,
        kProblemNoApplications,
        kProblemNoSystem,
        kProblemNoKestol,
        kProblemManyApplications,
        kProblemManySystem,
        kProblemManyKestol,
        kProblemNotPlainFile,
        kProblemCannotOpen,
        kProblemCannotReadToEnd,
        kProblemNoMemoryToRead,
        kProblemCannotRead,
        kProblemDoesNotFit,
        kProblemPathTooLong,
        kProblemChangedSince,
        kProblemPartSeparator,
        kWaveUpdatingOne,
        kWaveUpdatingMany,
        kStationTally,
        kWaveDone,
        kWaveFailed,
        kWaveRefused,
        kDescribeStationButton,
    };
    *count = int(sizeof all / sizeof all[0]);
    return all;
}
