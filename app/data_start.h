#pragma once

#include <QString>

// The data folder at start-up, before the tables are opened.

// When the folder's jhb.DB is a Paradox table, asks whether to convert it; a Paradox table whose structure is damaged
// is refused at once with AppError, before anything is asked, moved or written. On OK the Paradox files are moved, as
// they are, into the folder's paradox/ subfolder, converted into new data files, and an account of what was read and
// skipped is shown (and kept in paradox/). On Cancel, or when the conversion fails, throws AppError for the start-up
// failure, with the files as they were.
void convertParadoxFolder(const QString &folder);

// The start-up error's message, followed, when the data folder or one of its table files is missing, by one sentence
// that names what to do.
QString withDataAdvice(const QString &message, const QString &folder);
