#include "cli/OptionDocs.h"

#include <QStringList>

#include "cli/OptionTable.h"

namespace kestrune {

namespace {

// A name with each minus sign escaped, as man(7) wants for options.
QByteArray Escaped(const QByteArray& Text) { return QByteArray(Text).replace("-", "\\-"); }

// ".BR \-o ", " \-\-output =\fIPATH\fR": the names in bold, the value in italics
// (a choice of words in bold, "lf|crlf").
QByteArray TagLine(const TOptionEntry& Entry) {
    QByteArrayList names;
    if (*Entry.Short) names << Escaped(QByteArray("-") + Entry.Short);
    names << Escaped(QByteArray("--") + Entry.Long);
    QByteArray value;
    if (*Entry.Value) {
        const QByteArray name(Entry.Value);
        value = name.contains('|') ? "=\\fB" + name.split('|').join("\\fR|\\fB") + "\\fR" : "=\\fI" + name + "\\fR";
    }
    if (names.size() == 1 && value.isEmpty()) return ".B " + names[0];
    return ".BR " + names.join(" \", \" ") + (value.isEmpty() ? QByteArray() : " " + value);
}

// The words of a shell list: "-o --output --password ...".
QByteArray Words(const QByteArrayList& Items) { return Items.join(' '); }

}  // namespace

QByteArray ManualOptions() {
    QByteArray out;
    for (const TOptionEntry& entry : OptionTable()) out += ".TP\n" + TagLine(entry) + '\n' + entry.Manual + '\n';
    return out;
}

QByteArray BashCompletion() {
    QByteArrayList all, files, folders, values;
    QByteArray choices;
    for (const TOptionEntry& entry : OptionTable()) {
        QByteArrayList names;
        if (*entry.Short) names << QByteArray("-") + entry.Short;
        names << QByteArray("--") + entry.Long;
        all += names;
        switch (entry.Kind) {
        case TValueKind::None: break;
        case TValueKind::File: files += names; break;
        case TValueKind::Folder: folders += names; break;
        case TValueKind::Number:
        case TValueKind::Text: values += names; break;
        case TValueKind::Choice:
            choices += "        " + names.join('|') + ")\n            COMPREPLY=($(compgen -W \"" + entry.Choices +
                       "\" -- \"$cur\"))\n            return ;;\n";
            break;
        }
    }
    return "# bash completion for kestrune-text, made from its option table at build time.\n"
           "_kestrune_text() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
           "    COMPREPLY=()\n"
           "    case \"$prev\" in\n" +
           choices +
           "        " + files.join('|') + ")\n            COMPREPLY=($(compgen -f -- \"$cur\"))\n            return ;;\n"
           "        " + folders.join('|') + ")\n            COMPREPLY=($(compgen -d -- \"$cur\"))\n            return ;;\n"
           "        " + values.join('|') + ")\n            return ;;\n"
           "    esac\n"
           "    if [[ \"$cur\" == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" + Words(all) + "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    COMPREPLY=($(compgen -f -X '!*.[pP][dD][fF]' -- \"$cur\") $(compgen -d -- \"$cur\"))\n"
           "}\n"
           "complete -o filenames -F _kestrune_text kestrune-text\n";
}

}  // namespace kestrune
