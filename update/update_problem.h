#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Why a folder or a set of files is not an update, kept as a kind and its values so that each
// front end can word it: the window in the user's language, the command line in English.

// Every sentence a problem can be worded with.
enum class ProblemText {
    None,
    NoFolderSet,      // -
    FolderMissing,    // %1 folder
    NoUpdateFiles,    // %1 %2 %3 the three names looked for
    NotOneUpdate,     // %1 the roles' problems, joined
    NoApplications,   // %1 the name expected
    NoSystem,         // %1 the name expected
    NoKestol,         // %1 the name expected
    ManyApplications, // %1 how many, %2 their names
    ManySystem,       // %1 how many, %2 their names
    ManyKestol,       // %1 how many, %2 their names
    NotPlainFile,     // %1 file
    CannotOpen,       // %1 file
    CannotReadToEnd,  // %1 file
    NoMemoryToRead,   // %1 file
    CannotRead,       // %1 file, %2 the engine's result code
    DoesNotFit,       // %1 file, %2 its size, %3 the room of its place
    PathTooLong,      // %1 file, %2 its path's length, %3 the longest path the updater takes
    ChangedSince,     // %1 file: a station's set, no longer what its first check read
    PartSeparator,    // between the roles' problems of NotOneUpdate
};

struct UpdateProblem {
    ProblemText text = ProblemText::None;
    QStringList args;             // the sentence's values, in placeholder order
    QVector<UpdateProblem> parts; // NotOneUpdate: one per role missing or doubled

    bool isNone() const { return text == ProblemText::None; }
};
Q_DECLARE_METATYPE(UpdateProblem)

// The English sentence of a text; empty for None.
const char* englishProblemText(ProblemText text);

// Gives the sentence (with its placeholders) a front end words a text with.
using ProblemWording = std::function<QString(ProblemText)>;

// The problem as one line; empty for none.
QString describeProblem(const UpdateProblem& problem, const ProblemWording& wording);
// In English, as the command line and the log say it.
QString describeProblem(const UpdateProblem& problem);
