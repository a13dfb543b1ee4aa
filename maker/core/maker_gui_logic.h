// The decisions of the maker's windows that need no window: what the controls show, how a
// checker name is completed, which texts the boxes carry, and the build that the progress
// dialog runs. The Win32 layer only moves texts between these and its controls.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "build_run.h"
#include "make_options.h"
#include "maker_platform.h"

// A memo's text from a list of lines: every line followed by CR LF, so that a list with
// empty lines, an empty last line included, comes back whole from LinesFromMemoText.
std::string MemoTextFromLines(const std::vector<std::string>& lines);
// The lines of a memo's text: split at CR LF, lone CR or lone LF; a final line end does
// not start another line. Lines wrapped only on screen are one line here.
std::vector<std::string> LinesFromMemoText(const std::string& text);

// The usage text of the main window, one entry per line.
std::vector<std::string> UsageLines();

// The box text for a folder field that names no existing folder; the text is used as
// entered, whatever its length.
std::string TargetNotFoundText(const std::string& target);
// The box texts for a settings file that cannot be read or written; `path` may be empty
// when the file's place itself could not be found.
std::string SettingsReadFailedText(const std::string& path);
std::string SettingsWriteFailedText(const std::string& path);

// The folder that items dropped onto the main window put into the folder field, as if it had
// been chosen with the browse button: the first of them that is an existing folder. False
// when none is one (files only, or nothing), and the field keeps its text.
bool FolderFromDrop(const std::vector<std::string>& items, Platform& platform, std::string* folder);

// True when the last four bytes of the name (the whole name when shorter), lower-cased,
// are not ".exe". Only ASCII letters can form ".exe", and a dot is never the second byte
// of a double-byte character, so lower-casing ASCII letters decides as the locale would.
bool NeedsExeEnding(const std::string& name);
// The name an accepted advanced dialog keeps: an empty name becomes the standard name
// (`*wasEmpty` tells the caller to say so), then ".exe" is appended when it is missing.
std::string CompleteCheckerName(const std::string& name, bool* wasEmpty);

// The four values that live in the advanced dialog's controls.
struct AdvancedValues {
  std::string checkerName;
  std::vector<std::string> folderLines;
  std::vector<std::string> noFileLines;
  std::vector<std::string> brokenFileLines;
};
// The values the controls get from the store, and the store's copy of the controls.
AdvancedValues AdvancedValuesOf(const TMakeOptions& options);
void StoreAdvancedValues(const AdvancedValues& values, TMakeOptions* options);
// The standard values that the dialog's default button puts into its controls.
AdvancedValues StandardAdvancedValues();

// One whole build from the store's values, as the progress dialog runs it: the messages
// joined, then RunBuild step by step.
MakeOutcome RunCheckerBuild(TMakeOptions& options, MakerPlatform& platform, MessageSink& messages,
                      const unsigned char* image, size_t imageSize, BuildMonitor& monitor);
