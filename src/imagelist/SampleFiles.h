#pragma once

#include <QString>

#include <functional>

class Dialogs;
class FolderScan;
class ImageList;
class SettingsStore;

// The sample pictures that ship with the program, in the folder Samples beside it. Which files
// count as samples is recorded once, at the first start that finds any, in the setting
// "Snapshot", scrambled; "Load Sample/Example Files" adds the recorded ones that still exist.

// The samples folder: "Samples" beside the executable; for an installed program, whose
// executable sits in bin, share/tonvaler/Samples beside bin when the first is not there.
QString SamplesFolder(const QString& programFolder);

// Records the openable files of the samples folder, in name order, as their full paths joined
// with "|". Raises RuntimeError when the store cannot be written.
void RecordSamples(SettingsStore& settings, FolderScan& scan, const QString& samplesFolder,
                   const std::function<bool()>& yield);

// Whether start-up records the samples: when the record is empty, and when none of its files lie
// in `samplesFolder`, so that a record made by another copy of the program (the build folder and
// an installed copy, or a copy since moved) gives way to this copy's own samples. A record that
// names at least one file of this folder, present or not, is kept as it is.
bool SampleRecordWanted(SettingsStore& settings, const QString& samplesFolder,
                        const std::function<bool()>& yield);

// Adds the recorded samples that exist and are not listed yet (exact text), then asks whether
// to open the samples folder, and opens it on Yes.
void LoadSamples(ImageList& list, SettingsStore& settings, Dialogs& dialogs,
                 const QString& samplesFolder, const std::function<bool()>& yield);

// The record's scrambling: each byte of the text's UTF-8 form shifted by the key's letter in
// turn, within 1 to 255, so that any path survives and the stored text has as many characters
// as the plain form has bytes. `yield` runs once a character, so a long record never holds up
// the window.
inline constexpr char kSampleKey[] = "vlqtdarx";
QString ScrambleText(const QString& text, const char* key, const std::function<bool()>& yield);
QString UnscrambleText(const QString& text, const char* key, const std::function<bool()>& yield);
