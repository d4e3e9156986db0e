#pragma once

#include <QStringView>

// The lines of a file that a person edits (the channel map, the aliases): LF or CR LF ends a line,
// a byte-order mark is dropped, blank lines and lines starting with "#" are left out. Calls
// `take(lineNumber, line)` for each line left, counting from 1 over all lines.
template <typename Take> void ForEachEditedLine(QStringView text, Take take) {
    int lineNumber = 0;
    for (QStringView line : text.tokenize(u'\n')) {
        ++lineNumber;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.startsWith(u'\xFEFF'))
            line = line.sliced(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
            continue;
        take(lineNumber, line);
    }
}
