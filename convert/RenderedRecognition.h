// The page recognition of the programs that render: a page's pixels (its
// scan, or the page rendered by the engine) read by Tesseract through the
// recognizer module (convert/LoadedRecognizer.h). Links Qt's image classes.
#pragma once

namespace kestrune {

// Makes this process's page readers recognise pages this way
// (SetPageRecognitionMaker): the window, the recognition worker and the tests
// call it before any page is read.
void InstallPageRecognition();

}  // namespace kestrune
