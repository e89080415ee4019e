// The PDF files below a folder, as both programs take a folder: every file
// whose name ends in ".pdf" in any case, searched recursively, in the order
// of their paths.
#pragma once

#include <QList>
#include <QString>

namespace kestrune {

// One entry found below a folder: a PDF file, or a subfolder that could not
// be read (Refusal says why). Paths are names as DecodeName makes them
// (FileNames.h), so bytes that are not UTF-8 survive.
struct TFolderEntry {
    QString Path;      // the folder's path joined with Relative
    QString Relative;  // below the folder; empty for the folder itself
    QString Refusal;   // empty for a PDF file
};

// The PDF files below Folder and the subfolders that could not be read, in
// the order of their paths. Hidden names are included unless SkipHidden;
// symbolic links to folders are not followed, and a link named *.pdf is
// listed whatever it leads to (its conversion fails with the reason). A
// folder that cannot be opened gives one entry for itself.
QList<TFolderEntry> PdfFilesBelow(const QString& Folder, bool SkipHidden);

// Whether Path (a name from DecodeName) is a folder, following links.
bool IsFolder(const QString& Path);

}  // namespace kestrune
