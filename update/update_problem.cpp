// Wording a problem of the update folder or set: the English sentences and their values.
#include "update/update_problem.h"

const char* englishProblemText(ProblemText text)
{
    switch (text) {
    case ProblemText::None:
        return "";
    case ProblemText::NoFolderSet:
        return "No update folder is set.";
    case ProblemText::FolderMissing:
        return "The folder %1 does not exist.";
    case ProblemText::NoUpdateFiles:
        return "The folder holds none of the update files (%1, %2, %3).";
    case ProblemText::NotOneUpdate:
        return "The folder does not hold one update: %1.";
    case ProblemText::NoApplications:
        return "no applications image (%1)";
    case ProblemText::NoSystem:
        return "no operating-system image (%1)";
    case ProblemText::NoKestol:
        return "no KESTOL data file (%1)";
    case ProblemText::ManyApplications:
        return "%1 applications images (%2)";
    case ProblemText::ManySystem:
        return "%1 operating-system images (%2)";
    case ProblemText::ManyKestol:
        return "%1 KESTOL data files (%2)";
    case ProblemText::NotPlainFile:
        return "%1: not a plain file";
    case ProblemText::CannotOpen:
        return "%1: cannot be opened as a plain file";
    case ProblemText::CannotReadToEnd:
        return "%1: cannot be read to its end";
    case ProblemText::NoMemoryToRead:
        return "%1: not enough memory to read it";
    case ProblemText::CannotRead:
        return "%1: cannot be read (%2)";
    case ProblemText::DoesNotFit:
        return "%1: %2 bytes, but its place on the calculator holds %3";
    case ProblemText::PathTooLong:
        return "%1: its path is too long (%2 characters, at most %3)";
    case ProblemText::ChangedSince:
        return "%1: changed since the first wave (nothing written)";
    case ProblemText::PartSeparator:
        return "; ";
    }
    return "";
}

QString describeProblem(const UpdateProblem& problem, const ProblemWording& wording)
{
    if (problem.isNone())
        return QString();
    QStringList args = problem.args;
    if (problem.text == ProblemText::NotOneUpdate) {
        QStringList parts;
        for (const UpdateProblem& part : problem.parts)
            parts << describeProblem(part, wording);
        args = QStringList{parts.join(wording(ProblemText::PartSeparator))};
    }
    // All values in one pass: a "%2" inside a folder's name is not a placeholder.
    const QString sentence = wording(problem.text);
    switch (args.size()) {
    case 0:
        return sentence;
    case 1:
        return sentence.arg(args[0]);
    case 2:
        return sentence.arg(args[0], args[1]);
    default:
        return sentence.arg(args[0], args[1], args[2]);
    }
}

QString describeProblem(const UpdateProblem& problem)
{
    return describeProblem(problem,
                           [](ProblemText text) { return QString(englishProblemText(text)); });
}
