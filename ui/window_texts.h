#pragma once

#include "update/update_problem.h"

// The window's own texts beyond the suite's: outcomes, hints, counts and the time left. Each has
// an id of table 20 (10240 to 10751), which no other program of the suite uses, and the English
// default the window shows when a resource file lacks it.
struct WindowText {
    int id;
    const char* english;
};

namespace WindowTexts {

constexpr WindowText kUpdateOk{10240, "Update OK (%1)"};
constexpr WindowText kUpdateFailedRetry{10241, "Update failed (%1), Retry: %2"};
constexpr WindowText kUpdateFailed{10242, "Update failed (%1)"};
constexpr WindowText kFileOfFiles{10243, "File %1 of %2"};
// The languages shipped have at most two plural forms, and a count of calculators is never 0.
constexpr WindowText kUpdatingOne{10244, "Updating %1 calculator"};
constexpr WindowText kUpdatingMany{10245, "Updating %1 calculators"};
constexpr WindowText kTooManyCalculators{
    10246, "%1 calculators are connected, but only %2 are updated at a time: update the "
           "others afterwards."};
constexpr WindowText kTimeLeft{10247, "%1 left"};
constexpr WindowText kWaitingHint{
    10248, "No calculator yet: put it into update mode and plug it straight into this "
           "computer, not into a hub."};
constexpr WindowText kFolderSearched{10249, "Folder searched: %1"};
constexpr WindowText kBackIntoUpdateMode{
    10250, "Put the calculator back into update mode before trying again."};

constexpr WindowText kHintNoDevice{
    10260, "The calculator is gone: check the USB cable and that it is still in update mode."};
constexpr WindowText kHintSourceOpen{
    10261, "An update file cannot be opened: check that the folder is still there and that "
           "its files can be read."};
// The disk is opened in ways of the host's own; the wording follows the platform built for.
constexpr WindowText kHintDiskNotOpenLinux{
    10262, "The calculator cannot be opened: install the updater's device rule, or log in at "
           "this computer itself rather than remotely."};
constexpr WindowText kHintDiskNotOpenWindows{
    10263, "The calculator cannot be opened: close any other program that uses it (Explorer "
           "windows, backup or virus scanners) and try again."};
constexpr WindowText kHintSourceRead{
    10264, "An update file changed while it was read, or its disk failed: copy the update "
           "files again."};
constexpr WindowText kHintNoMemory{
    10265, "The computer ran out of memory: close other programs and try again."};
constexpr WindowText kHintOutsideDisk{
    10266, "An update file does not fit the calculator: it is not an update for this "
           "calculator, or it is damaged. Get the update files again."};
constexpr WindowText kHintWriteFailed{
    10267, "The connection to the calculator broke: plug it straight into this computer, "
           "not into a hub, and try again."};
constexpr WindowText kHintStopped{
    10268, "The updater stopped unexpectedly: close it and start the update again."};
// 10270 is not used: the window has no read-back, so it never gets a 113 to hint at.
constexpr WindowText kHintStayedInUpdateMode{
    10271, "The calculator got every file but stayed in update mode: unplug it and restart it; if "
           "it is still in update mode, update it again."};
constexpr WindowText kHintOther{
    10269, "Try again; if it fails again, put the calculator back into update mode first."};

// What a screen reader says of the window's parts.
constexpr WindowText kDescribeStatus{10280, "Status of the update"};
constexpr WindowText kDescribeDetails{10281, "Details"};
constexpr WindowText kDescribeFile{10282, "The update file being written"};
constexpr WindowText kDescribeHint{10283, "What to do"};
constexpr WindowText kNamePicture{10284, "Calculator"};
constexpr WindowText kDescribePicture{10285, "A calculator being updated"};
constexpr WindowText kNameProgress{10286, "Progress"};
constexpr WindowText kDescribeProgress{10287, "How much of the current file has been written"};
constexpr WindowText kDescribeButton{
    10288, "Cancels the update while waiting; during the countdown, starts it at once"};
constexpr WindowText kDescribeBrowse{10289, "Chooses another folder with the update files"};

// Why the folder is not an update, or why the check before the first byte refused a file.
constexpr WindowText kProblemNoFolderSet{10290, "No update folder is set."};
constexpr WindowText kProblemFolderMissing{10291, "The folder %1 does not exist."};
constexpr WindowText kProblemNoUpdateFiles{
    10292, "The folder holds none of the update files (%1, %2, %3)."};
constexpr WindowText kProblemNotOneUpdate{10293, "The folder does not hold one update: %1."};
constexpr WindowText kProblemNoApplications{10294, "no applications image (%1)"};
constexpr WindowText kProblemNoSystem{10295, "no operating-system image (%1)"};
constexpr WindowText kProblemNoKestol{10296, "no KESTOL data file (%1)"};
constexpr WindowText kProblemManyApplications{10297, "%1 applications images (%2)"};
constexpr WindowText kProblemManySystem{10298, "%1 operating-system images (%2)"};
constexpr WindowText kProblemManyKestol{10299, "%1 KESTOL data files (%2)"};
constexpr WindowText kProblemNotPlainFile{10300, "%1: not a plain file"};
constexpr WindowText kProblemCannotOpen{10301, "%1: cannot be opened as a plain file"};
constexpr WindowText kProblemCannotReadToEnd{10302, "%1: cannot be read to its end"};
constexpr WindowText kProblemNoMemoryToRead{10303, "%1: not enough memory to read it"};
constexpr WindowText kProblemCannotRead{10304, "%1: cannot be read (%2)"};
constexpr WindowText kProblemPartSeparator{10306, "; "};
constexpr WindowText kProblemDoesNotFit{10305,
                                        "%1: %2 bytes, but its place on the calculator holds %3"};
constexpr WindowText kProblemPathTooLong{10307,
                                         "%1: its path is too long (%2 characters, at most %3)"};
constexpr WindowText kProblemChangedSince{10308,
                                          "%1: changed since the first wave (nothing written)"};

// A station's: the wave under way (one calculator, more than one), the running count, each
// wave's outcome between waves, and what its button does.
constexpr WindowText kWaveUpdatingOne{10320, "Wave %1: updating %2 calculator"};
constexpr WindowText kWaveUpdatingMany{10321, "Wave %1: updating %2 calculators"};
constexpr WindowText kStationTally{10322, "Updated: %1, failed: %2, waiting: %3"};
constexpr WindowText kWaveDone{10323, "Wave %1 done. Plug in the next calculators."};
constexpr WindowText kWaveFailed{
    10324, "Wave %1 failed (%2). Put the calculators it did not update back into update mode to "
           "try them again, and plug in the next ones."};
// Followed by the reason.
constexpr WindowText kWaveRefused{
    10325, "Wave %1 was refused and nothing was written. Put this right, then plug in a "
           "calculator to try again:"};
constexpr WindowText kDescribeStationButton{
    10326, "Closes the station while it waits; during the countdown, starts the wave at once"};

} // namespace WindowTexts

// What to do about a transfer's or the check's result code, as a hint for the user; {0, nullptr}
// for success.
WindowText failureHint(int result);

// The text a problem of the folder or the set is worded with; {0, nullptr} for none.
WindowText problemText(ProblemText text);

// The ids of every text above, for the check that each language ships them.
const WindowText* windowTexts(int* count);
