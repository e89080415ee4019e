// The documents made from the option table at build time: the manual page's
// OPTIONS entries and the bash completion.
#pragma once

#include <QByteArray>

namespace kestrune {

// The OPTIONS section's entries in man(7) markup: for each option a .TP, its
// tag line (".BR \-o ", " \-\-output =\fIPATH\fR") and its body.
QByteArray ManualOptions();

// A bash completion script for kestrune-text: option names after a dash, the
// choices of an option that takes one of a few words, files or folders for
// options that take them, PDF files and folders otherwise.
QByteArray BashCompletion();

}  // namespace kestrune
